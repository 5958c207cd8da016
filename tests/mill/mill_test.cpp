// The session manager on real sockets and the real owner-thread queue: settings, resolver failures,
// the listener, the pump's one-outstanding rule, timers and purge under an injected clock, sack
// delivery, destruction with queued messages, and the diagnostic log.
#include "mill/mill.h"

#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "crypto/base64.h"
#include "platform/platform.h"

namespace qm {
namespace {

// A clock the test moves by hand; removed again when the fixture ends.
class ManualClock {
  public:
    ManualClock() {
        platform::SetTickSourceForTesting([this] { return now_; });
    }
    ~ManualClock() { platform::SetTickSourceForTesting(nullptr); }
    void Advance(uint32_t ms) { now_ += ms; }
    uint32_t Now() const { return now_; }

  private:
    uint32_t now_ = 5000;
};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void SetLogVariable(const std::string& value) {
#if defined(_WIN32)
    _putenv_s(kLogPathVariable, value.c_str());
#else
    if (value.empty())
        unsetenv(kLogPathVariable);
    else
        setenv(kLogPathVariable, value.c_str(), 1);
#endif
}

std::string TempPath(const char* name) {
    return ::testing::TempDir() + name;
}

// A port on which nothing listens: bound once by the system, then released.
int FreePort() {
    platform::Socket probe = platform::Socket::CreateTcp();
    uint32_t address = 0;
    int port = 0;
    if (!probe.Bind(platform::InetAddr("127.0.0.1"), 0) || !probe.SockName(address, port)) return 0;
    return port;
}

TEST(MillSettings, ReadBackWhatWasWritten) {
    CMill mill;
    EXPECT_EQ(mill.GetSocksVersion(), 4);
    mill.SetSocksVersion(5);
    EXPECT_EQ(mill.GetSocksVersion(), 5);
    mill.SetSocksVersion(260);
    EXPECT_EQ(mill.GetSocksVersion(), 4);
    mill.SetSocksVersion(-1);
    EXPECT_EQ(mill.GetSocksVersion(), 255);

    // Key properties are Base64 of the raw bytes kept inside.
    mill.SetPublicKey(u"AAEC/w==");
    EXPECT_EQ(mill.PublicKey, std::string("\x00\x01\x02\xff", 4));
    EXPECT_EQ(mill.GetPublicKey(), u"AAEC/w==");
    mill.SetPrivateKey(u"");
    EXPECT_EQ(mill.GetPrivateKey(), u"");
    mill.SetSecretKey(u"s\u00e9cret");
    EXPECT_EQ(mill.GetSecretKey(), u"s\u00e9cret");

    mill.SetFingerprints(u"AbC==, dEf==  \"g h\"");
    EXPECT_EQ(mill.Fingerprints, (std::vector<std::string>{"AbC==", "dEf==", "g h"}));
    EXPECT_EQ(mill.GetFingerprints(), u"AbC==,dEf==,\"g h\"");
    mill.SetFingerprints(u"");
    EXPECT_TRUE(mill.Fingerprints.empty());
    EXPECT_TRUE(mill.IsTrustedKey("any key at all"));

    // A listed fingerprint admits its key whatever the letter case of the list.
    const std::string key("\x01\x02\x03 raw modulus bytes", 21);
    const std::string fingerprint = mill.TakeFingerprint(Base64Encode(key));
    ASSERT_EQ(fingerprint.size(), 24u);
    std::string lowered;
    for (char c : fingerprint)
        lowered.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    ASSERT_NE(lowered, fingerprint);
    mill.Fingerprints = {"unrelated==", lowered};
    EXPECT_TRUE(mill.IsTrustedKey(key));
    EXPECT_FALSE(mill.IsTrustedKey(key + "x"));
}

TEST(MillSettings, KnowsTheMachineAddresses) {
    CMill mill;
    EXPECT_FALSE(mill.LoopbackAddress.empty());
    EXPECT_TRUE(CMill::IsDottedQuad(mill.LoopbackAddress)) << mill.LoopbackAddress;
    // The list is the comma text of the addresses, first address first.
    EXPECT_EQ(mill.LocalIPList.substr(0, mill.FirstLocalAddress().size()), mill.FirstLocalAddress());
    for (const std::string& address : mill.LocalAddresses)
        EXPECT_TRUE(CMill::IsDottedQuad(address)) << address;
}

TEST(MillResolve, FailuresGiveTheirCodes) {
    CMill mill;
    uint32_t address = 1;
    EXPECT_TRUE(mill.ResolveHost(" 127.0.0.1 ", address));
    EXPECT_EQ(address, platform::InetAddr("127.0.0.1"));
    EXPECT_FALSE(mill.ResolveHost("", address));
    EXPECT_EQ(address, 0u);
    EXPECT_FALSE(mill.ResolveHost(std::string(257, 'a'), address));
    EXPECT_FALSE(mill.ResolveHost(std::string(100000, 'b'), address));

    struct Case {
        std::u16string host;
        int32_t error;
    } cases[] = {
        {u"no-such-host.invalid", 11001},
        {u"0.0.0.0", 2},  // the address 0 counts as unresolved, and no socket call reported anything
        {std::u16string(257, u'x'), 2},
        {u"", 2},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(mill.OpenSession(c.host, 80, u"p", u"u", u"w"), nullptr);
        EXPECT_EQ(mill.LastError, c.error);
    }
    // Failed set-ups stay in the list, finished, until the pump removes them.
    ASSERT_EQ(mill.Pipes.size(), 4u);
    for (const auto& pipe : mill.Pipes) EXPECT_EQ(pipe->State, kPipeFinishing);

    mill.SocksServer = u"no-such-proxy.invalid";
    EXPECT_EQ(mill.OpenSession(u"127.0.0.1", 80, u"p", u"u", u"w"), nullptr);
    EXPECT_EQ(mill.LastError, 21);
}

TEST(MillListen, PortInUseAndOutOfRange) {
    CMill first;
    ASSERT_TRUE(first.StartListening(0));
    EXPECT_TRUE(first.IsListening());
    const int32_t port = first.ListeningPort();
    ASSERT_NE(port, 0);

    CMill second;
    EXPECT_FALSE(second.StartListening(port));
    EXPECT_EQ(second.LastError, 10048);
    EXPECT_FALSE(second.IsListening());
    EXPECT_EQ(second.ListeningPort(), 0);

    for (int32_t bad : {-1, 65536, INT32_MAX, INT32_MIN}) {
        EXPECT_FALSE(second.StartListening(bad)) << bad;
        EXPECT_NE(second.LastError, 0);
    }
    second.ServerAddress = u"192.0.2.1";  // TEST-NET-1: not an address of this machine
    EXPECT_FALSE(second.StartListening(0));
    EXPECT_EQ(second.LastError, 10049);

    // A new StartListening replaces the listener; StopListening closes it and frees the port.
    ASSERT_TRUE(first.StartListening(0));
    first.StopListening();
    EXPECT_EQ(first.LastError, 0);
    EXPECT_FALSE(first.IsListening());
    second.ServerAddress.clear();
    EXPECT_TRUE(second.StartListening(port));
}

TEST(MillPump, NeverMoreThanOneRequestOutstanding) {
    CMill mill;
    // Let the worker thread run several intervals while nobody dispatches.
    platform::SleepMs(80);
    EXPECT_TRUE(mill.PumpPending.load());
    platform::PumpMessages();
    EXPECT_EQ(mill.PassCount(), 1u);
    EXPECT_FALSE(mill.PumpPending.load());
    // With the loop running, passes follow every interval.
    EXPECT_TRUE(platform::RunMessagesUntil([&] { return mill.PassCount() >= 4; }, 2000));
}

TEST(MillPump, DestructionWaitsAboutOneIntervalForTheWorker) {
    auto mill = std::make_unique<CMill>();
    platform::SleepMs(25);
    const auto start = std::chrono::steady_clock::now();
    mill.reset();
    const auto waited = std::chrono::steady_clock::now() - start;
    // One 10 ms interval plus scheduling slack on a busy machine; a worker that slept on or missed
    // the stop request would take far longer.
    EXPECT_LT(waited, std::chrono::milliseconds(500));
}

TEST(MillPump, AcceptsOnlyWithARequestHandlerAndOnePerPass) {
    CMill mill;
    ASSERT_TRUE(mill.StartListening(0));
    const int port = mill.ListeningPort();
    std::vector<platform::Socket> clients;
    for (int i = 0; i < 3; ++i) {
        clients.push_back(platform::Socket::CreateTcp());
        clients.back().Connect(platform::InetAddr("127.0.0.1"), port);
    }
    // Wait (bounded) until the connections wait in the backlog.
    for (int i = 0; i < 200 && !mill.Listener->Socket.IsReadable(); ++i) platform::SleepMs(5);
    ASSERT_TRUE(mill.Listener->Socket.IsReadable());

    mill.PumpUp();
    EXPECT_TRUE(mill.Pipes.empty()) << "accepted without a session-request handler";

    mill.OnSessionRequest = [](CPipe*, const std::u16string&, const std::u16string&, std::u16string&, bool&) {
    };
    for (size_t n = 1; n <= 3; ++n) {
        mill.PumpUp();
        ASSERT_EQ(mill.Pipes.size(), n);
        const CPipe& pipe = *mill.Pipes.back();
        EXPECT_EQ(pipe.State, kPipeHandshake);
        EXPECT_TRUE(pipe.Inbound);
        EXPECT_EQ(pipe.SendWindow, kInitialWindow);
        EXPECT_EQ(pipe.RecvWindow, kInitialWindow);
        EXPECT_NE(pipe.RemotePort, 0);
        EXPECT_EQ(pipe.RemoteAddress, mill.FirstLocalAddress())
            << "a loopback peer shows the machine address";
    }
    // The peer closing its end finishes the inbound pipe with code 0.
    std::vector<int32_t> rejected;
    mill.OnInvocationRejected = [&](CPipe*, int32_t code) { rejected.push_back(code); };
    clients[0].Close();
    clients[1].Close();
    clients[2].Close();
    EXPECT_TRUE(platform::RunMessagesUntil([&] { return rejected.size() == 3; }, 3000));
    EXPECT_EQ(rejected, (std::vector<int32_t>{0, 0, 0}));
}

TEST(MillPump, RefusedConnectionIsRejectedWithEleven) {
    CMill mill;
    std::vector<int32_t> rejected;
    mill.OnSessionRejected = [&](CPipe*, int32_t code) { rejected.push_back(code); };
    const int port = FreePort();
    ASSERT_NE(port, 0);
    CPipe* pipe = mill.OpenSession(u"127.0.0.1", port, u"p", u"u", u"w");
    if (pipe == nullptr) {
        // The system may refuse a loopback connection at once instead of reporting it later.
        EXPECT_EQ(mill.LastError, 10061);
        return;
    }
    EXPECT_TRUE(platform::RunMessagesUntil([&] { return !rejected.empty(); }, 5000));
    EXPECT_EQ(rejected, std::vector<int32_t>{11});
}

TEST(MillPump, EstablishLimitShutdownAndPurgeFollowTheClock) {
    ManualClock clock;
    CMill listener;
    ASSERT_TRUE(listener.StartListening(0));
    CMill mill;
    std::vector<int32_t> rejected;
    mill.OnSessionRejected = [&](CPipe*, int32_t code) { rejected.push_back(code); };
    CPipe* pipe = mill.OpenSession(u"127.0.0.1", listener.ListeningPort(), u"p", u"u", u"w");
    ASSERT_NE(pipe, nullptr);
    EXPECT_EQ(pipe->State, kPipeConnecting);

    clock.Advance(29999);
    mill.PumpUp();
    EXPECT_TRUE(rejected.empty());
    clock.Advance(1);
    mill.PumpUp();
    EXPECT_EQ(rejected, std::vector<int32_t>{12});
    EXPECT_EQ(pipe->State, kPipeFinishing);

    mill.PumpUp();  // nothing queued: shut down on the next pass
    EXPECT_EQ(pipe->State, kPipeShutDown);
    clock.Advance(55);
    mill.PumpUp();
    EXPECT_EQ(mill.GetPipe(pipe), pipe) << "removed before 56 ms had passed";
    clock.Advance(1);
    mill.PumpUp();
    EXPECT_EQ(mill.GetPipe(pipe), nullptr);
    EXPECT_TRUE(mill.Pipes.empty());
    EXPECT_EQ(rejected.size(), 1u);
}

TEST(MillPump, QueuedSacksHoldTheShutdownForTheGrace) {
    ManualClock clock;
    CMill mill;
    CPipe* pipe = mill.AddPipe();
    pipe->State = kPipeEstablished;
    pipe->PostSack(1005);
    pipe->FinishSession(1);
    EXPECT_EQ(pipe->CloseDeadline, clock.Now() + 456);
    clock.Advance(455);
    mill.PumpUp();
    EXPECT_EQ(pipe->State, kPipeFinishing);
    clock.Advance(1);
    mill.PumpUp();
    EXPECT_EQ(pipe->State, kPipeShutDown);
}

TEST(MillPump, PurgeSurvivesAWrappingTick) {
    ManualClock clock;
    CMill mill;
    CPipe* pipe = mill.AddPipe();
    pipe->State = kPipeShutDown;
    pipe->CloseDeadline = 0xFFFFFFF0u;              // shut down just before the tick wraps
    clock.Advance(0xFFFFFFFFu - clock.Now() + 20);  // the tick has wrapped to 19
    mill.PurgePipes();
    EXPECT_TRUE(mill.Pipes.empty());
}

TEST(MillPipes, ForeignAndRemovedReferencesAreRefused) {
    CMill mill;
    CMill other;
    CPipe* mine = mill.AddPipe();
    CPipe* foreign = other.AddPipe();
    EXPECT_TRUE(mill.SelectPipe(mine));
    EXPECT_EQ(mill.LastError, 0);
    for (const CPipe* bad : {static_cast<const CPipe*>(nullptr), static_cast<const CPipe*>(foreign)}) {
        EXPECT_FALSE(mill.CloseSession(bad));
        EXPECT_EQ(mill.LastError, 3);
        EXPECT_EQ(mill.GetMoniker(bad), 0);
        EXPECT_FALSE(mill.SetMoniker(bad, 7));
        EXPECT_EQ(mill.GetRemotePort(bad), 0);
        EXPECT_EQ(mill.GetFreeRoom(bad), 0);
        EXPECT_FALSE(mill.TextToBuffer(bad, u"x"));
        EXPECT_EQ(mill.SendSack(bad, 1, false), nullptr);
    }
    EXPECT_TRUE(mill.SetMoniker(mine, 42));
    EXPECT_EQ(mill.GetMoniker(mine), 42);
}

TEST(MillPipes, SendSackQueuesOnlyOnAnEstablishedPipe) {
    CMill mill;
    CPipe* pipe = mill.AddPipe();
    pipe->State = kPipeHandshake;
    ASSERT_TRUE(mill.IntegerToBuffer(pipe, 7));
    const TJar built = pipe->BuildJar;
    EXPECT_EQ(mill.SendSack(pipe, 5, true), nullptr);
    EXPECT_EQ(mill.LastError, 0);
    EXPECT_EQ(pipe->BuildJar, built);
    EXPECT_TRUE(pipe->SendQueue.empty());

    pipe->State = kPipeEstablished;
    TSack* first = mill.SendSack(pipe, 5, true);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->Code, 1005);
    EXPECT_TRUE(first->NeedOkay);
    EXPECT_EQ(first->Body, built);
    EXPECT_TRUE(pipe->BuildJar.empty());
    ASSERT_TRUE(mill.TextToBuffer(pipe, u"abc"));
    TSack* second = mill.SendSack(pipe, 5, true);  // same code: chained behind the first
    mill.SendSack(pipe, 6, false);
    mill.SendSack(pipe, INT32_MAX, true);  // the wire code wraps instead of overflowing
    ASSERT_EQ(pipe->SendQueue.size(), 3u);
    EXPECT_EQ(pipe->SendQueue[0]->Next.get(), second);
    EXPECT_EQ(mill.GetOkayCount(pipe, 0), 3);
    EXPECT_EQ(mill.GetOkayCount(pipe, 5), 2);
    EXPECT_EQ(mill.GetOkayCount(pipe, 6), 0);
    EXPECT_EQ(mill.GetOkaySize(pipe, 5), 4 + 10);
    EXPECT_EQ(mill.GetOkayCount(pipe, INT32_MAX), 1);
    EXPECT_EQ(pipe->SendQueue[2]->Code, INT32_MIN + 999);
    EXPECT_EQ(mill.GetFreeRoom(pipe), 0) << "no window announced yet";
}

TEST(MillDelivery, SacksReachOnlyLivePipesInOrder) {
    CMill mill;
    std::vector<int32_t> codes;
    mill.OnPacketReceived = [&](CPipe*, int32_t code, const TJar& body) {
        codes.push_back(code);
        EXPECT_EQ(body.Length(), 1);
    };
    CPipe* live = mill.AddPipe();
    live->State = kPipeEstablished;
    CPipe* finished = mill.AddPipe();
    finished->State = kPipeEstablished;
    auto sack = [](int32_t code) {
        auto s = std::make_unique<TSack>();
        s->Code = code;
        s->Body = TJar{9};
        return s;
    };
    ASSERT_TRUE(mill.PostSackMessage(live, sack(1001)));
    ASSERT_TRUE(mill.PostSackMessage(finished, sack(1002)));
    ASSERT_TRUE(mill.PostSackMessage(live, sack(1003)));
    ASSERT_TRUE(mill.PostSackMessage(nullptr, sack(1004)));
    finished->FinishSession(0);  // finished after the sack was posted: it is dropped
    EXPECT_TRUE(platform::RunMessagesUntil([&] { return codes.size() >= 2; }, 2000));
    platform::PumpMessages();
    EXPECT_EQ(codes, (std::vector<int32_t>{1, 3}));
}

TEST(MillDelivery, DestructionFreesQueuedSacksAndRaisesNothing) {
    bool raised = false;
    {
        CMill mill;
        mill.OnSessionClosed = [&](CPipe*, int32_t) { raised = true; };
        CPipe* pipe = mill.AddPipe();
        pipe->State = kPipeEstablished;
        for (int i = 0; i < 50; ++i) {
            auto s = std::make_unique<TSack>();
            s->Code = 1000 + i;
            s->Body.SetLength(100);
            mill.PostSackMessage(pipe, std::move(s));
            pipe->PostSack(1000 + i % 3);  // chains behind the send-queue heads
        }
        ASSERT_TRUE(mill.StartListening(0));
    }
    EXPECT_FALSE(raised);
    platform::PumpMessages();  // nothing of the destroyed manager may run now
}

TEST(MillLog, FaultsInHandlersAreCaughtAndLogged) {
    const std::string path = TempPath("mill_fault_log.txt");
    std::remove(path.c_str());
    {
        CMill mill;
        mill.LogPath = path;
        int delivered = 0;
        mill.OnPacketReceived = [&](CPipe*, int32_t code, const TJar&) {
            ++delivered;
            if (code == 1) throw std::runtime_error("host fault");
        };
        mill.OnSessionClosed = [](CPipe*, int32_t) { throw std::runtime_error("host fault"); };
        CPipe* pipe = mill.AddPipe();
        pipe->State = kPipeEstablished;
        for (int32_t code : {1001, 1002}) {
            auto sack = std::make_unique<TSack>();
            sack->Code = code;
            mill.PostSackMessage(pipe, std::move(sack));
        }
        EXPECT_TRUE(platform::RunMessagesUntil([&] { return delivered == 2; }, 2000));
        pipe->FinishSession(0);
        EXPECT_EQ(pipe->State, kPipeFinishing) << "the teardown goes on after a handler fault";
    }
    const std::string log = ReadFile(path);
    EXPECT_NE(log.find(": *EXP*  CMill.DeliverSack\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find(": *EXP*  CPipe.FinishSession\r\n"), std::string::npos) << log;
    std::remove(path.c_str());
}

TEST(MillLog, WritesLinesOnlyWhenAPathIsSet) {
    const std::string path = TempPath("mill_log_test.txt");
    std::remove(path.c_str());
    {
        CMill mill;
        mill.LogPath.clear();
        mill.OpenSession(u"0.0.0.0", 1, u"p", u"u", u"w");
        mill.StartListening(0);
    }
    EXPECT_EQ(ReadFile(path), "") << "log written while off";
    {
        CMill mill;
        mill.LogPath = path;
        mill.OpenSession(u"0.0.0.0", 1, u"proto", u"user", u"pw");
        mill.StartListening(-5);
    }
    const std::string log = ReadFile(path);
    EXPECT_NE(log.find(": CMill.OpenSession  0.0.0.0 1 proto user pw {0}\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find(": CPipe.StartListening:  -5\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find(": CPipe.StartListening2: 10022\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find(": \r\n"), std::string::npos) << log;
    EXPECT_NE(log.find(": ================> CMill finishing... \r\n"), std::string::npos) << log;
    // Every line is "time/tick: text".
    std::istringstream lines(log);
    std::string line;
    int count = 0;
    while (std::getline(lines, line)) {
        ++count;
        ASSERT_FALSE(line.empty());
        EXPECT_EQ(line.back(), '\r');
        const size_t slash = line.find('/');
        const size_t colon = line.find(": ", slash);
        ASSERT_NE(slash, std::string::npos) << line;
        ASSERT_NE(colon, std::string::npos) << line;
        EXPECT_GE(colon - slash - 1, 1u);
        EXPECT_LE(colon - slash - 1, 4u);
    }
    EXPECT_GE(count, 6);
    std::remove(path.c_str());

    // The environment variable switches the log on for managers created afterwards.
    SetLogVariable(path);
    {
        CMill mill;
        EXPECT_EQ(mill.LogPath, path);
    }
    SetLogVariable("");
    EXPECT_NE(ReadFile(path).find("CMill finishing"), std::string::npos);
    std::remove(path.c_str());
    {
        CMill mill;
        EXPECT_TRUE(mill.LogPath.empty());
        mill.OpenSession(u"0.0.0.0", 1, u"p", u"u", u"w");
    }
    EXPECT_EQ(ReadFile(path), "") << "log written while off";

    // A log in a folder that does not exist changes nothing for the caller.
    CMill mill;
    mill.LogPath = TempPath("no-such-folder/sub/log.txt");
    EXPECT_EQ(mill.OpenSession(u"0.0.0.0", 1, u"p", u"u", u"w"), nullptr);
    EXPECT_EQ(mill.LastError, 2);
}

}  // namespace
}  // namespace qm
