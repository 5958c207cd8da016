// TJar: the byte array of the whole library, and the value codecs that append typed values to
// a packet body and take them back off its front.
//
// Contract:
// - Ownership: a TJar owns its bytes. Copies are independent (plain value semantics), so a body
//   handed to a packet keeps its contents when the buffer it came from is cleared afterwards.
// - Threads: no shared state; a TJar may be used by one thread at a time, different TJars by
//   different threads at once.
// - Length: 32-bit signed, as on the wire. Growing a jar past INT32_MAX bytes is a fault of the
//   caller, like running out of memory: it throws std::length_error and leaves the jar unchanged.
// - Bad input: the take operations never read past the end. Too few bytes, a count prefix that
//   is negative or larger than what is left, or an odd byte count for wide text all answer the
//   default value (0, false, empty) and consume nothing. No error code is set.
// - Aliasing: every helper that writes a destination may be given one of its sources as that
//   destination; the result is computed before the destination is replaced.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

// Largest length a jar may have: its length travels as a 32-bit signed number.
inline constexpr std::int32_t kJarMaxLength = INT32_MAX;

class TJar {
  public:
    TJar() = default;
    TJar(std::initializer_list<std::uint8_t> bytes);
    TJar(const void* bytes, std::size_t count);
    explicit TJar(std::span<const std::uint8_t> bytes);
    // The bytes of an 8-bit string exactly as stored, without any character conversion.
    explicit TJar(std::string_view byteString);
    explicit TJar(std::vector<std::uint8_t> bytes);

    const std::uint8_t* data() const noexcept { return bytes_.data(); }
    std::uint8_t* data() noexcept { return bytes_.data(); }
    std::size_t size() const noexcept { return bytes_.size(); }
    bool empty() const noexcept { return bytes_.empty(); }
    std::int32_t Length() const noexcept { return static_cast<std::int32_t>(bytes_.size()); }

    std::vector<std::uint8_t>::const_iterator begin() const noexcept { return bytes_.begin(); }
    std::vector<std::uint8_t>::const_iterator end() const noexcept { return bytes_.end(); }
    std::uint8_t operator[](std::size_t index) const noexcept { return bytes_[index]; }
    std::uint8_t& operator[](std::size_t index) noexcept { return bytes_[index]; }

    std::span<const std::uint8_t> Span() const noexcept { return {bytes_.data(), bytes_.size()}; }
    const std::vector<std::uint8_t>& Bytes() const noexcept { return bytes_; }
    // The bytes as an 8-bit byte string, without any character conversion.
    std::string ToByteString() const { return std::string(bytes_.begin(), bytes_.end()); }

    // New length; added bytes are zero. A negative length empties the jar.
    void SetLength(std::int32_t length);
    void Append(const void* bytes, std::size_t count);
    void Append(std::span<const std::uint8_t> bytes) { Append(bytes.data(), bytes.size()); }
    void AppendByte(std::uint8_t byte);
    // Grows the jar by `count` zero bytes and answers where they start, for writers that fill
    // the new bytes in place (one allocation, and the jar is unchanged if it throws).
    std::uint8_t* Extend(std::size_t count);
    // Removes the first `count` bytes (all of them when count >= Length; none when count <= 0).
    void Cut(std::int32_t count);
    void Clear() noexcept { bytes_.clear(); }
    void Swap(TJar& other) noexcept { bytes_.swap(other.bytes_); }

    friend bool operator==(const TJar& a, const TJar& b) = default;

  private:
    std::vector<std::uint8_t> bytes_;
};

// ---- Append operations: each adds one encoded value at the end -------------------------------

void JarAddInteger(TJar& jar, std::int32_t value);
void JarAddInt64(TJar& jar, std::int64_t value);
void JarAddBoolean(TJar& jar, bool value);
// 4-byte byte count (2 per UTF-16 code unit), then the code units little-endian.
void JarAddWideText(TJar& jar, std::u16string_view text);
// 4-byte count, then the bytes.
void JarAddJar(TJar& jar, const TJar& bytes);
void JarAddJar(TJar& jar, std::span<const std::uint8_t> bytes);
// 4-byte count, then the characters as stored.
void JarAddText(TJar& jar, std::string_view text);

// ---- Take operations: each reads one value from the front and removes what it read ----------

std::int32_t JarGetInteger(TJar& jar);
std::int64_t JarGetInt64(TJar& jar);
// Consumes one byte; true only for 0x01.
bool JarGetBoolean(TJar& jar);
std::u16string JarGetWideText(TJar& jar);
TJar JarGetJar(TJar& jar);
std::string JarGetText(TJar& jar);

// ---- Helpers for the packet, handshake and compressor code -------------------------------------

void JarAppend(TJar& jar, const TJar& bytes);
void JarAppend(TJar& jar, std::span<const std::uint8_t> bytes);
void JarAppendByte(TJar& jar, std::uint8_t byte);
void JarAppendText(TJar& jar, std::string_view text);
void JarCut(TJar& jar, std::int32_t count);
void JarClear(TJar& jar);
bool JarIsEmpty(const TJar& jar);
void JarCopy(const TJar& source, TJar& destination);
void JarConcat(const TJar& first, const TJar& second, TJar& destination);
void JarFromByte(std::uint8_t byte, TJar& destination);
void JarFromInteger(std::int32_t value, TJar& destination);
void JarWithLength(const TJar& bytes, TJar& destination);
// The `count` bytes at offset `start`; empty when the jar is shorter than start + count or when
// either number is negative.
std::string JarSliceText(const TJar& jar, std::int32_t start, std::int32_t count);
// Smallest offset at which the next four bytes, read as a little-endian word, equal `value`;
// -1 when there is none.
std::int32_t JarFind(const TJar& jar, std::uint32_t value);

}  // namespace qm
