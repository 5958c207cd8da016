// POSIX time sources: the monotonic clock stands in for GetTickCount and
// QueryPerformanceCounter. See ticks.h for the contract.
#include "platform/ticks.h"

#include <time.h>

#include <cerrno>

#include "platform/common/injection.h"

namespace qm::platform {
namespace {

detail::Injection<uint32_t()> g_tick;
detail::Injection<uint64_t()> g_highRes;

uint64_t MonotonicNanoseconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000000u + static_cast<uint64_t>(ts.tv_nsec);
}

}  // namespace

uint32_t TickCount() {
    if (auto fn = g_tick.Get()) return (*fn)();
    // Truncation to 32 bits gives the same wrap-around as the Windows tick.
    return static_cast<uint32_t>(MonotonicNanoseconds() / 1000000u);
}

uint64_t HighResCounter() {
    if (auto fn = g_highRes.Get()) return (*fn)();
    return MonotonicNanoseconds();
}

uint64_t HighResFrequency() {
    return 1000000000u;
}

void SleepMs(uint32_t ms) {
    timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    // Resume after signals so the caller always gets its full sleep.
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

void SetTickSourceForTesting(std::function<uint32_t()> source) {
    g_tick.Set(std::move(source));
}
void SetHighResSourceForTesting(std::function<uint64_t()> source) {
    g_highRes.Set(std::move(source));
}

}  // namespace qm::platform
