// Time sources: the injected tick replaces the real one everywhere and goes away
// again; the real clocks move forward at their stated rates.
#include "platform/ticks.h"

#include <gtest/gtest.h>

#include <atomic>

namespace qm::platform {
namespace {

TEST(Ticks, InjectedTickIsUsedAndRestored) {
    std::atomic<uint32_t> fake{0xFFFFFFF0u};
    SetTickSourceForTesting([&] { return fake.load(); });
    EXPECT_EQ(TickCount(), 0xFFFFFFF0u);
    fake = 5;  // wrapped: intervals are unsigned differences
    EXPECT_EQ(TickCount() - 0xFFFFFFF0u, 21u);
    SetTickSourceForTesting(nullptr);
    // The real tick is back: it moves by real time, not by the fake's value. The
    // Windows tick moves in steps of up to 16 ms, hence the margin.
    uint32_t a = TickCount();
    SleepMs(60);
    uint32_t elapsed = TickCount() - a;
    EXPECT_GE(elapsed, 40u);
    EXPECT_LT(elapsed, 2000u);
}

TEST(Ticks, HighResCounterMatchesItsFrequency) {
    ASSERT_GT(HighResFrequency(), 1000u);
    uint64_t a = HighResCounter();
    SleepMs(30);
    uint64_t b = HighResCounter();
    double seconds = static_cast<double>(b - a) / static_cast<double>(HighResFrequency());
    EXPECT_GE(seconds, 0.02);
    EXPECT_LT(seconds, 2.0);

    SetHighResSourceForTesting([] { return uint64_t{42}; });
    EXPECT_EQ(HighResCounter(), 42u);
    SetHighResSourceForTesting(nullptr);
    EXPECT_NE(HighResCounter(), 42u);
}

}  // namespace
}  // namespace qm::platform
