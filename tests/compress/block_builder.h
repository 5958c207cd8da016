// Test fixture: writes compressed chunk bodies bit by bit, so tests can state malformed and
// unusual blocks exactly (codes the compressor itself never writes).
//
// Contract: test-only, single-threaded, no checks of its own: it writes what it is told.
#pragma once

#include <cstdint>
#include <vector>

namespace qm::test {

class BitSink {
  public:
    // `value` LSB first, as extra bits and header fields are written.
    void Put(std::uint32_t value, unsigned n) {
        for (unsigned i = 0; i < n; ++i) PutBit((value >> i) & 1);
    }
    // A Huffman code, most significant bit first.
    void Code(std::uint32_t code, unsigned len) {
        for (unsigned i = len; i-- > 0;) PutBit((code >> i) & 1);
    }
    const std::vector<std::uint8_t>& Bytes() const { return bytes_; }
    std::size_t BitCount() const { return bytes_.size() * 8 - (used_ == 0 ? 0 : 8 - used_); }

  private:
    void PutBit(unsigned bit) {
        if (used_ == 0) bytes_.push_back(0);
        bytes_.back() |= static_cast<std::uint8_t>(bit << used_);
        used_ = (used_ + 1) & 7;
    }
    std::vector<std::uint8_t> bytes_;
    unsigned used_ = 0;
};

// Canonical codes for a set of lengths (RFC 1951 3.2.2), MSB-first values.
inline std::vector<std::uint32_t> CanonicalCodes(const std::vector<int>& lengths) {
    int count[16] = {};
    for (int l : lengths) ++count[l];
    count[0] = 0;
    std::uint32_t next[16] = {};
    std::uint32_t code = 0;
    for (int len = 1; len < 16; ++len) {
        code = (code + static_cast<std::uint32_t>(count[len - 1])) << 1;
        next[len] = code;
    }
    std::vector<std::uint32_t> codes(lengths.size());
    for (std::size_t s = 0; s < lengths.size(); ++s) {
        if (lengths[s] != 0) codes[s] = next[lengths[s]]++;
    }
    return codes;
}

// A block with the given literal/length and distance code lengths, written without run-length
// symbols. The code-length alphabet gets a complete code (symbols 0..12 four bits, 13..18 five
// bits) so that every length value and 16/17/18 are available to tests that write the lengths
// themselves through Header().
class BlockBuilder {
  public:
    BlockBuilder(std::vector<int> litLengths, std::vector<int> distLengths)
        : lit_(std::move(litLengths)), dist_(std::move(distLengths)) {
        for (int s = 0; s < 19; ++s) cl_.push_back(s <= 12 ? 4 : 5);
        clCodes_ = CanonicalCodes(cl_);
        litCodes_ = CanonicalCodes(lit_);
        distCodes_ = CanonicalCodes(dist_);
    }

    // HLIT, HDIST, HCLEN = 19 and the code-length code; lengths follow with LengthSymbol().
    BlockBuilder& Header() {
        static const int order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
        bits_.Put(static_cast<std::uint32_t>(lit_.size() - 257), 5);
        bits_.Put(static_cast<std::uint32_t>(dist_.size() - 1), 5);
        bits_.Put(15, 4);
        for (int s : order) bits_.Put(static_cast<std::uint32_t>(cl_[s]), 3);
        return *this;
    }
    BlockBuilder& LengthSymbol(int sym, std::uint32_t extra = 0, unsigned extraBits = 0) {
        bits_.Code(clCodes_[sym], static_cast<unsigned>(cl_[sym]));
        bits_.Put(extra, extraBits);
        return *this;
    }
    // Header plus every length written as itself.
    BlockBuilder& Start() {
        Header();
        for (int l : lit_) LengthSymbol(l);
        for (int l : dist_) LengthSymbol(l);
        return *this;
    }
    BlockBuilder& Lit(int sym, std::uint32_t extra = 0, unsigned extraBits = 0) {
        bits_.Code(litCodes_[sym], static_cast<unsigned>(lit_[sym]));
        bits_.Put(extra, extraBits);
        return *this;
    }
    BlockBuilder& Dist(int code, std::uint32_t extra = 0, unsigned extraBits = 0) {
        bits_.Code(distCodes_[code], static_cast<unsigned>(dist_[code]));
        bits_.Put(extra, extraBits);
        return *this;
    }
    BlockBuilder& Raw(std::uint32_t value, unsigned n) {
        bits_.Put(value, n);
        return *this;
    }
    const std::vector<std::uint8_t>& Body() const { return bits_.Bytes(); }
    std::size_t BitCount() const { return bits_.BitCount(); }

  private:
    std::vector<int> lit_, dist_, cl_;
    std::vector<std::uint32_t> clCodes_, litCodes_, distCodes_;
    BitSink bits_;
};

// The fixed literal/length code of RFC 1951 over all 288 symbols: complete, and the undefined
// symbols 286 and 287 have codes, so tests can write them.
inline std::vector<int> FixedLitLengths() {
    std::vector<int> l(288);
    for (int s = 0; s < 288; ++s) l[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
    return l;
}

// Thirty-two distance codes of five bits: complete, including the undefined codes 30 and 31.
inline std::vector<int> FullDistLengths() {
    return std::vector<int>(32, 5);
}

}  // namespace qm::test
