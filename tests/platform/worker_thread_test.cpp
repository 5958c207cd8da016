// The worker thread: runs its body once, ends on request, and its owner can always
// be destroyed without leaving a thread behind.
#include "platform/worker_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

#include "platform/ticks.h"

namespace qm::platform {
namespace {

TEST(WorkerThread, RunsUntilAskedToEnd) {
    std::atomic<int> rounds{0};
    WorkerThread worker;
    ASSERT_TRUE(worker.Start([&](const WorkerThread& self) {
        while (!self.StopRequested()) {
            ++rounds;
            SleepMs(1);
        }
    }));
    EXPECT_FALSE(worker.Start([](const WorkerThread&) {})) << "one body per thread";
    uint32_t start = TickCount();
    while (rounds.load() < 3 && TickCount() - start < 5000) SleepMs(1);
    EXPECT_GE(rounds.load(), 3);
    EXPECT_FALSE(worker.Finished());
    worker.RequestStop();
    worker.Join();
    EXPECT_TRUE(worker.Finished());
}

TEST(WorkerThread, DestructorStopsAndJoins) {
    std::atomic<bool> ended{false};
    {
        auto worker = std::make_unique<WorkerThread>();
        ASSERT_TRUE(worker->Start([&](const WorkerThread& self) {
            while (!self.StopRequested()) SleepMs(1);
            ended = true;
        }));
    }
    EXPECT_TRUE(ended.load()) << "the body had ended before the destructor returned";
}

}  // namespace
}  // namespace qm::platform
