// Unpredictable bytes for keys, session secrets and prime searches.
//
// Contract:
// - RandomBytes fills exactly n bytes from the operating system's CSPRNG
//   (getrandom on POSIX, BCryptGenRandom on Windows). It never fails silently: if
//   the system source is unusable the process aborts, because continuing would hand
//   out predictable key material.
// - NewGuidBytes gives the 16 bytes of a fresh random (version 4) GUID in the
//   structure's memory order: Data1 least significant byte first, Data2 and Data3
//   each least significant byte first, then Data4 in order. On Windows it comes from
//   CoCreateGuid; on POSIX it is built from RandomBytes with the same version and
//   variant bits, so both ends produce the same shape of value.
// - Both may be called from any thread with n of any size (0 writes nothing).
// - SetRandomSourceForTesting replaces the source of both functions process-wide
//   (a GUID then takes its 16 bytes from the injected source unchanged, so tests can
//   predict every byte); nullptr restores the system source. Install and remove it
//   while no other thread draws random bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace qm::platform {

void RandomBytes(void* out, size_t n);

void NewGuidBytes(uint8_t out[16]);

void SetRandomSourceForTesting(std::function<void(void* out, size_t n)> source);

}  // namespace qm::platform
