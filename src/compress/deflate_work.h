// Working storage and the two chunk-body coders behind TQMDefObj.
//
// Contract: internal to the compress layer. A PackWork or UnpackWork belongs to one TQMDefObj
// and is used by one call at a time; the functions keep no other state. The storage is sized
// for the largest piece (32768 bytes) and the largest body the writer can produce, so no chunk
// needs an allocation.
#pragma once

#include <cstddef>
#include <cstdint>

#include "compress/chunk_format.h"

namespace qm::deflate {

// Bytes past the end of the input copy that the match measurement may read (8-byte compares).
inline constexpr std::size_t kInputSlack = 16;
// Upper bound of a compressed body for a 32768-byte piece: a match token of at least 3 bytes
// costs at most 15 + 5 + 14 + 13 bits and a literal at most 15, so the data part stays under
// 65 KB; the header adds well under 1 KB. Rounded up with room for the 4-byte bit flushes.
inline constexpr std::size_t kBodyCapacity = 72 * 1024;
// Bytes past the end of the decoding area that a word-wise match copy may overwrite.
inline constexpr std::size_t kOutputSlack = 32;
// Decoding tables: a primary table indexed by the next bits, and secondary tables for the codes
// longer than that, each sized for the longest code (15 bits). The literal/length primary is
// wide because most symbols are literals and every secondary lookup costs a dependent load and
// often a mispredicted branch; distances are fewer, so a narrower primary keeps its build cheap.
inline constexpr unsigned kLitPrimaryBits = 11;
inline constexpr unsigned kDistPrimaryBits = 9;
inline constexpr unsigned kCodeLenTableBits = 7;

// Entries of a two-level table with `primary` bits: the primary part plus one secondary table
// per primary slot that longer codes can share; a code set has at most one such slot per symbol.
constexpr std::size_t TableEntries(unsigned primary, int symbols) {
    return (std::size_t{1} << primary) + (static_cast<std::size_t>(symbols) << (kMaxCodeBits - primary));
}

struct PackWork {
    std::uint8_t input[kChunkSize + kInputSlack];
    std::uint16_t head[65536];  // 0 = empty: position 0 is never entered in a chain
    std::uint16_t prev[kChunkSize];
    std::uint32_t tokens[kChunkSize];
    std::uint32_t litFreq[kMaxHLit];
    std::uint32_t distFreq[kMaxHDist];
    std::uint32_t codeLenFreq[kNumCodeLen];
    std::uint8_t litLen[kMaxHLit];
    std::uint8_t distLen[kMaxHDist];
    std::uint8_t codeLenLen[kNumCodeLen];
    std::uint16_t litCode[kMaxHLit];  // bit-reversed, ready for LSB-first output
    std::uint16_t distCode[kMaxHDist];
    std::uint16_t codeLenCode[kNumCodeLen];
    std::uint8_t runSym[kMaxHLit + kMaxHDist];
    std::uint8_t runExtra[kMaxHLit + kMaxHDist];
    std::uint8_t chunk[1 + kBodyCapacity + 1];  // marker, body, trailer
};

struct UnpackWork {
    std::uint32_t litTable[TableEntries(kLitPrimaryBits, kMaxHLit)];
    std::uint32_t distTable[TableEntries(kDistPrimaryBits, kMaxHDist)];
    std::uint16_t codeLenTable[1u << kCodeLenTableBits];
    std::uint8_t lengths[kMaxHLit + kMaxHDist];
    std::uint8_t out[kChunkSize + kOutputSlack];
};

// Writes the compressed body of piece w.input[0..n) (20 <= n <= 32768) to w.chunk + 1 and
// returns its length in bytes.
std::size_t PackBody(PackWork& w, std::size_t n, std::size_t tooFar);

// Decodes a compressed body into `out`, which must have kChunkSize + kOutputSlack writable
// bytes (w.out, or the caller's final output); false for any malformed body. On success
// `produced` is the piece length (at most 32768). Bytes of `out` past the piece may have been
// written either way.
bool UnpackBody(UnpackWork& w, const std::uint8_t* body, std::size_t length, std::uint8_t* out,
                std::size_t& produced);

// Lengths of a length-limited prefix code for freq[0..n) (n <= 288). Symbols with frequency 0
// get length 0. A lone used symbol gets length 1 together with a partner symbol, so the code
// stays complete.
void BuildCodeLengths(const std::uint32_t* freq, int n, int limit, std::uint8_t* lengths);

}  // namespace qm::deflate
