// POSIX randomness: getrandom() is the kernel CSPRNG. See random.h for the contract.
#include "platform/random.h"

#include <sys/random.h>

#include <cerrno>
#include <cstdlib>

#include "platform/common/guid.h"
#include "platform/common/injection.h"

namespace qm::platform {
namespace {

detail::Injection<void(void*, size_t)> g_random;

void SystemRandom(void* out, size_t n) {
    auto* p = static_cast<unsigned char*>(out);
    while (n > 0) {
        ssize_t got = getrandom(p, n, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            // Handing out anything else would mean predictable keys.
            std::abort();
        }
        p += got;
        n -= static_cast<size_t>(got);
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
    SystemRandom(out, 16);
    detail::MarkVersion4Guid(out);
}

void SetRandomSourceForTesting(std::function<void(void*, size_t)> source) {
    g_random.Set(std::move(source));
}

}  // namespace qm::platform
