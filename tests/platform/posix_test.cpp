// POSIX-only behaviour: the owner queue's wake-up descriptor for a host's own poll
// loop, and readiness tests on descriptors beyond select()'s reach.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

#include <thread>

#include "platform/owner_queue.h"
#include "platform/sockets.h"

namespace qm::platform {
namespace {

bool ReadableNow(int fd, int timeoutMs = 0) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, timeoutMs) == 1 && (p.revents & POLLIN);
}

TEST(PosixOwnerQueue, PollFdIsReadableExactlyWhileMessagesWait) {
    int handled = 0;
    OwnerQueue a([&](uint32_t, uintptr_t, void*) { ++handled; }, nullptr);
    OwnerQueue b([&](uint32_t, uintptr_t, void*) { ++handled; }, nullptr);
    const int fd = a.PollFd();
    ASSERT_GE(fd, 0);
    EXPECT_EQ(b.PollFd(), fd) << "one descriptor per thread, whatever the queue";
    EXPECT_FALSE(ReadableNow(fd));
    ASSERT_TRUE(a.Post(kPumpMessage, 0, nullptr));
    ASSERT_TRUE(b.Post(kPumpMessage, 0, nullptr));
    EXPECT_TRUE(ReadableNow(fd));
    PumpMessages();
    EXPECT_EQ(handled, 2);
    EXPECT_FALSE(ReadableNow(fd)) << "drained queue must not wake the host again";

    // A host loop sleeping in poll() wakes when another thread posts.
    std::thread poster([&b] { b.Post(kSackMessage, 0, nullptr); });
    EXPECT_TRUE(ReadableNow(fd, 5000));
    poster.join();
    PumpMessages();
    EXPECT_EQ(handled, 3);

    // Destroying the only queue with messages waits clears the signal as well.
    auto c = std::make_unique<OwnerQueue>([](uint32_t, uintptr_t, void*) {}, nullptr);
    ASSERT_TRUE(c->Post(kPumpMessage, 0, nullptr));
    EXPECT_TRUE(ReadableNow(fd));
    c.reset();
    EXPECT_FALSE(ReadableNow(fd));
}

// A host loop that wakes on the descriptor must find the message when it pumps: a
// post that woke the descriptor before marking the queue non-empty made the loop
// spin on empty wake-ups while the posting thread was between the two steps.
TEST(PosixOwnerQueue, EveryWakeUpFindsAMessage) {
    constexpr int kPosts = 20000;
    int handled = 0;
    OwnerQueue q([&](uint32_t, uintptr_t, void*) { ++handled; }, nullptr);
    const int fd = q.PollFd();
    ASSERT_GE(fd, 0);
    std::thread poster([&q] {
        for (int i = 0; i < kPosts; ++i) {
            q.Post(kSackMessage, 0, nullptr);
            std::this_thread::yield();
        }
    });
    int emptyWakeUps = 0;
    while (handled < kPosts) {
        if (!ReadableNow(fd, 5000)) break;
        const int before = handled;
        PumpMessages();
        if (handled == before && ++emptyWakeUps > 1000) break;  // spinning: the fault shows
    }
    poster.join();
    PumpMessages();
    EXPECT_EQ(handled, kPosts);
    EXPECT_EQ(emptyWakeUps, 0);
}

TEST(PosixSockets, ReadinessWorksOnDescriptorsAboveSelectsLimit) {
    constexpr int kHigh = 1500;  // above FD_SETSIZE (1024): select() would write past its set
    rlimit lim{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &lim), 0);
    if (lim.rlim_max != RLIM_INFINITY && lim.rlim_max <= static_cast<rlim_t>(kHigh + 2))
        GTEST_SKIP() << "descriptor limit " << lim.rlim_max << " too low here";
    const rlimit saved = lim;
    if (lim.rlim_cur != RLIM_INFINITY && lim.rlim_cur <= static_cast<rlim_t>(kHigh + 2)) {
        lim.rlim_cur = kHigh + 3;
        ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &lim), 0);
    }

    Socket listener = Socket::CreateTcp();
    ASSERT_TRUE(listener.Bind(InetAddr("127.0.0.1"), 0));
    ASSERT_TRUE(listener.Listen(5));
    uint32_t addr = 0;
    int port = 0;
    ASSERT_TRUE(listener.SockName(addr, port));
    Socket moved(static_cast<NativeSocket>(dup2(static_cast<int>(listener.Native()), kHigh)));
    ASSERT_EQ(moved.Native(), static_cast<NativeSocket>(kHigh));
    listener.Close();

    Socket client = Socket::CreateTcp();
    ASSERT_TRUE(client.Connect(addr, port));  // blocking: done when it returns
    pollfd p{kHigh, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 5000), 1);
    EXPECT_TRUE(moved.IsReadable());
    EXPECT_FALSE(moved.ConnectFailed());
    Socket server = moved.Accept();
    ASSERT_TRUE(server.IsValid());
    EXPECT_TRUE(client.IsWritable());
    moved.Close();
    setrlimit(RLIMIT_NOFILE, &saved);
}

}  // namespace
}  // namespace qm::platform
