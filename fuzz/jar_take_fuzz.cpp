// Fuzzes the take operations and the search helpers on arbitrary bytes, the way packet bodies
// and handshake messages arrive from a peer. The input is split into a script of operations
// (from the end) and the jar they run on (the rest). After every step it checks:
// - a take consumes exactly the bytes of one well-formed value, or nothing at all;
// - what is left is the untouched rest of the jar;
// - the taken value re-encodes to exactly the bytes consumed (a failed take gives the default);
// - JarFind and JarSliceText agree with a plain scan of the bytes.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "core/jar.h"

namespace {

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

std::int64_t PrefixedSize(const qm::TJar& jar, bool wide) {
    if (jar.size() < 4) {
        return 0;
    }
    std::int32_t n = 0;
    for (int i = 3; i >= 0; --i) {
        n = static_cast<std::int32_t>(static_cast<std::uint32_t>(n) << 8 | jar[static_cast<std::size_t>(i)]);
    }
    if (n < 0 || n > jar.Length() - 4 || (wide && n % 2 != 0)) {
        return 0;
    }
    return 4 + static_cast<std::int64_t>(n);
}

void CheckTake(const qm::TJar& before, const qm::TJar& after, std::int64_t expected,
               const qm::TJar& encoded) {
    Check(before.Length() - after.Length() == expected);
    Check(std::equal(after.begin(), after.end(), before.begin() + expected));
    if (expected > 0) {
        Check(encoded.Length() == expected && std::equal(encoded.begin(), encoded.end(), before.begin()));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const std::size_t steps = input.ConsumeIntegralInRange<std::size_t>(0, 32);
    std::uint8_t script[32];
    for (std::size_t i = 0; i < steps; ++i) {
        script[i] = input.ConsumeIntegral<std::uint8_t>();
    }
    const std::uint32_t word = input.ConsumeIntegral<std::uint32_t>();
    const std::int32_t start = input.ConsumeIntegral<std::int32_t>();
    const std::int32_t count = input.ConsumeIntegral<std::int32_t>();
    qm::TJar jar(input.ConsumeRemainingBytes<std::uint8_t>());

    const std::int32_t found = qm::JarFind(jar, word);
    std::int32_t scanned = -1;
    for (std::size_t k = 0; k + 4 <= jar.size(); ++k) {
        const std::uint32_t at =
            static_cast<std::uint32_t>(jar[k]) | static_cast<std::uint32_t>(jar[k + 1]) << 8 |
            static_cast<std::uint32_t>(jar[k + 2]) << 16 | static_cast<std::uint32_t>(jar[k + 3]) << 24;
        if (at == word) {
            scanned = static_cast<std::int32_t>(k);
            break;
        }
    }
    Check(found == scanned);

    const std::string slice = qm::JarSliceText(jar, start, count);
    if (start >= 0 && count > 0 && static_cast<std::int64_t>(start) + count <= jar.Length()) {
        Check(slice.size() == static_cast<std::size_t>(count) &&
              std::equal(slice.begin(), slice.end(), jar.begin() + start,
                         [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; }));
    } else {
        Check(slice.empty());
    }

    for (std::size_t i = 0; i < steps; ++i) {
        const qm::TJar before = jar;
        qm::TJar encoded;
        switch (script[i] % 6) {
            case 0: {
                const std::int32_t value = qm::JarGetInteger(jar);
                qm::JarAddInteger(encoded, value);
                CheckTake(before, jar, before.size() >= 4 ? 4 : 0, encoded);
                Check(before.size() >= 4 || value == 0);
                break;
            }
            case 1: {
                const std::int64_t value = qm::JarGetInt64(jar);
                qm::JarAddInt64(encoded, value);
                CheckTake(before, jar, before.size() >= 8 ? 8 : 0, encoded);
                Check(before.size() >= 8 || value == 0);
                break;
            }
            case 2: {
                const bool value = qm::JarGetBoolean(jar);
                Check(value == (!before.empty() && before[0] == 0x01));
                Check(jar.size() == (before.empty() ? 0 : before.size() - 1));
                break;
            }
            case 3: {
                const std::u16string value = qm::JarGetWideText(jar);
                qm::JarAddWideText(encoded, value);
                const std::int64_t expected = PrefixedSize(before, true);
                CheckTake(before, jar, expected, encoded);
                Check(expected > 0 || value.empty());
                break;
            }
            case 4: {
                const qm::TJar value = qm::JarGetJar(jar);
                qm::JarAddJar(encoded, value);
                const std::int64_t expected = PrefixedSize(before, false);
                CheckTake(before, jar, expected, encoded);
                Check(expected > 0 || value.empty());
                break;
            }
            default: {
                const std::string value = qm::JarGetText(jar);
                qm::JarAddText(encoded, value);
                const std::int64_t expected = PrefixedSize(before, false);
                CheckTake(before, jar, expected, encoded);
                Check(expected > 0 || value.empty());
                break;
            }
        }
    }
    return 0;
}
