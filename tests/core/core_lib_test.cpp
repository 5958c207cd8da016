// The library core: handles, LastError, the mapping of pipe notifications to host events, the
// packet buffers and compression, on a real session manager (real sockets and owner-thread queue).
#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#if !defined(_WIN32)
#include <poll.h>
#endif
#include <stdexcept>
#include <string>
#include <vector>

#include "core/jar.h"
#include "mill/mill.h"
#include "platform/platform.h"
#include "qmsock/qmsock.h"

namespace qm {
namespace {

struct Event {
    std::string name;
    int32_t handle;
    int32_t code;
    friend bool operator==(const Event&, const Event&) = default;
};

std::ostream& operator<<(std::ostream& out, const Event& e) {
    return out << e.name << "(" << e.handle << "," << e.code << ")";
}

// A core with every handler slot recording what it saw.
class CoreLib : public ::testing::Test {
  protected:
    void SetUp() override { FillHandlers(lib); }

    void FillHandlers(CSockLib& target) {
        target.OnSessionOpen = [this](CSockLib&, int32_t h) { events.push_back({"open", h, 0}); };
        target.OnSessionInvoked = [this](CSockLib&, int32_t h) { events.push_back({"invoked", h, 0}); };
        target.OnSessionRejected = [this](CSockLib& l, int32_t h, int32_t c) {
            stateInside = l.GetPeerState(h);
            events.push_back({"rejected", h, c});
        };
        target.OnInvocationRejected = [this](CSockLib&, int32_t h, int32_t c) {
            events.push_back({"invocationRejected", h, c});
        };
        target.OnSessionClosed = [this](CSockLib& l, int32_t h, int32_t c) {
            stateInside = l.GetPeerState(h);
            usernameInside = l.GetUsername(h);
            events.push_back({"closed", h, c});
        };
        target.OnPacketReceived = [this](CSockLib&, int32_t h, int32_t c) {
            events.push_back({"packet", h, c});
        };
        target.OnPacketSent = [this](CSockLib&, int32_t h, int32_t c) { events.push_back({"sent", h, c}); };
    }

    // An inbound pipe in the handshake, as the listener makes it.
    CPipe* InboundPipe() {
        CPipe* pipe = lib.Mill().AddPipe();
        pipe->State = kPipeHandshake;
        pipe->Inbound = true;
        return pipe;
    }

    int32_t Request(CPipe* pipe, bool accept, std::u16string& password) {
        int32_t seen = 0;
        lib.OnSessionRequest = [&](CSockLib& l, int32_t h, const std::u16string& protocol,
                                   const std::u16string& username, std::u16string& pw, bool& ok) {
            seen = h;
            EXPECT_EQ(l.GetPeerState(h), 1);
            EXPECT_EQ(protocol, u"chat");
            EXPECT_EQ(username, u"ann");
            pw = u"expected";
            ok = accept;
        };
        bool ok = false;
        lib.Mill().OnSessionRequest(pipe, u"chat", u"ann", password, ok);
        EXPECT_EQ(ok, accept);
        return seen;
    }

    void PostUserSack(CPipe* pipe, int32_t wireCode, TJar body) {
        auto sack = std::make_unique<TSack>();
        sack->Code = wireCode;
        sack->Body = std::move(body);
        ASSERT_TRUE(lib.Mill().PostSackMessage(pipe, std::move(sack)));
    }

    CSockLib lib;
    std::vector<Event> events;
    int32_t stateInside = -1;
    std::u16string usernameInside;
};

TEST_F(CoreLib, BadHandlesGiveEmptyAnswersAndKeepLastError) {
    CSockLib bare;
    EXPECT_EQ(bare.OpenSession(u"127.0.0.1", 1, u"p", u"u", u"w"), 0);
    ASSERT_EQ(bare.LastError(), 5);
    const int32_t pending = lib.OpenSession(u"127.0.0.1", 9, u"p", u"u", u"w");
    ASSERT_NE(pending, 0);
    for (int32_t h : {0, -1, 12345, INT32_MIN, INT32_MAX, pending + 1}) {
        EXPECT_FALSE(bare.CloseSession(h));
        EXPECT_EQ(bare.GetPeerState(h), 0);
        EXPECT_FALSE(bare.SendPacket(h, 1, true));
        EXPECT_EQ(bare.GetOkayCount(h, 0), 0);
        EXPECT_EQ(bare.GetOkaySize(h, 0), 0);
        EXPECT_EQ(bare.GetFreeRoom(h), 0);
        EXPECT_EQ(bare.GetMoniker(h), 0);
        EXPECT_FALSE(bare.SetMoniker(h, 3));
        EXPECT_EQ(bare.GetRemoteAddress(h), u"");
        EXPECT_EQ(bare.GetRemotePort(h), 0);
        EXPECT_EQ(bare.GetUsername(h), u"");
        EXPECT_FALSE(bare.ServerConnection(h));
        EXPECT_FALSE(bare.TextToBuffer(h, u"x"));
        EXPECT_FALSE(bare.IntegerToBuffer(h, 1));
        EXPECT_FALSE(bare.Int64ToBuffer(h, 1));
        EXPECT_FALSE(bare.BooleanToBuffer(h, true));
        EXPECT_EQ(bare.TextFromBuffer(h), u"");
        EXPECT_EQ(bare.IntegerFromBuffer(h), 0);
        EXPECT_EQ(bare.Int64FromBuffer(h), 0);
        EXPECT_FALSE(bare.BooleanFromBuffer(h));
        std::vector<uint8_t> bytes{1};
        EXPECT_FALSE(bare.BytesFromBuffer(h, bytes));
        EXPECT_TRUE(bytes.empty());
        EXPECT_EQ(bare.LastError(), 5);
    }
    // A handle of one core names nothing in another.
    EXPECT_EQ(lib.GetPeerState(pending), 1);
}

TEST_F(CoreLib, OpenSessionSetsLastErrorOnlyOnFailure) {
    CSockLib half;
    half.OnSessionOpen = [](CSockLib&, int32_t) {};
    EXPECT_EQ(half.OpenSession(u"127.0.0.1", 1, u"p", u"u", u"w"), 0);
    EXPECT_EQ(half.LastError(), 5);

    // Host values of any kind give a code, never a fault.
    struct Case {
        std::u16string host;
        int32_t port;
        int32_t error;
    } cases[] = {
        {u"127.0.0.1", 70000, 10022},          {u"127.0.0.1", -1, 10022},
        {std::u16string(100000, u'h'), 80, 2}, {u"0.0.0.0", 80, 2},
        {u"no-such-host.invalid", 80, 11001},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(lib.OpenSession(c.host, c.port, u"p", u"u", u"w"), 0);
        EXPECT_EQ(lib.LastError(), c.error) << c.port;
    }

    CSockLib server;
    ASSERT_TRUE(server.StartListening(0));
    const int32_t port = server.ListeningPort();
    const int32_t h = lib.OpenSession(u"127.0.0.1", port, u"proto", u"ann", u"pw");
    ASSERT_NE(h, 0);
    EXPECT_EQ(lib.LastError(), 11001) << "success leaves the old code";
    EXPECT_EQ(lib.GetPeerState(h), 1);
    EXPECT_EQ(lib.GetRemoteAddress(h), u"127.0.0.1");
    EXPECT_EQ(lib.GetRemotePort(h), port);
    EXPECT_EQ(lib.GetUsername(h), u"ann");
    EXPECT_FALSE(lib.ServerConnection(h));
    EXPECT_TRUE(lib.SetMoniker(h, -77));
    EXPECT_EQ(lib.GetMoniker(h), -77);
    const int32_t second = lib.OpenSession(u"127.0.0.1", port, u"proto", u"ann", u"pw");
    EXPECT_NE(second, 0);
    EXPECT_NE(second, h);
}

TEST_F(CoreLib, CloseSessionRaisesExactlyOneClosedEvent) {
    CSockLib server;
    ASSERT_TRUE(server.StartListening(0));
    const int32_t h = lib.OpenSession(u"127.0.0.1", server.ListeningPort(), u"p", u"ann", u"w");
    ASSERT_NE(h, 0);
    EXPECT_TRUE(lib.CloseSession(h));
    EXPECT_EQ(events, (std::vector<Event>{{"closed", h, 1}}));
    EXPECT_EQ(stateInside, 0);
    EXPECT_EQ(usernameInside, u"ann") << "the pipe's details are readable inside the event";
    EXPECT_FALSE(lib.CloseSession(h));
    EXPECT_EQ(lib.GetPeerState(h), 0);
    platform::RunMessagesFor(100);
    EXPECT_EQ(events.size(), 1u);
}

TEST_F(CoreLib, RejectedSessionIsGoneAfterItsEvent) {
    const int32_t h = lib.OpenSession(u"127.0.0.1", 9, u"p", u"u", u"w");
    ASSERT_NE(h, 0);
    lib.Mill().Pipes.back()->FinishSession(11);
    EXPECT_EQ(events, (std::vector<Event>{{"rejected", h, 11}}));
    EXPECT_EQ(stateInside, 0);
    EXPECT_FALSE(lib.CloseSession(h));
}

TEST_F(CoreLib, HandlerMayCloseItsOwnSessionInsideAnEvent) {
    const int32_t h = lib.OpenSession(u"127.0.0.1", 9, u"p", u"u", u"w");
    ASSERT_NE(h, 0);
    lib.OnSessionOpen = [&](CSockLib& l, int32_t handle) {
        events.push_back({"open", handle, 0});
        EXPECT_EQ(l.GetPeerState(handle), 2);
        EXPECT_TRUE(l.CloseSession(handle));
    };
    CPipe* pipe = lib.Mill().Pipes.back().get();
    pipe->State = kPipeEstablished;
    lib.Mill().OnSessionOpen(pipe);
    EXPECT_EQ(events, (std::vector<Event>{{"open", h, 0}, {"closed", h, 1}}));
    EXPECT_EQ(pipe->State, kPipeFinishing);
}

TEST_F(CoreLib, HandlerMayEmptyItsOwnSlotWhileItRuns) {
    const int32_t h = lib.OpenSession(u"127.0.0.1", 9, u"p", u"u", u"w");
    ASSERT_NE(h, 0);
    std::string captured(64, 'c');  // state owned by the callable, read after the slot is emptied
    lib.OnSessionRejected = [&, captured](CSockLib& l, int32_t handle, int32_t code) {
        l.OnSessionRejected = nullptr;
        events.push_back({captured.substr(0, 1), handle, code});
    };
    lib.Mill().Pipes.back()->FinishSession(11);
    EXPECT_EQ(events, (std::vector<Event>{{"c", h, 11}}));
}

TEST_F(CoreLib, UnacceptedRequestLeavesNothingBehind) {
    CPipe* pipe = InboundPipe();
    std::u16string password = u"given";
    bool accept = false;
    lib.Mill().OnSessionRequest(pipe, u"chat", u"ann", password, accept);  // no host slot: nothing
    EXPECT_EQ(lib.Mill().GetMoniker(pipe), 0);

    const int32_t h = Request(pipe, false, password);
    ASSERT_NE(h, 0);
    EXPECT_EQ(lib.GetPeerState(h), 0);
    EXPECT_FALSE(lib.CloseSession(h));
    pipe->FinishSession(4);
    EXPECT_TRUE(events.empty());
}

TEST_F(CoreLib, RepeatedRequestOnOnePipeKeepsOneHandle) {
    // A peer that sends its session request again (while the password proof is pending) must not
    // leave a second record behind: one connection, one handle, and it ends with the connection.
    CPipe* pipe = InboundPipe();
    std::u16string password;
    const int32_t first = Request(pipe, true, password);
    ASSERT_NE(first, 0);
    EXPECT_EQ(Request(pipe, true, password), first);
    EXPECT_EQ(Request(pipe, false, password), first);
    EXPECT_EQ(lib.GetPeerState(first), 1) << "the host hears of a refusal it gave to a known session";
    pipe->FinishSession(4);
    EXPECT_EQ(events, (std::vector<Event>{{"invocationRejected", first, 4}}));
    EXPECT_EQ(lib.GetPeerState(first), 0);
    EXPECT_FALSE(lib.CloseSession(first));
}

TEST_F(CoreLib, AcceptedSessionDeliversPacketsAndCloses) {
    CPipe* pipe = InboundPipe();
    std::u16string password = u"given";
    const int32_t h = Request(pipe, true, password);
    ASSERT_NE(h, 0);
    EXPECT_EQ(password, u"expected") << "the host's password goes back to the pipe";
    EXPECT_EQ(lib.GetPeerState(h), 1);
    EXPECT_TRUE(lib.ServerConnection(h));

    // A packet before the session is open is not delivered.
    pipe->State = kPipeEstablished;
    TJar early;
    JarAddInteger(early, 99);
    PostUserSack(pipe, 1004, early);
    platform::PumpMessages();
    EXPECT_TRUE(events.empty());

    lib.Mill().OnSessionInvoked(pipe);
    EXPECT_EQ(lib.GetPeerState(h), 2);

    // Two packets before the host reads: the first one's unread values are gone.
    std::u16string readInside;
    lib.OnPacketReceived = [&](CSockLib& l, int32_t handle, int32_t code) {
        events.push_back({"packet", handle, code});
        if (code == 8) readInside = l.TextFromBuffer(handle);
    };
    TJar one, two;
    JarAddWideText(one, u"one");
    JarAddInteger(one, 5);
    JarAddWideText(two, u"two");
    JarAddInt64(two, -3);
    JarAddBoolean(two, true);
    JarAddJar(two, TJar{1, 2, 3});
    PostUserSack(pipe, 1007, one);
    PostUserSack(pipe, 1008, two);
    EXPECT_TRUE(platform::RunMessagesUntil([&] { return events.size() >= 3; }, 2000));
    EXPECT_EQ(readInside, u"two");
    EXPECT_EQ(lib.Int64FromBuffer(h), -3);
    EXPECT_TRUE(lib.BooleanFromBuffer(h));
    std::vector<uint8_t> bytes;
    EXPECT_TRUE(lib.BytesFromBuffer(h, bytes));
    EXPECT_EQ(bytes, (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_TRUE(lib.BytesFromBuffer(h, bytes));
    EXPECT_TRUE(bytes.empty()) << "an exhausted buffer gives an empty block";
    EXPECT_EQ(lib.IntegerFromBuffer(h), 0);

    // Sending on the open session queues the packet and its okay record.
    EXPECT_TRUE(lib.TextToBuffer(h, u"hi"));
    EXPECT_TRUE(lib.SendPacket(h, 3, true));
    EXPECT_EQ(lib.GetOkayCount(h, 3), 1);
    EXPECT_EQ(lib.GetOkaySize(h, 0), 4 + 4);
    ASSERT_EQ(pipe->SendQueue.size(), 1u);
    EXPECT_EQ(pipe->SendQueue[0]->Code, 1003);
    lib.Mill().OnPacketSent(pipe, 3);

    pipe->FinishSession(0);
    EXPECT_EQ(events,
              (std::vector<Event>{
                  {"invoked", h, 0}, {"packet", h, 7}, {"packet", h, 8}, {"sent", h, 3}, {"closed", h, 0}}));
    EXPECT_EQ(stateInside, 0);
    EXPECT_FALSE(lib.CloseSession(h));
}

TEST_F(CoreLib, SendPacketOnPendingSessionKeepsTheBuffer) {
    const int32_t h = lib.OpenSession(u"127.0.0.1", 9, u"p", u"u", u"w");
    ASSERT_NE(h, 0);
    EXPECT_TRUE(lib.IntegerToBuffer(h, 42));
    EXPECT_TRUE(lib.SendPacket(h, 1, true));
    const CPipe& pipe = *lib.Mill().Pipes.back();
    EXPECT_TRUE(pipe.SendQueue.empty());
    EXPECT_EQ(pipe.BuildJar.Length(), 4);
    EXPECT_EQ(lib.GetOkayCount(h, 0), 0);
}

TEST_F(CoreLib, EmptyHostSlotsStillMoveTheSessionOn) {
    // A host that leaves an event slot empty is not told, but the session still changes state: an
    // ended session must not linger as a live handle (one record per connection for good), and an
    // established one must deliver its packets.
    struct Case {
        const char* slot;
        uint8_t pipeState;
        bool inbound;
    } cases[] = {
        {"rejected", kPipeConnecting, false},
        {"invocationRejected", kPipeHandshake, true},
        {"closed", kPipeEstablished, true},
    };
    for (const Case& c : cases) {
        CSockLib host;
        FillHandlers(host);
        if (std::string(c.slot) == "rejected") host.OnSessionRejected = nullptr;
        if (std::string(c.slot) == "invocationRejected") host.OnInvocationRejected = nullptr;
        if (std::string(c.slot) == "closed") host.OnSessionClosed = nullptr;
        host.OnSessionRequest = [](CSockLib&, int32_t, const std::u16string&, const std::u16string&,
                                   std::u16string&, bool& ok) { ok = true; };
        CPipe* pipe = host.Mill().AddPipe();
        pipe->State = kPipeHandshake;
        pipe->Inbound = c.inbound;
        std::u16string password;
        bool accept = false;
        host.Mill().OnSessionRequest(pipe, u"p", u"u", password, accept);
        const int32_t h = host.Mill().GetMoniker(pipe);
        ASSERT_NE(h, 0) << c.slot;
        pipe->State = c.pipeState;
        pipe->FinishSession(7);
        EXPECT_EQ(host.GetPeerState(h), 0) << c.slot;
        EXPECT_FALSE(host.CloseSession(h)) << c.slot << ": the handle outlived its session";
        EXPECT_FALSE(host.TextToBuffer(h, u"x")) << c.slot;
    }
    EXPECT_TRUE(events.empty());

    // No OnSessionInvoked handler: the session is open all the same and its packets arrive.
    lib.OnSessionInvoked = nullptr;
    CPipe* pipe = InboundPipe();
    std::u16string password;
    const int32_t h = Request(pipe, true, password);
    ASSERT_NE(h, 0);
    lib.Mill().OnSessionInvoked(pipe);
    EXPECT_EQ(lib.GetPeerState(h), 2);
    pipe->State = kPipeEstablished;
    TJar body;
    JarAddInteger(body, 31);
    PostUserSack(pipe, 1002, body);
    EXPECT_TRUE(platform::RunMessagesUntil([&] { return !events.empty(); }, 2000));
    EXPECT_EQ(events, (std::vector<Event>{{"packet", h, 2}}));
    EXPECT_EQ(lib.IntegerFromBuffer(h), 31);

    // Likewise on the opening side without an OnSessionOpen handler.
    const int32_t out = lib.OpenSession(u"127.0.0.1", 9, u"p", u"u", u"w");
    ASSERT_NE(out, 0);
    lib.OnSessionOpen = nullptr;
    CPipe* outPipe = lib.Mill().Pipes.back().get();
    outPipe->State = kPipeEstablished;
    lib.Mill().OnSessionOpen(outPipe);
    EXPECT_EQ(lib.GetPeerState(out), 2);
}

TEST_F(CoreLib, ThrowingHandlersStillEndTheirSession) {
    // A host handler that throws must not leave the record of an ended or refused session behind.
    const int32_t h = lib.OpenSession(u"127.0.0.1", 9, u"p", u"u", u"w");
    ASSERT_NE(h, 0);
    lib.OnSessionRejected = [](CSockLib&, int32_t, int32_t) { throw std::runtime_error("host fault"); };
    lib.Mill().Pipes.back()->FinishSession(11);  // the pipe catches the fault and finishes anyway
    EXPECT_EQ(lib.GetPeerState(h), 0);
    EXPECT_FALSE(lib.CloseSession(h));

    CPipe* pipe = InboundPipe();
    int32_t requested = 0;
    lib.OnSessionRequest = [&](CSockLib&, int32_t handle, const std::u16string&, const std::u16string&,
                               std::u16string&, bool&) {
        requested = handle;
        throw std::runtime_error("host fault");
    };
    std::u16string password;
    bool accept = false;
    EXPECT_THROW(lib.Mill().OnSessionRequest(pipe, u"p", u"u", password, accept), std::runtime_error);
    ASSERT_NE(requested, 0);
    EXPECT_FALSE(lib.CloseSession(requested)) << "an unaccepted request left its record behind";

    // The host's own fault comes back out of its CloseSession call, and the session is gone all the same.
    const int32_t other = lib.OpenSession(u"127.0.0.1", 9, u"p", u"u", u"w");
    ASSERT_NE(other, 0);
    lib.OnSessionClosed = [](CSockLib&, int32_t, int32_t) { throw std::runtime_error("host fault"); };
    EXPECT_THROW(lib.CloseSession(other), std::runtime_error);
    EXPECT_FALSE(lib.CloseSession(other));
}

TEST_F(CoreLib, SettingsGoThroughToTheManager) {
    lib.SetSocksVersion(260);
    EXPECT_EQ(lib.SocksVersion(), 4);
    lib.SetSocksVersion(261);
    EXPECT_EQ(lib.SocksVersion(), 5);
    lib.SetSecurityMode(-9);
    EXPECT_EQ(lib.SecurityMode(), -9);
    lib.SetSocksPort(1080);
    EXPECT_EQ(lib.SocksPort(), 1080);
    lib.SetSocksServer(u"proxy");
    lib.SetSocksUsername(u"su");
    lib.SetSocksPassword(u"sp");
    lib.SetClientAddress(u"127.0.0.1");
    lib.SetServerAddress(u"0.0.0.0");
    EXPECT_EQ(lib.SocksServer() + lib.SocksUsername() + lib.SocksPassword(), u"proxysusp");
    EXPECT_EQ(lib.ClientAddress() + u"|" + lib.ServerAddress(), u"127.0.0.1|0.0.0.0");
    lib.SetFingerprints(u"a, b");
    EXPECT_EQ(lib.Fingerprints(), u"a,b");
    lib.SetPublicKey(u"QUJD");
    EXPECT_EQ(lib.PublicKey(), u"QUJD");
    EXPECT_EQ(lib.Mill().PublicKey, "ABC");
    EXPECT_EQ(lib.LocalIPList(), platform::AnsiToWide(lib.Mill().LocalIPList));
    EXPECT_EQ(lib.LastError(), 0);
    EXPECT_EQ(lib.TakeFingerprint(""), "");
}

TEST_F(CoreLib, DestructionRaisesNoEvents) {
    {
        CSockLib doomed;
        FillHandlers(doomed);
        ASSERT_TRUE(doomed.StartListening(0));
        ASSERT_NE(doomed.OpenSession(u"127.0.0.1", doomed.ListeningPort(), u"p", u"u", u"w"), 0);
        platform::RunMessagesFor(50);
    }
    EXPECT_TRUE(events.empty());
}

#if !defined(_WIN32)
TEST_F(CoreLib, HostPollLoopDrivesThePump) {
    // A host with its own poll loop: the descriptor turns readable when a pump request waits, and
    // PumpMessages runs it.
    const int fd = lib.MessageFd();
    ASSERT_GE(fd, 0);
    const uint64_t before = lib.Mill().PassCount();
    // As a host loop does: wait for the descriptor, dispatch, repeat (bounded).
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (lib.Mill().PassCount() == before && std::chrono::steady_clock::now() < deadline) {
        pollfd entry{fd, POLLIN, 0};
        ASSERT_EQ(poll(&entry, 1, 1000), 1);
        EXPECT_TRUE(entry.revents & POLLIN);
        PumpMessages();
    }
    EXPECT_GT(lib.Mill().PassCount(), before);
}

TEST_F(CoreLib, BytesThroughVariants) {
    const int32_t h = lib.OpenSession(u"127.0.0.1", 9, u"p", u"u", u"w");
    ASSERT_NE(h, 0);
    EXPECT_FALSE(lib.BytesToBuffer(h, TVariant(int32_t{5})));
    EXPECT_EQ(lib.LastError(), 4);
    EXPECT_TRUE(lib.BytesToBuffer(h, TVariant(TByteArray{-3, {7, 8}})));
    EXPECT_EQ(lib.LastError(), 0);
    EXPECT_FALSE(lib.BytesToBuffer(h, TVariant(u"text")));
    EXPECT_EQ(lib.LastError(), 4);
    EXPECT_FALSE(lib.BytesToBuffer(0, TVariant(TByteArray{0, {1}})));
    EXPECT_EQ(lib.LastError(), 0) << "a bad handle with an array resets the code";
    TJar expected;
    JarAddJar(expected, TJar{7, 8});
    EXPECT_EQ(lib.Mill().Pipes.back()->BuildJar, expected);

    const TVariant bad = lib.BytesFromBuffer(0);
    EXPECT_EQ(bad.Type(), kVtI4);
    ASSERT_NE(bad.Get<int32_t>(), nullptr);
    EXPECT_EQ(*bad.Get<int32_t>(), 0);
    const TVariant empty = lib.BytesFromBuffer(h);
    EXPECT_TRUE(empty.IsArray());
    ASSERT_NE(empty.Array(), nullptr);
    EXPECT_TRUE(empty.Array()->bytes.empty());
    EXPECT_EQ(empty.Array()->lowerBound, 0);
}

TEST_F(CoreLib, CompressDataRoundTripsAndRefusesOtherValues) {
    TVariant text(u"not bytes");
    EXPECT_FALSE(lib.CompressData(text));
    EXPECT_EQ(text, TVariant(u"not bytes"));

    std::vector<uint8_t> data;
    for (int i = 0; i < 5000; ++i) data.push_back(static_cast<uint8_t>("abcabcabd"[i % 9]));
    TVariant value(TByteArray{0, data});
    ASSERT_TRUE(lib.CompressData(value));
    ASSERT_NE(value.Array(), nullptr);
    EXPECT_LT(value.Array()->bytes.size(), data.size());
    ASSERT_TRUE(lib.DecompressData(value));
    EXPECT_EQ(value, TVariant(TByteArray{0, data}));

    TVariant garbage(TByteArray{0, {1, 2, 3, 4, 5}});
    EXPECT_FALSE(lib.DecompressData(garbage));
    EXPECT_EQ(garbage, TVariant(TByteArray{0, {1, 2, 3, 4, 5}}));
    EXPECT_EQ(lib.LastError(), 0);
}
#endif

}  // namespace
}  // namespace qm
