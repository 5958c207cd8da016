// Portable address helpers: dotted text of an address and byte order.
#include <bit>
#include <string>

#include "platform/sockets.h"

namespace qm::platform {

std::string InetNtoa(uint32_t address) {
    // The address is in network order, so its first octet is its first byte in memory.
    const auto* b = reinterpret_cast<const unsigned char*>(&address);
    return std::to_string(b[0]) + '.' + std::to_string(b[1]) + '.' + std::to_string(b[2]) + '.' +
           std::to_string(b[3]);
}

uint16_t HostToNet16(uint16_t v) {
    if constexpr (std::endian::native == std::endian::little)
        return static_cast<uint16_t>((v >> 8) | (v << 8));
    return v;
}
uint16_t NetToHost16(uint16_t v) {
    return HostToNet16(v);
}

uint32_t HostToNet32(uint32_t v) {
    if constexpr (std::endian::native == std::endian::little)
        return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
    return v;
}
uint32_t NetToHost32(uint32_t v) {
    return HostToNet32(v);
}

}  // namespace qm::platform
