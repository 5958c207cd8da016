// The value codecs and Jar... helpers. See jar.h for the contract.
//
// Every number is written and read byte by byte, least significant first, so the encoding does
// not depend on the host's byte order. The take operations validate everything before they
// consume anything: a failed take leaves the jar exactly as it was.
#include <cstring>
#include <functional>
#include <stdexcept>

#include "core/jar.h"

namespace qm {

namespace {

void StoreLE32(std::uint8_t* out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

std::uint32_t LoadLE32(const std::uint8_t* in) {
    return static_cast<std::uint32_t>(in[0]) | static_cast<std::uint32_t>(in[1]) << 8 |
           static_cast<std::uint32_t>(in[2]) << 16 | static_cast<std::uint32_t>(in[3]) << 24;
}

// Count prefix plus `count` bytes in one growth, so a failure leaves the jar unchanged.
std::uint8_t* ExtendPrefixed(TJar& jar, std::size_t count) {
    if (count > static_cast<std::size_t>(kJarMaxLength) - 4) {
        throw std::length_error("TJar: value longer than 2^31-5 bytes");
    }
    std::uint8_t* out = jar.Extend(4 + count);
    StoreLE32(out, static_cast<std::uint32_t>(count));
    return out + 4;
}

void AddPrefixed(TJar& jar, const void* bytes, std::size_t count) {
    if (count == 0) {
        ExtendPrefixed(jar, 0);
        return;
    }
    // The source may lie inside the jar itself (JarAddJar(j, j)); copy it out before growing.
    if (std::less_equal<>{}(jar.data(), static_cast<const std::uint8_t*>(bytes)) &&
        std::less<>{}(static_cast<const std::uint8_t*>(bytes), jar.data() + jar.size())) {
        const TJar copy(bytes, count);
        std::memcpy(ExtendPrefixed(jar, count), copy.data(), count);
        return;
    }
    std::memcpy(ExtendPrefixed(jar, count), bytes, count);
}

// The count of a prefixed value at the front, when the value is complete: at least 4 bytes, a
// count that is not negative and not more than the bytes that follow the prefix.
bool PeekCount(const TJar& jar, std::int32_t& count) {
    if (jar.Length() < 4) {
        return false;
    }
    const auto n = static_cast<std::int32_t>(LoadLE32(jar.data()));
    if (n < 0 || n > jar.Length() - 4) {
        return false;
    }
    count = n;
    return true;
}

}  // namespace

void JarAddInteger(TJar& jar, std::int32_t value) {
    StoreLE32(jar.Extend(4), static_cast<std::uint32_t>(value));
}

void JarAddInt64(TJar& jar, std::int64_t value) {
    const auto bits = static_cast<std::uint64_t>(value);
    std::uint8_t* out = jar.Extend(8);
    StoreLE32(out, static_cast<std::uint32_t>(bits));
    StoreLE32(out + 4, static_cast<std::uint32_t>(bits >> 32));
}

void JarAddBoolean(TJar& jar, bool value) {
    jar.AppendByte(value ? 0x01 : 0x00);
}

void JarAddWideText(TJar& jar, std::u16string_view text) {
    if (text.size() > static_cast<std::size_t>(kJarMaxLength) / 2) {
        throw std::length_error("TJar: text longer than 2^30 code units");
    }
    std::uint8_t* out = ExtendPrefixed(jar, text.size() * 2);
    for (const char16_t unit : text) {
        *out++ = static_cast<std::uint8_t>(unit);
        *out++ = static_cast<std::uint8_t>(unit >> 8);
    }
}

void JarAddJar(TJar& jar, const TJar& bytes) {
    AddPrefixed(jar, bytes.data(), bytes.size());
}

void JarAddJar(TJar& jar, std::span<const std::uint8_t> bytes) {
    AddPrefixed(jar, bytes.data(), bytes.size());
}

void JarAddText(TJar& jar, std::string_view text) {
    AddPrefixed(jar, text.data(), text.size());
}

std::int32_t JarGetInteger(TJar& jar) {
    if (jar.Length() < 4) {
        return 0;
    }
    const auto value = static_cast<std::int32_t>(LoadLE32(jar.data()));
    jar.Cut(4);
    return value;
}

std::int64_t JarGetInt64(TJar& jar) {
    if (jar.Length() < 8) {
        return 0;
    }
    const std::uint64_t bits = static_cast<std::uint64_t>(LoadLE32(jar.data())) |
                               static_cast<std::uint64_t>(LoadLE32(jar.data() + 4)) << 32;
    jar.Cut(8);
    return static_cast<std::int64_t>(bits);
}

bool JarGetBoolean(TJar& jar) {
    if (jar.empty()) {
        return false;
    }
    const bool value = jar[0] == 0x01;
    jar.Cut(1);
    return value;
}

std::u16string JarGetWideText(TJar& jar) {
    std::int32_t count = 0;
    if (!PeekCount(jar, count) || count % 2 != 0) {
        return {};
    }
    std::u16string text(static_cast<std::size_t>(count / 2), u'\0');
    const std::uint8_t* in = jar.data() + 4;
    for (char16_t& unit : text) {
        unit = static_cast<char16_t>(in[0] | in[1] << 8);
        in += 2;
    }
    jar.Cut(4 + count);
    return text;
}

TJar JarGetJar(TJar& jar) {
    std::int32_t count = 0;
    if (!PeekCount(jar, count)) {
        return {};
    }
    TJar bytes(jar.data() + 4, static_cast<std::size_t>(count));
    jar.Cut(4 + count);
    return bytes;
}

std::string JarGetText(TJar& jar) {
    std::int32_t count = 0;
    if (!PeekCount(jar, count)) {
        return {};
    }
    std::string text(reinterpret_cast<const char*>(jar.data() + 4), static_cast<std::size_t>(count));
    jar.Cut(4 + count);
    return text;
}

void JarAppend(TJar& jar, const TJar& bytes) {
    jar.Append(bytes.data(), bytes.size());
}

void JarAppend(TJar& jar, std::span<const std::uint8_t> bytes) {
    jar.Append(bytes.data(), bytes.size());
}

void JarAppendByte(TJar& jar, std::uint8_t byte) {
    jar.AppendByte(byte);
}

void JarAppendText(TJar& jar, std::string_view text) {
    jar.Append(text.data(), text.size());
}

void JarCut(TJar& jar, std::int32_t count) {
    jar.Cut(count);
}

void JarClear(TJar& jar) {
    jar.Clear();
}

bool JarIsEmpty(const TJar& jar) {
    return jar.empty();
}

void JarCopy(const TJar& source, TJar& destination) {
    if (&source != &destination) {
        destination = source;
    }
}

void JarConcat(const TJar& first, const TJar& second, TJar& destination) {
    // Built aside, so `destination` may be `first` or `second`.
    TJar result;
    JarAppend(result, first);
    JarAppend(result, second);
    destination = std::move(result);
}

void JarFromByte(std::uint8_t byte, TJar& destination) {
    destination = TJar{byte};
}

void JarFromInteger(std::int32_t value, TJar& destination) {
    TJar result;
    JarAddInteger(result, value);
    destination = std::move(result);
}

void JarWithLength(const TJar& bytes, TJar& destination) {
    TJar result;
    JarAddJar(result, bytes);
    destination = std::move(result);
}

std::string JarSliceText(const TJar& jar, std::int32_t start, std::int32_t count) {
    if (start < 0 || count <= 0 || static_cast<std::int64_t>(start) + count > jar.Length()) {
        return {};
    }
    return std::string(reinterpret_cast<const char*>(jar.data() + start), static_cast<std::size_t>(count));
}

std::int32_t JarFind(const TJar& jar, std::uint32_t value) {
    if (jar.size() < 4) {
        return -1;
    }
    std::uint8_t word[4];
    StoreLE32(word, value);
    const std::uint8_t* const begin = jar.data();
    const std::uint8_t* const last = begin + jar.size() - 4;  // last offset where a word fits
    const std::uint8_t* at = begin;
    while (at <= last) {
        // Skip ahead to the next byte that could start the word.
        const auto* hit = static_cast<const std::uint8_t*>(
            std::memchr(at, word[0], static_cast<std::size_t>(last - at) + 1));
        if (hit == nullptr) {
            return -1;
        }
        if (std::memcmp(hit, word, 4) == 0) {
            return static_cast<std::int32_t>(hit - begin);
        }
        at = hit + 1;
    }
    return -1;
}

}  // namespace qm
