// Windows time sources: GetTickCount and the performance counter. See ticks.h.
#include "platform/ticks.h"

#include <windows.h>

#include "platform/common/injection.h"

namespace qm::platform {
namespace {

detail::Injection<uint32_t()> g_tick;
detail::Injection<uint64_t()> g_highRes;

}  // namespace

uint32_t TickCount() {
    if (auto fn = g_tick.Get()) return (*fn)();
    return GetTickCount();
}

uint64_t HighResCounter() {
    if (auto fn = g_highRes.Get()) return (*fn)();
    LARGE_INTEGER v{};
    QueryPerformanceCounter(&v);
    return static_cast<uint64_t>(v.QuadPart);
}

uint64_t HighResFrequency() {
    LARGE_INTEGER f{};
    QueryPerformanceFrequency(&f);
    return static_cast<uint64_t>(f.QuadPart);
}

void SleepMs(uint32_t ms) {
    Sleep(ms);
}

void SetTickSourceForTesting(std::function<uint32_t()> source) {
    g_tick.Set(std::move(source));
}
void SetHighResSourceForTesting(std::function<uint64_t()> source) {
    g_highRes.Set(std::move(source));
}

}  // namespace qm::platform
