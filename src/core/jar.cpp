// TJar storage. See jar.h for the contract.
#include "core/jar.h"

#include <cstring>
#include <functional>
#include <stdexcept>

namespace qm {

namespace {

// Throws when a jar of `length` bytes cannot grow by `count` without passing the 32-bit limit.
void CheckGrowth(std::size_t length, std::size_t count) {
    if (count > static_cast<std::size_t>(kJarMaxLength) - length) {
        throw std::length_error("TJar: length would exceed 2^31-1 bytes");
    }
}

}  // namespace

TJar::TJar(std::initializer_list<std::uint8_t> bytes) : bytes_(bytes) {
    CheckGrowth(0, bytes_.size());
}

TJar::TJar(const void* bytes, std::size_t count) {
    Append(bytes, count);
}

TJar::TJar(std::span<const std::uint8_t> bytes) {
    Append(bytes.data(), bytes.size());
}

TJar::TJar(std::string_view byteString) {
    Append(byteString.data(), byteString.size());
}

TJar::TJar(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {
    if (bytes_.size() > static_cast<std::size_t>(kJarMaxLength)) {
        bytes_.clear();
        throw std::length_error("TJar: length would exceed 2^31-1 bytes");
    }
}

void TJar::SetLength(std::int32_t length) {
    if (length <= 0) {
        bytes_.clear();
        return;
    }
    bytes_.resize(static_cast<std::size_t>(length));
}

std::uint8_t* TJar::Extend(std::size_t count) {
    const std::size_t old = bytes_.size();
    CheckGrowth(old, count);
    bytes_.resize(old + count);
    return bytes_.data() + old;
}

void TJar::Append(const void* bytes, std::size_t count) {
    if (count == 0) {
        return;
    }
    if (bytes == nullptr) {
        throw std::invalid_argument("TJar::Append: null source with a nonzero count");
    }
    const auto* source = static_cast<const std::uint8_t*>(bytes);
    const std::size_t old = bytes_.size();
    // Appending a part of this very jar must survive the reallocation that growing may cause:
    // remember the source as an offset and find it again afterwards.
    const std::uint8_t* begin = bytes_.data();
    const bool inside = old != 0 && std::less_equal<>{}(begin, source) && std::less<>{}(source, begin + old);
    const std::size_t offset = inside ? static_cast<std::size_t>(source - begin) : 0;
    std::uint8_t* target = Extend(count);
    if (inside) {
        source = bytes_.data() + offset;
    }
    std::memcpy(target, source, count);
}

void TJar::AppendByte(std::uint8_t byte) {
    CheckGrowth(bytes_.size(), 1);
    bytes_.push_back(byte);
}

void TJar::Cut(std::int32_t count) {
    if (count <= 0) {
        return;
    }
    if (static_cast<std::size_t>(count) >= bytes_.size()) {
        bytes_.clear();
        return;
    }
    bytes_.erase(bytes_.begin(), bytes_.begin() + count);
}

}  // namespace qm
