// Base64 text for byte strings (RFC 4648 alphabet, '=' padding, one line).
//
// Contract: stateless free functions, callable from any thread. Byte strings are std::string
// used as 8-bit byte containers. Decoding is deliberately lenient, because key texts written
// by peers and hosts are read this way and must decode the same everywhere: a text whose
// length is below 4 or not a multiple of 4 gives an empty result; otherwise every character
// decodes, with any character outside the alphabet (the equals sign included) worth 61, and
// one byte is dropped from the end for every equals sign that ends the text. Nothing is
// rejected and nothing throws.
#pragma once

#include <string>

namespace qm {

// Standard padded Base64 of `bytes`; empty for empty input.
std::string Base64Encode(const std::string& bytes);

// The bytes that `text` stands for, by the lenient rules above; empty when the length of
// `text` is not decodable.
std::string Base64Decode(const std::string& text);

}  // namespace qm
