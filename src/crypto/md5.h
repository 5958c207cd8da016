// MD5 digests (RFC 1321) of byte strings and memory blocks.
//
// Contract: stateless free functions; every call uses its own context on the stack, so any
// thread may call them at once. A digest is the 16 raw bytes of the result (state words least
// significant byte first); no hexadecimal form is made here. Byte strings are std::string used
// as 8-bit byte containers, with no character-set conversion. Bad input does not exist: any
// bytes of any length hash; a null pointer is accepted only together with a length of 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qm {

inline constexpr std::size_t kMD5DigestSize = 16;

// Digest of the bytes of `text` as a 16-byte string. The empty string gives an empty result,
// not the digest of the empty message: callers use the empty result as "no digest".
std::string MD5OfText(const std::string& text);

// Digest of `length` bytes at `data`, written to the 16 bytes at `digest`. Here the empty block
// does give the digest of the empty message.
void MD5OfBuffer(const void* data, std::size_t length, std::uint8_t digest[kMD5DigestSize]);

}  // namespace qm
