// Time sources of the engine: the 32-bit millisecond tick, the high-resolution
// counter and a plain sleep.
//
// Contract:
// - TickCount() wraps modulo 2^32 like the Windows tick; callers take unsigned
//   differences (now - then) and never compare ticks as signed numbers. Like the
//   Windows tick it may advance in steps (10 to 16 ms there, 1 ms on POSIX), so a
//   test of a short interval allows for one step.
// - Every function may be called from any thread.
// - The Set...ForTesting hooks replace a source process-wide; nullptr restores the
//   real clock. Install and remove them while no other thread reads that clock
//   (tests do so in their fixtures); the replacement itself may be called from
//   any thread that reads the clock afterwards.
// - SleepMs never uses the injected tick: it always sleeps real time.
#pragma once

#include <cstdint>
#include <functional>

namespace qm::platform {

// Milliseconds since an arbitrary start, wrapping at 2^32 (GetTickCount on Windows,
// the monotonic clock on POSIX).
uint32_t TickCount();

// The high-resolution counter and its ticks per second (QueryPerformanceCounter /
// QueryPerformanceFrequency on Windows, the monotonic clock in nanoseconds on POSIX).
uint64_t HighResCounter();
uint64_t HighResFrequency();

// Blocks the calling thread for about ms milliseconds of real time.
void SleepMs(uint32_t ms);

void SetTickSourceForTesting(std::function<uint32_t()> source);
void SetHighResSourceForTesting(std::function<uint64_t()> source);

}  // namespace qm::platform
