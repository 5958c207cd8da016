// Compressed chunk bodies back to pieces: header and code-length decoding, table construction
// and the table-driven symbol loop.
//
// Contract: see deflate_work.h. Every body is hostile until proven otherwise: each code set is
// checked for over-subscription and incompleteness before a table is built from it, every
// symbol, length and distance is checked against the piece's bounds before it is used (the fast
// loop leaves out only the checks that its own entry condition makes certain), and the bit
// reader never loads a byte outside the body (bits past its end read as zero and are counted,
// so a body that runs out of bits before its end-of-block code is rejected).
#include <array>
#include <bit>
#include <cstring>

#include "compress/deflate_work.h"

namespace qm::deflate {

namespace {

// Decoding table entry: bits 0-5 the bits the entry consumes (its code, and for a length or
// distance the extra bits too), bits 8-11 the code length, bits 12-14 kind, bits 16-31 value
// (literal byte, base length or distance, or subtable offset). The consumed bits alone in the
// low six bits let a 64-bit shift use the entry itself as its count (the masking is free on
// common processors), so a length or distance leaves the bit buffer in one step; for those
// kinds bits 12 and 13 are zero, so bits 8-13 are the code length, the count that skips to the
// extra bits.
constexpr std::uint32_t kKindLiteral = 0u << 12;
constexpr std::uint32_t kKindEnd = 1u << 12;
constexpr std::uint32_t kKindSubtable = 2u << 12;
constexpr std::uint32_t kKindInvalid = 3u << 12;
constexpr std::uint32_t kKindBase = 4u << 12;  // a length or distance with extra bits
constexpr std::uint32_t kKindMask = 7u << 12;

constexpr std::uint32_t Entry(std::uint32_t kind, std::uint32_t value, unsigned bits, unsigned extra) {
    return (value << 16) | kind | (bits << 8) | (bits + extra);
}
constexpr unsigned CodeBits(std::uint32_t e) {
    return e & 63;
}
constexpr std::uint32_t Value(std::uint32_t e) {
    return e >> 16;
}

std::uint32_t LitLenEntry(unsigned sym, unsigned bits) {
    if (sym < 256) return Entry(kKindLiteral, sym, bits, 0);
    if (sym == kEndOfBlock) return Entry(kKindEnd, 0, bits, 0);
    if (sym < static_cast<unsigned>(kNumLitLen)) {
        return Entry(kKindBase, kLengthBase[sym - 257], bits, kLengthExtra[sym - 257]);
    }
    return Entry(kKindInvalid, 0, bits, 0);  // 286 and 287 take code space but mean nothing
}

std::uint32_t DistEntry(unsigned sym, unsigned bits) {
    if (sym < static_cast<unsigned>(kNumDist)) return Entry(kKindBase, kDistBase[sym], bits, kDistExtra[sym]);
    return Entry(kKindInvalid, 0, bits, 0);
}

constexpr std::array<std::uint8_t, 256> kReversedByte = [] {
    std::array<std::uint8_t, 256> t{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned r = 0;
        for (unsigned b = 0; b < 8; ++b) r |= ((i >> b) & 1) << (7 - b);
        t[i] = static_cast<std::uint8_t>(r);
    }
    return t;
}();

// The low `len` bits of `code` in reverse order (len <= 15).
inline unsigned Reverse(unsigned code, unsigned len) {
    const unsigned r16 =
        (static_cast<unsigned>(kReversedByte[code & 0xFF]) << 8) | kReversedByte[(code >> 8) & 0xFF];
    return r16 >> (16 - len);
}

// A two-level table whose primary part is indexed by the next `Primary` bits; a secondary table
// covers the remaining bits of the longest code.
template <unsigned Primary>
struct Geometry {
    static constexpr std::uint32_t kMask = (1u << Primary) - 1;
    static constexpr unsigned kSecondaryBits = kMaxCodeBits - Primary;
    static constexpr std::uint32_t kSecondaryMask = (1u << kSecondaryBits) - 1;
};

template <unsigned Primary>
inline std::uint32_t Lookup(const std::uint32_t* table, std::uint64_t bits) {
    using G = Geometry<Primary>;
    const std::uint32_t e = table[bits & G::kMask];
    if ((e & kKindMask) != kKindSubtable) [[likely]]
        return e;
    return table[Value(e) + ((bits >> Primary) & G::kSecondaryMask)];
}

inline void Copy8(std::uint8_t* dst, const std::uint8_t* src) {
    std::uint64_t v;
    std::memcpy(&v, src, 8);
    std::memcpy(dst, &v, 8);
}

// Copies a match of `len` bytes (3..258) from `d` bytes back (1 <= d), overlapping its own
// output when d < len, as a byte-by-byte copy would. It may write up to 29 bytes past
// dst + len, which kOutputSlack covers behind the area.
inline void CopyMatch(std::uint8_t* dst, std::size_t d, std::size_t len) {
    const std::uint8_t* src = dst - d;
    if (d >= 8) {
        // With d >= 8 every word read lies in bytes already written. Four words cover most
        // matches with no loop branch to mispredict.
        Copy8(dst, src);
        Copy8(dst + 8, src + 8);
        Copy8(dst + 16, src + 16);
        Copy8(dst + 24, src + 24);
        for (std::size_t k = 32; k < len; k += 8) Copy8(dst + k, src + k);
    } else if (d == 1) {
        const std::uint64_t v = 0x0101010101010101ull * *src;
        for (std::size_t k = 0; k < len; k += 8) std::memcpy(dst + k, &v, 8);
    } else {
        // A short period: lay down its first repeats byte by byte until a whole number of
        // periods spans at least a word, then copy words from that many periods back.
        const std::size_t span = d * ((8 + d - 1) / d);
        std::size_t k = 0;
        for (; k < span && k < len; ++k) dst[k] = src[k];
        for (; k < len; k += 8) Copy8(dst + k, dst + k - span);
    }
}

enum class CodeShape { kBad, kComplete, kEmpty, kSingle };

// Checks a set of code lengths (each 0..15) and computes the first canonical code per length.
CodeShape Examine(const std::uint8_t* lengths, int n, unsigned next[kMaxCodeBits + 1]) {
    unsigned count[kMaxCodeBits + 1] = {};
    for (int s = 0; s < n; ++s) ++count[lengths[s]];
    count[0] = 0;
    int left = 1;
    for (int len = 1; len <= kMaxCodeBits; ++len) {
        left <<= 1;
        left -= static_cast<int>(count[len]);
        if (left < 0) return CodeShape::kBad;  // over-subscribed
    }
    unsigned code = 0;
    for (int len = 1; len <= kMaxCodeBits; ++len) {
        code = (code + count[len - 1]) << 1;
        next[len] = code;
    }
    if (left == 0) return CodeShape::kComplete;
    int used = 0;
    for (int len = 1; len <= kMaxCodeBits; ++len) used += static_cast<int>(count[len]);
    if (used == 0) return CodeShape::kEmpty;
    if (used == 1 && count[1] == 1) return CodeShape::kSingle;
    return CodeShape::kBad;  // incomplete
}

// Builds a two-level table. A complete code fills every slot; for a lone 1-bit code both bit
// values name that symbol; an empty code leaves every slot invalid.
template <unsigned Primary, typename MakeEntry>
bool BuildTable(const std::uint8_t* lengths, int n, std::uint32_t* table, bool allowSingleOrEmpty,
                MakeEntry make) {
    using G = Geometry<Primary>;
    constexpr std::uint32_t kPrimaryMask = G::kMask;
    constexpr unsigned kPrimaryBits = Primary;
    unsigned next[kMaxCodeBits + 1] = {};
    const CodeShape shape = Examine(lengths, n, next);
    if (shape == CodeShape::kBad) return false;
    if (shape != CodeShape::kComplete && !allowSingleOrEmpty) return false;

    // The primary slots are cleared first so that no subtable link of an earlier block survives;
    // a complete code then writes every slot of its subtables itself.
    constexpr std::uint32_t invalid = Entry(kKindInvalid, 0, 1, 0);
    for (std::uint32_t i = 0; i <= kPrimaryMask; ++i) table[i] = invalid;
    if (shape == CodeShape::kSingle) {
        for (int s = 0; s < n; ++s) {
            if (lengths[s] != 0) {
                for (std::uint32_t i = 0; i <= kPrimaryMask; ++i)
                    table[i] = make(static_cast<unsigned>(s), 1);
            }
        }
        return true;
    }

    std::uint32_t nextSub = 1u << kPrimaryBits;
    for (int s = 0; s < n; ++s) {
        const unsigned len = lengths[s];
        if (len == 0) continue;
        const unsigned rev = Reverse(next[len]++, len);
        const std::uint32_t e = make(static_cast<unsigned>(s), len);
        if (len <= kPrimaryBits) {
            for (std::uint32_t i = rev; i <= kPrimaryMask; i += 1u << len) table[i] = e;
            continue;
        }
        const std::uint32_t prefix = rev & kPrimaryMask;
        if ((table[prefix] & kKindMask) != kKindSubtable) {
            table[prefix] = Entry(kKindSubtable, nextSub, 0, 0);
            nextSub += 1u << G::kSecondaryBits;
        }
        std::uint32_t* sub = table + Value(table[prefix]);
        for (std::uint32_t i = rev >> kPrimaryBits; i <= G::kSecondaryMask; i += 1u << (len - kPrimaryBits)) {
            sub[i] = e;
        }
    }
    return true;
}

// LSB-first bit reader over [p, end). The buffer always holds between 56 and 63 valid bits
// after Refill, enough for a whole length/distance pair with their extra bits (48 bits).
class BitReader {
  public:
    BitReader(const std::uint8_t* p, std::size_t length) : p_(p), end_(p + length) {}

    // Bytes of the body not yet loaded into the buffer.
    std::size_t BytesLeft() const { return static_cast<std::size_t>(end_ - p_); }

    // Refill for a caller that has made sure that BytesLeft() >= 8.
    void RefillWord() {
        // Bits above the count are the next stream bits, so loading them again later by
        // OR-ing the same bytes in at the same positions changes nothing.
        std::uint64_t w;
        std::memcpy(&w, p_, 8);
        if constexpr (std::endian::native == std::endian::big) w = ByteSwap(w);
        buf_ |= w << count_;
        p_ += (63 - count_) >> 3;
        count_ |= 56;
    }

    void Refill() {
        if (end_ - p_ >= 8) {
            RefillWord();
        } else {
            while (count_ <= 56) {
                std::uint64_t b = 0;
                if (p_ < end_)
                    b = *p_++;
                else
                    ++over_;
                buf_ |= b << count_;
                count_ += 8;
            }
        }
    }

    std::uint64_t Peek() const { return buf_; }
    void Drop(unsigned n) {
        buf_ >>= n;
        count_ -= n;
    }
    std::uint32_t Take(unsigned n) {
        const auto v = static_cast<std::uint32_t>(buf_ & ((std::uint64_t{1} << n) - 1));
        Drop(n);
        return v;
    }
    // Consumes the code and extra bits of a length or distance entry `e`; returns the value of
    // the extra bits.
    std::uint32_t TakeExtra(std::uint32_t e) {
        const std::uint64_t both = buf_ & ((std::uint64_t{1} << (e & 63)) - 1);
        Drop(e & 63);
        return static_cast<std::uint32_t>(both >> ((e >> 8) & 63));
    }
    // True while no bit past the end of the body has been consumed.
    bool Sound() const { return over_ * 8 <= count_; }

  private:
    static std::uint64_t ByteSwap(std::uint64_t v) {
        std::uint64_t r = 0;
        for (int i = 0; i < 8; ++i) r = (r << 8) | ((v >> (8 * i)) & 0xFF);
        return r;
    }

    const std::uint8_t* p_;
    const std::uint8_t* end_;
    std::uint64_t buf_ = 0;
    unsigned count_ = 0;
    unsigned over_ = 0;
};

// Reads the code lengths of both alphabets into w.lengths; returns HLIT and HDIST.
bool ReadHeader(UnpackWork& w, BitReader& in, int& hlit, int& hdist) {
    in.Refill();
    hlit = static_cast<int>(in.Take(5)) + 257;
    hdist = static_cast<int>(in.Take(5)) + 1;
    const int hclen = static_cast<int>(in.Take(4)) + 4;

    std::uint8_t clLen[kNumCodeLen] = {};
    for (int i = 0; i < hclen; ++i) {
        if (i % 16 == 0) in.Refill();  // 16 x 3 bits fit into one refill
        clLen[kCodeLenOrder[i]] = static_cast<std::uint8_t>(in.Take(3));
    }
    unsigned next[kMaxCodeBits + 1] = {};
    if (Examine(clLen, kNumCodeLen, next) != CodeShape::kComplete) return false;
    for (int s = 0; s < kNumCodeLen; ++s) {
        const unsigned len = clLen[s];
        if (len == 0) continue;
        const unsigned rev = Reverse(next[len]++, len);
        for (unsigned i = rev; i < (1u << kCodeLenTableBits); i += 1u << len) {
            w.codeLenTable[i] = static_cast<std::uint16_t>((s << 8) | len);
        }
    }

    const int total = hlit + hdist;
    int i = 0;
    while (i < total) {
        in.Refill();
        const std::uint16_t e = w.codeLenTable[in.Peek() & ((1u << kCodeLenTableBits) - 1)];
        in.Drop(e & 0xFF);
        const unsigned sym = e >> 8;
        if (sym < 16) {
            w.lengths[i++] = static_cast<std::uint8_t>(sym);
            continue;
        }
        std::uint8_t value = 0;
        int repeat = 0;
        if (sym == 16) {
            if (i == 0) return false;  // nothing to repeat
            value = w.lengths[i - 1];
            repeat = 3 + static_cast<int>(in.Take(2));
        } else if (sym == 17) {
            repeat = 3 + static_cast<int>(in.Take(3));
        } else {
            repeat = 11 + static_cast<int>(in.Take(7));
        }
        if (repeat > total - i) return false;  // run past the announced lengths
        std::memset(w.lengths + i, value, static_cast<std::size_t>(repeat));
        i += repeat;
    }
    return in.Sound();
}

}  // namespace

bool UnpackBody(UnpackWork& w, const std::uint8_t* body, std::size_t length, std::uint8_t* out,
                std::size_t& produced) {
    BitReader in(body, length);
    int hlit = 0;
    int hdist = 0;
    if (!ReadHeader(w, in, hlit, hdist)) return false;
    if (w.lengths[kEndOfBlock] == 0) return false;  // the block could never end
    if (!BuildTable<kLitPrimaryBits>(w.lengths, hlit, w.litTable, false, LitLenEntry)) return false;
    if (!BuildTable<kDistPrimaryBits>(w.lengths + hlit, hdist, w.distTable, true, DistEntry)) return false;

    const std::uint32_t* const lit = w.litTable;
    const std::uint32_t* const dist = w.distTable;
    std::size_t pos = 0;
    // At the top of both loops the buffer has just been refilled (at least 56 bits) and e is
    // the literal/length entry for the bits at hand.
    in.Refill();
    std::uint32_t e = Lookup<kLitPrimaryBits>(lit, in.Peek());

    // The fast loop runs while neither end is near: one round refills at most twice (7 bytes
    // each) and writes at most three literals, or two literals and a match of at most 258
    // bytes, so it checks neither the body's end nor the match length against the room left.
    // The careful loop below takes over near either end.
    constexpr std::size_t kFastInput = 16;
    constexpr std::size_t kFastOutput = kMaxMatch + 2;
    bool ended = false;
    while (in.BytesLeft() >= kFastInput && pos <= kChunkSize - kFastOutput) {
        if ((e & kKindMask) == kKindLiteral) {
            out[pos++] = static_cast<std::uint8_t>(Value(e));
            in.Drop(CodeBits(e));
            e = Lookup<kLitPrimaryBits>(lit, in.Peek());
            if ((e & kKindMask) == kKindLiteral) {
                out[pos++] = static_cast<std::uint8_t>(Value(e));
                in.Drop(CodeBits(e));
                e = Lookup<kLitPrimaryBits>(lit, in.Peek());
                if ((e & kKindMask) == kKindLiteral) {
                    out[pos++] = static_cast<std::uint8_t>(Value(e));
                    in.Drop(CodeBits(e));
                    in.RefillWord();
                    e = Lookup<kLitPrimaryBits>(lit, in.Peek());
                    continue;
                }
            }
            in.RefillWord();
        }
        if ((e & kKindMask) != kKindBase) [[unlikely]] {
            if ((e & kKindMask) != kKindEnd) return false;
            in.Drop(CodeBits(e));
            ended = true;
            break;
        }
        const std::size_t len = Value(e) + in.TakeExtra(e);
        e = Lookup<kDistPrimaryBits>(dist, in.Peek());
        if ((e & kKindMask) != kKindBase) [[unlikely]]
            return false;
        const std::size_t d = Value(e) + in.TakeExtra(e);
        if (d > pos) [[unlikely]]
            return false;
        in.RefillWord();
        e = Lookup<kLitPrimaryBits>(lit, in.Peek());

        CopyMatch(out + pos, d, len);
        pos += len;
    }

    while (!ended) {
        if ((e & kKindMask) == kKindLiteral) {
            if (kChunkSize - pos < 3) {
                // Near the end of the area: one literal at a time, each checked.
                if (pos >= kChunkSize) return false;
                out[pos++] = static_cast<std::uint8_t>(Value(e));
                in.Drop(CodeBits(e));
                in.Refill();
                e = Lookup<kLitPrimaryBits>(lit, in.Peek());
                continue;
            }
            // Up to three literals per refill (3 x 15 bits <= 56); after one or two, at least
            // 26 bits are left, enough for the next lookup.
            out[pos++] = static_cast<std::uint8_t>(Value(e));
            in.Drop(CodeBits(e));
            e = Lookup<kLitPrimaryBits>(lit, in.Peek());
            if ((e & kKindMask) == kKindLiteral) {
                out[pos++] = static_cast<std::uint8_t>(Value(e));
                in.Drop(CodeBits(e));
                e = Lookup<kLitPrimaryBits>(lit, in.Peek());
                if ((e & kKindMask) == kKindLiteral) {
                    out[pos++] = static_cast<std::uint8_t>(Value(e));
                    in.Drop(CodeBits(e));
                    in.Refill();
                    e = Lookup<kLitPrimaryBits>(lit, in.Peek());
                    continue;
                }
            }
            // A length or end code was looked up with the bits at hand; refilling only adds bits
            // above them, and gives room for the whole length/distance pair.
            in.Refill();
        }
        if ((e & kKindMask) != kKindBase) {
            if ((e & kKindMask) != kKindEnd) return false;
            in.Drop(CodeBits(e));
            break;
        }
        const std::size_t len = Value(e) + in.TakeExtra(e);
        e = Lookup<kDistPrimaryBits>(dist, in.Peek());
        if ((e & kKindMask) != kKindBase) return false;
        const std::size_t d = Value(e) + in.TakeExtra(e);
        if (d > pos || len > kChunkSize - pos) return false;

        // The next symbol is looked up before the copy, so the two overlap.
        in.Refill();
        e = Lookup<kLitPrimaryBits>(lit, in.Peek());

        CopyMatch(out + pos, d, len);
        pos += len;
    }
    if (!in.Sound()) return false;
    produced = pos;
    return true;
}

}  // namespace qm::deflate
