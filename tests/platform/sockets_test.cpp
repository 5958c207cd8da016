// Sockets on real loopback connections: WinSock numbers for the failures the engine
// reports, Windows-style readiness, and no crash on bad arguments.
#include "platform/sockets.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "platform/ticks.h"

namespace qm::platform {
namespace {

const uint32_t kLoopback = InetAddr("127.0.0.1");

// Polls cond every millisecond for at most ms; every network wait is bounded.
bool WaitFor(const std::function<bool()>& cond, uint32_t ms = 5000) {
    uint32_t start = TickCount();
    while (!cond()) {
        if (TickCount() - start > ms) return false;
        SleepMs(1);
    }
    return true;
}

class Sockets : public ::testing::Test {
  protected:
    SocketsGuard guard_;
    void SetUp() override { ASSERT_TRUE(guard_.Ok()); }

    // A listener on an ephemeral loopback port.
    Socket Listener(int& port) {
        Socket s = Socket::CreateTcp();
        EXPECT_TRUE(s.IsValid());
        EXPECT_TRUE(s.Bind(kLoopback, 0)) << LastSocketError();
        EXPECT_TRUE(s.Listen(5)) << LastSocketError();
        uint32_t addr = 0;
        EXPECT_TRUE(s.SockName(addr, port));
        EXPECT_EQ(addr, kLoopback);
        return s;
    }

    // A loopback port on which nobody listens.
    int ClosedPort() {
        int port = 0;
        Listener(port);  // closed again at once
        return port;
    }
};

TEST_F(Sockets, NonBlockingConversationOverLoopback) {
    int port = 0;
    Socket listener = Listener(port);
    EXPECT_FALSE(listener.IsReadable()) << "nothing pending yet";

    Socket client = Socket::CreateTcp();
    ASSERT_TRUE(client.SetNonBlocking(true));
    ASSERT_TRUE(client.SetNoDelay(true));
    ASSERT_TRUE(client.SetSendBufferSize(2304));
    ASSERT_TRUE(client.SetRecvBufferSize(2304));
    EXPECT_GE(client.SendBufferSize(), 2304);
    if (!client.Connect(kLoopback, port)) {
        ASSERT_EQ(LastSocketError(), kWsaEwouldblock);
    }

    ASSERT_TRUE(WaitFor([&] { return listener.IsReadable(); }));
    Socket server = listener.Accept();
    ASSERT_TRUE(server.IsValid()) << LastSocketError();
    ASSERT_TRUE(server.SetNonBlocking(true));
    ASSERT_TRUE(WaitFor([&] { return client.IsWritable(); }));
    EXPECT_FALSE(client.ConnectFailed());

    uint32_t addr = 0;
    int peerPort = 0, ownPort = 0;
    ASSERT_TRUE(server.PeerName(addr, peerPort));
    ASSERT_TRUE(client.SockName(addr, ownPort));
    EXPECT_EQ(peerPort, ownPort);
    EXPECT_EQ(addr, kLoopback);

    // Nothing to read yet: would-block, not an error of its own kind.
    char buf[16];
    EXPECT_EQ(server.Recv(buf, sizeof buf), -1);
    EXPECT_EQ(LastSocketError(), kWsaEwouldblock);

    ASSERT_EQ(client.Send("hello", 5), 5);
    ASSERT_TRUE(WaitFor([&] { return server.IsReadable(); }));
    uint32_t waiting = 0;
    ASSERT_TRUE(WaitFor([&] { return server.BytesAvailable(waiting) && waiting == 5; }));
    ASSERT_EQ(server.Recv(buf, sizeof buf), 5);
    EXPECT_EQ(std::string(buf, 5), "hello");

    // An orderly close is "readable with nothing waiting", then a zero-byte read.
    ASSERT_TRUE(client.ShutdownBoth());
    client.Close();
    ASSERT_TRUE(WaitFor([&] { return server.IsReadable(); }));
    ASSERT_TRUE(server.BytesAvailable(waiting));
    EXPECT_EQ(waiting, 0u);
    EXPECT_EQ(server.Recv(buf, sizeof buf), 0);
}

TEST_F(Sockets, PortInUseGivesAddressInUse) {
    int port = 0;
    Socket first = Listener(port);
    Socket second = Socket::CreateTcp();
    SetLastSocketError(0);
    EXPECT_FALSE(second.Bind(kLoopback, port));
    EXPECT_EQ(LastSocketError(), kWsaEaddrinuse);
    // And with the "any" address, as the listener binds by default.
    Socket third = Socket::CreateTcp();
    EXPECT_FALSE(third.Bind(0, port));
    EXPECT_EQ(LastSocketError(), kWsaEaddrinuse);
}

TEST_F(Sockets, RefusedConnectionIsAFailureNotWritable) {
    const int port = ClosedPort();
    Socket client = Socket::CreateTcp();
    ASSERT_TRUE(client.SetNonBlocking(true));
    if (!client.Connect(kLoopback, port)) {
        const int error = LastSocketError();
        ASSERT_TRUE(error == kWsaEwouldblock || error == kWsaEconnrefused) << error;
        if (error == kWsaEwouldblock) {
            ASSERT_TRUE(WaitFor([&] { return client.ConnectFailed(); }));
            EXPECT_FALSE(client.IsWritable()) << "a failed connect must not look like a finished one";
        }
    }
    // A blocking connect reports the refusal itself.
    Socket blocking = Socket::CreateTcp();
    EXPECT_FALSE(blocking.Connect(kLoopback, port));
    EXPECT_EQ(LastSocketError(), kWsaEconnrefused);
}

TEST_F(Sockets, BadArgumentsAreFailuresNeverCrashes) {
    Socket s = Socket::CreateTcp();
    for (int port : {-1, 65536, 70000, 1 << 30}) {
        SetLastSocketError(0);
        EXPECT_FALSE(s.Bind(0, port)) << port;
        EXPECT_EQ(LastSocketError(), kWsaEinval) << port;
        EXPECT_FALSE(s.Connect(kLoopback, port)) << port;
        EXPECT_EQ(LastSocketError(), kWsaEinval) << port;
    }
    // Neither "any" nor port 0 is a destination.
    EXPECT_FALSE(s.Connect(0, 80));
    EXPECT_EQ(LastSocketError(), kWsaEaddrnotavail);
    EXPECT_FALSE(s.Connect(kLoopback, 0));
    EXPECT_EQ(LastSocketError(), kWsaEaddrnotavail);
    EXPECT_EQ(s.Send("x", -1), -1);
    EXPECT_EQ(LastSocketError(), kWsaEinval);
    // Sending on a socket that never connected fails with "not connected" (wine
    // answers "reset" here; Windows and our POSIX mapping say 10057).
    EXPECT_EQ(s.Send("x", 1), -1);
    EXPECT_TRUE(LastSocketError() == kWsaEnotconn || LastSocketError() == kWsaEconnreset)
        << LastSocketError();

    // Every call on an empty handle is an ordinary failure.
    Socket none;
    char buf[4];
    uint32_t n = 0, addr = 0;
    int port = 0;
    EXPECT_FALSE(none.SetNonBlocking(true));
    EXPECT_EQ(LastSocketError(), kWsaEnotsock);
    EXPECT_FALSE(none.Bind(0, 0));
    EXPECT_FALSE(none.Listen(5));
    EXPECT_FALSE(none.Accept().IsValid());
    EXPECT_FALSE(none.Connect(kLoopback, 80));
    EXPECT_EQ(none.Send(buf, 1), -1);
    EXPECT_EQ(none.Recv(buf, 1), -1);
    EXPECT_FALSE(none.BytesAvailable(n));
    EXPECT_FALSE(none.ShutdownBoth());
    EXPECT_FALSE(none.PeerName(addr, port));
    EXPECT_FALSE(none.IsReadable());
    EXPECT_FALSE(none.IsWritable());
    EXPECT_FALSE(none.ConnectFailed());
    EXPECT_EQ(LastSocketError(), kWsaEnotsock);
}

TEST_F(Sockets, StartupIsReferenceCounted) {
    // A second user that comes and goes must not stop the sockets of the first.
    { SocketsGuard other; }
    Socket s = Socket::CreateTcp();
    EXPECT_TRUE(s.IsValid()) << LastSocketError();
    EXPECT_TRUE(s.Bind(kLoopback, 0)) << LastSocketError();
}

TEST_F(Sockets, DottedAddressesAndByteOrder) {
    EXPECT_EQ(InetAddr("1.2.3.4"), HostToNet32(0x01020304u));
    EXPECT_EQ(InetNtoa(InetAddr("10.0.0.255")), "10.0.0.255");
    EXPECT_EQ(InetNtoa(HostToNet32(0xC0A80001u)), "192.168.0.1");
    EXPECT_EQ(InetAddr("not an address"), 0xFFFFFFFFu);
    EXPECT_EQ(InetAddr("1.2.3.256"), 0xFFFFFFFFu);
    EXPECT_EQ(InetAddr(std::string("1.2.3.4\0garbage", 15)), InetAddr("1.2.3.4"));
    EXPECT_EQ(HostToNet16(0x1234), NetToHost16(0x1234));
    const uint16_t net = HostToNet16(0x1234);
    unsigned char bytes[2];
    std::memcpy(bytes, &net, 2);
    EXPECT_EQ(bytes[0], 0x12);
    EXPECT_EQ(bytes[1], 0x34);
}

}  // namespace
}  // namespace qm::platform
