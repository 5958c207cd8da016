// The compressed form's constants, shared by the writer and the reader so the two cannot disagree.
//
// The form is a sequence of chunks: a 2-byte little-endian chunk length, then the chunk itself,
// which is a marker byte, a body and a trailer byte. A stored chunk's body is the piece; a
// compressed chunk's body is one Deflate block with dynamic Huffman codes (RFC 1951) whose
// leading BFINAL/BTYPE bits are left out, because the block is always the only and final one.
//
// Contract: constants and constant tables only; no state, usable from any thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace qm::deflate {

inline constexpr std::size_t kChunkSize = 32768;  // largest input piece per chunk
inline constexpr std::size_t kStoredLimit = 20;   // pieces shorter than this are stored
inline constexpr std::size_t kChunkLengthBytes = 2;
inline constexpr std::size_t kMaxChunkLength = 0xFFFF;  // the 2-byte length field's range

inline constexpr std::uint8_t kMarkerStored = 0x4D;      // 'M'
inline constexpr std::uint8_t kMarkerCompressed = 0xCD;  // 'M' with bit 7 set
inline constexpr std::uint8_t kMarkerMask = 0x7F;
inline constexpr std::uint8_t kCompressedFlag = 0x80;
inline constexpr std::uint8_t kTrailer = 0x47;  // 'G'

// Match search parameters.
inline constexpr std::size_t kWindow = 32766;  // candidates further back are not considered
inline constexpr int kChainLimit = 40;         // hash-chain steps per input position
inline constexpr std::size_t kTooFar = 8192;   // length-3 matches only when closer than this
inline constexpr std::size_t kMinMatch = 3;
inline constexpr std::size_t kMaxMatch = 258;

// Alphabets of the block.
inline constexpr int kEndOfBlock = 256;
inline constexpr int kNumLitLen = 286;  // defined literal/length symbols
inline constexpr int kNumDist = 30;     // defined distance codes
inline constexpr int kMaxHLit = 288;    // what the 5-bit HLIT field can announce
inline constexpr int kMaxHDist = 32;    // what the 5-bit HDIST field can announce
inline constexpr int kNumCodeLen = 19;
inline constexpr int kLitLenLimit = 15;
inline constexpr int kDistLimit = 14;
inline constexpr int kCodeLenLimit = 7;
inline constexpr int kMaxCodeBits = 15;  // longest code the decoder accepts

// Order in which the code-length alphabet's lengths are written.
inline constexpr std::array<std::uint8_t, kNumCodeLen> kCodeLenOrder = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                                        11, 4,  12, 3, 13, 2, 14, 1, 15};

// Length symbols 257..285: base match length and number of extra bits.
inline constexpr std::array<std::uint16_t, 29> kLengthBase = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                                              15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                                              67, 83, 99, 115, 131, 163, 195, 227, 258};
inline constexpr std::array<std::uint8_t, 29> kLengthExtra = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                              2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};

// Distance codes 0..29: base distance and number of extra bits.
inline constexpr std::array<std::uint16_t, 30> kDistBase = {
    1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
inline constexpr std::array<std::uint8_t, 30> kDistExtra = {
    0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

}  // namespace qm::deflate
