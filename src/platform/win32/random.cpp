// Windows randomness: BCryptGenRandom for bytes, CoCreateGuid for GUIDs. See random.h.
#include "platform/random.h"

#include <windows.h>
// windows.h first: bcrypt.h and objbase.h rely on its types.
#include <bcrypt.h>
#include <objbase.h>

#include <cstdlib>
#include <cstring>

#include "platform/common/guid.h"
#include "platform/common/injection.h"

namespace qm::platform {
namespace {

detail::Injection<void(void*, size_t)> g_random;

void SystemRandom(void* out, size_t n) {
    auto* p = static_cast<unsigned char*>(out);
    while (n > 0) {
        ULONG chunk = n > 0x10000000u ? 0x10000000u : static_cast<ULONG>(n);
        if (BCryptGenRandom(nullptr, p, chunk, BCRYPT_USE_SYSTEM_PREFERRED_RNG) != 0) {
            // Handing out anything else would mean predictable keys.
            std::abort();
        }
        p += chunk;
        n -= chunk;
    }
}

}  // namespace

void RandomBytes(void* out, size_t n) {
    if (n == 0) return;
    if (auto fn = g_random.Get()) {
        (*fn)(out, n);
        return;
    }
    SystemRandom(out, n);
}

void NewGuidBytes(uint8_t out[16]) {
    if (auto fn = g_random.Get()) {
        (*fn)(out, 16);
        return;
    }
    GUID g{};
    if (CoCreateGuid(&g) == S_OK) {
        static_assert(sizeof(GUID) == 16);
        std::memcpy(out, &g, 16);  // the structure's memory order is the wanted order
        return;
    }
    // CoCreateGuid draws from the same system generator; if it ever fails, make the
    // same kind of value ourselves rather than hand out zeros.
    SystemRandom(out, 16);
    detail::MarkVersion4Guid(out);
}

void SetRandomSourceForTesting(std::function<void(void*, size_t)> source) {
    g_random.Set(std::move(source));
}

}  // namespace qm::platform
