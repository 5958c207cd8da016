// The version and variant bits of a random GUID, in its memory byte order.
#pragma once

#include <cstdint>

namespace qm::platform::detail {

// Data3 is stored least significant byte first, so its version nibble is the high
// half of byte 7; the variant (binary 10) is the top of Data4[0], byte 8.
inline void MarkVersion4Guid(uint8_t g[16]) {
    g[7] = static_cast<uint8_t>((g[7] & 0x0F) | 0x40);
    g[8] = static_cast<uint8_t>((g[8] & 0x3F) | 0x80);
}

}  // namespace qm::platform::detail
