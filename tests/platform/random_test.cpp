// Randomness: the system source gives distinct, well-formed values; an injected
// source is used verbatim (GUIDs included) and can be removed.
#include "platform/random.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace qm::platform {
namespace {

TEST(Random, SystemSourceFillsExactlyTheRequestedBytes) {
    std::array<uint8_t, 80> buf;
    buf.fill(0xCC);
    RandomBytes(buf.data() + 8, 64);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(buf[i], 0xCC);
    for (int i = 72; i < 80; ++i) EXPECT_EQ(buf[i], 0xCC);
    RandomBytes(buf.data(), 0);  // nothing written
    EXPECT_EQ(buf[0], 0xCC);

    std::array<uint8_t, 64> a{}, b{};
    RandomBytes(a.data(), a.size());
    RandomBytes(b.data(), b.size());
    EXPECT_NE(a, b);
    // 64 bytes that are all equal would mean the source is broken.
    EXPECT_FALSE(std::all_of(a.begin(), a.end(), [&](uint8_t x) { return x == a[0]; }));
}

TEST(Random, GuidsAreVersion4WithTheStandardVariant) {
    std::array<uint8_t, 16> g1{}, g2{};
    NewGuidBytes(g1.data());
    NewGuidBytes(g2.data());
    EXPECT_NE(g1, g2);
    for (const auto& g : {g1, g2}) {
        EXPECT_EQ(g[7] >> 4, 4) << "version nibble (high half of Data3, stored low byte first)";
        EXPECT_EQ(g[8] >> 6, 2) << "variant bits of Data4[0]";
    }
}

TEST(Random, InjectedSourceIsUsedVerbatimAndRemoved) {
    uint8_t next = 0;
    SetRandomSourceForTesting([&](void* out, size_t n) {
        auto* p = static_cast<uint8_t*>(out);
        for (size_t i = 0; i < n; ++i) p[i] = next++;
    });
    std::array<uint8_t, 4> r{};
    RandomBytes(r.data(), r.size());
    EXPECT_EQ(r, (std::array<uint8_t, 4>{0, 1, 2, 3}));
    std::array<uint8_t, 16> g{};
    NewGuidBytes(g.data());
    for (int i = 0; i < 16; ++i) EXPECT_EQ(g[i], 4 + i) << "no version bits forced onto injected bytes";
    SetRandomSourceForTesting(nullptr);

    std::array<uint8_t, 16> real{};
    NewGuidBytes(real.data());
    EXPECT_EQ(real[7] >> 4, 4);
}

}  // namespace
}  // namespace qm::platform
