// Base64 encoding and the lenient decoding that key texts and fingerprints rely on.
#include "crypto/base64.h"

#include <array>
#include <cstdint>

namespace qm {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Characters outside the alphabet are worth 61 rather than being rejected: texts that were
// always accepted must keep decoding to the same bytes.
constexpr std::uint8_t kForeignValue = 61;

constexpr std::array<std::uint8_t, 256> MakeDecodeTable() {
    std::array<std::uint8_t, 256> table{};
    for (auto& v : table) v = kForeignValue;
    for (int i = 0; i < 64; ++i) table[static_cast<unsigned char>(kAlphabet[i])] = std::uint8_t(i);
    return table;
}

constexpr std::array<std::uint8_t, 256> kDecode = MakeDecodeTable();

}  // namespace

std::string Base64Encode(const std::string& bytes) {
    if (bytes.empty()) return std::string();
    const std::size_t groups = (bytes.size() + 2) / 3;
    const std::size_t added = groups * 3 - bytes.size();
    std::string out(groups * 4, '\0');
    const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    for (std::size_t g = 0; g < groups; ++g) {
        const std::size_t i = g * 3;
        // Missing bytes of the last group count as zeros.
        std::uint32_t v = std::uint32_t(in[i]) << 16;
        if (i + 1 < n) v |= std::uint32_t(in[i + 1]) << 8;
        if (i + 2 < n) v |= in[i + 2];
        char* o = &out[g * 4];
        o[0] = kAlphabet[(v >> 18) & 63];
        o[1] = kAlphabet[(v >> 12) & 63];
        o[2] = kAlphabet[(v >> 6) & 63];
        o[3] = kAlphabet[v & 63];
    }
    for (std::size_t k = 0; k < added; ++k) out[out.size() - 1 - k] = '=';
    return out;
}

std::string Base64Decode(const std::string& text) {
    const std::size_t n = text.size();
    if (n < 4 || n % 4 != 0) return std::string();

    std::size_t equals = 0;
    while (equals < n && text[n - 1 - equals] == '=') ++equals;

    std::string out(n / 4 * 3, '\0');
    const auto* in = reinterpret_cast<const unsigned char*>(text.data());
    for (std::size_t g = 0; g < n / 4; ++g) {
        const unsigned char* c = in + g * 4;
        const std::uint32_t v = std::uint32_t(kDecode[c[0]]) << 18 | std::uint32_t(kDecode[c[1]]) << 12 |
                                std::uint32_t(kDecode[c[2]]) << 6 | kDecode[c[3]];
        out[g * 3] = char(v >> 16);
        out[g * 3 + 1] = char(v >> 8);
        out[g * 3 + 2] = char(v);
    }
    // Every trailing equals sign drops one byte, however many there are.
    out.resize(equals >= out.size() ? 0 : out.size() - equals);
    return out;
}

}  // namespace qm
