// Compressed chunk bodies: match search, code construction and the bit writer.
//
// Contract: see deflate_work.h. Works only inside the PackWork it is given; the piece has been
// copied to w.input with kInputSlack readable bytes behind it, so match measurement may read
// whole words past the piece's end and cut the result afterwards.
#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "compress/deflate_work.h"

namespace qm::deflate {

namespace {

// Length (3..258) to length symbol offset (0..28) from 257.
constexpr std::array<std::uint8_t, kMaxMatch + 1> kLengthSymbol = [] {
    std::array<std::uint8_t, kMaxMatch + 1> t{};
    for (int s = 0; s < 29; ++s) {
        const int last = s == 28 ? 258 : kLengthBase[s] + (1 << kLengthExtra[s]) - 1;
        for (int len = kLengthBase[s]; len <= last && len <= 258; ++len)
            t[len] = static_cast<std::uint8_t>(s);
    }
    t[258] = 28;  // 258 has a symbol of its own; symbol 284 would otherwise claim it
    return t;
}();

// Distance code for distance - 1: direct below 256, by (distance - 1) >> 7 above.
constexpr std::array<std::uint8_t, 512> kDistanceCode = [] {
    std::array<std::uint8_t, 512> t{};
    for (int c = 0; c < 30; ++c) {
        const int first = kDistBase[c] - 1;
        const int last = first + (1 << kDistExtra[c]) - 1;
        for (int d = first; d <= last; ++d) {
            if (d < 256)
                t[d] = static_cast<std::uint8_t>(c);
            else
                t[256 + (d >> 7)] = static_cast<std::uint8_t>(c);
        }
    }
    return t;
}();

inline unsigned DistanceCode(std::size_t distance) {
    const std::size_t d = distance - 1;
    return d < 256 ? kDistanceCode[d] : kDistanceCode[256 + (d >> 7)];
}

inline std::uint64_t Load64(const std::uint8_t* p) {
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Number of equal bytes at x and y (x < y), at most `limit`. May read up to 7 bytes past
// y + limit; the input slack covers that.
inline std::size_t MatchLength(const std::uint8_t* buf, std::size_t x, std::size_t y, std::size_t limit) {
    std::size_t len = 0;
    if constexpr (std::endian::native == std::endian::little) {
        while (len < limit) {
            const std::uint64_t diff = Load64(buf + x + len) ^ Load64(buf + y + len);
            if (diff != 0) {
                len += static_cast<std::size_t>(std::countr_zero(diff)) >> 3;
                return len < limit ? len : limit;
            }
            len += 8;
        }
        return limit;
    } else {
        while (len < limit && buf[x + len] == buf[y + len]) ++len;
        return len;
    }
}

// Token layout: bits 0-8 literal/length symbol; for a match also bits 9-13 distance code,
// bits 14-18 the length's extra value and bits 19-31 the distance's extra value.
inline std::uint32_t MatchToken(std::size_t length, std::size_t distance, unsigned& lenSym,
                                unsigned& distCode) {
    const unsigned ls = kLengthSymbol[length];
    const unsigned dc = DistanceCode(distance);
    lenSym = 257 + ls;
    distCode = dc;
    const auto lenExtra = static_cast<std::uint32_t>(length - kLengthBase[ls]);
    const auto distExtra = static_cast<std::uint32_t>(distance - kDistBase[dc]);
    return lenSym | (dc << 9) | (lenExtra << 14) | (distExtra << 19);
}

inline unsigned Hash(const std::uint8_t* p) {
    return (static_cast<unsigned>(p[1] ^ p[2]) << 8) + static_cast<unsigned>(p[0] ^ p[2]);
}

// Greedy search with one position of lookahead. Fills w.tokens and the frequencies; returns
// the token count.
std::size_t SearchMatches(PackWork& w, std::size_t n, std::size_t tooFar) {
    const std::uint8_t* buf = w.input;
    std::uint16_t* head = w.head;
    std::uint16_t* prev = w.prev;

    // Chains for the whole piece first; position 0 stays out so that 0 can mean "none" and a
    // candidate c always has a byte before it (c - 1 is tried as a match for the position before).
    prev[0] = 0;
    for (std::size_t i = 1; i + 2 < n; ++i) {
        const unsigned h = Hash(buf + i);
        prev[i] = head[h];
        head[h] = static_cast<std::uint16_t>(i);
    }
    prev[n - 2] = 0;
    prev[n - 1] = 0;

    std::uint32_t* litFreq = w.litFreq;
    std::uint32_t* distFreq = w.distFreq;
    std::size_t count = 0;
    std::size_t a = 0;
    auto literal = [&] {
        w.tokens[count++] = buf[a];
        ++litFreq[buf[a]];
        ++a;
    };

    while (a < n) {
        std::size_t c = prev[a];
        const std::size_t low = a > kWindow ? a - kWindow : 0;
        if (c == 0 || c < low) {
            literal();
            continue;
        }

        // First search: the nearest candidate that gives at least 3 bytes.
        int budget = kChainLimit;
        const std::size_t limitA = std::min(kMaxMatch, n - a);
        std::size_t la = 0;
        std::size_t pa = 0;
        for (;;) {
            const std::size_t len = MatchLength(buf, c, a, limitA);
            if (len >= kMinMatch) {
                la = len;
                pa = c;
                break;
            }
            if (--budget == 0) break;
            c = prev[c];
            if (c == 0 || c < low) break;
        }
        if (la == 0) {
            literal();
            continue;
        }

        // Second search along the chain of a + 1 with what is left of the budget. A longer match
        // at a + 1 whose candidate is preceded by buf[a] also gives a longer match at a itself.
        std::size_t lb = la - 1;
        std::size_t pb = pa;
        const std::size_t limitB = std::min(kMaxMatch, n - a - 1);
        c = prev[a + 1];
        while (c != 0 && c >= low && budget > 0) {
            --budget;
            if (lb < limitB && buf[c + lb] == buf[a + 1 + lb]) {
                const std::size_t len = MatchLength(buf, c, a + 1, limitB);
                if (len > lb) {
                    lb = len;
                    pb = c;
                    if (buf[c - 1] == buf[a]) {
                        la = lb + 1;
                        pa = c - 1;
                    }
                }
            } else if (lb >= la && buf[c - 1] == buf[a]) {
                const std::size_t len = MatchLength(buf, c - 1, a, std::min(kMaxMatch - 1, n - a));
                if (len > la) {
                    la = len;
                    pa = c - 1;
                }
            }
            c = prev[c];
        }

        la = std::min(la, kMaxMatch);
        // Defer to the next position when its match is longer, or as long and much closer.
        if (la <= 2 || la < lb || (la == lb && pb > pa && a - pb < (a - pa) / 4)) {
            literal();
            continue;
        }
        const std::size_t length = std::min(la, n - a);
        const std::size_t distance = a - pa;
        // A 3-byte match far back costs more bits than the three literals it replaces.
        if (length <= 2 || (length == kMinMatch && distance >= tooFar)) {
            literal();
            continue;
        }
        unsigned lenSym = 0;
        unsigned distCode = 0;
        w.tokens[count++] = MatchToken(length, distance, lenSym, distCode);
        ++litFreq[lenSym];
        ++distFreq[distCode];
        a += length;
    }

    // Leave the head table empty for the next piece; cheaper than clearing all of it when
    // pieces are short.
    for (std::size_t i = 1; i + 2 < n; ++i) head[Hash(buf + i)] = 0;
    return count;
}

// Canonical codes (RFC 1951 3.2.2) from lengths, bit-reversed for LSB-first writing.
void CanonicalCodes(const std::uint8_t* lengths, int n, std::uint16_t* codes) {
    unsigned count[kMaxCodeBits + 1] = {};
    for (int s = 0; s < n; ++s) ++count[lengths[s]];
    count[0] = 0;
    unsigned next[kMaxCodeBits + 2] = {};
    unsigned code = 0;
    for (int len = 1; len <= kMaxCodeBits; ++len) {
        code = (code + count[len - 1]) << 1;
        next[len] = code;
    }
    for (int s = 0; s < n; ++s) {
        const unsigned len = lengths[s];
        if (len == 0) {
            codes[s] = 0;
            continue;
        }
        unsigned c = next[len]++;
        unsigned r = 0;
        for (unsigned i = 0; i < len; ++i) {
            r = (r << 1) | (c & 1);
            c >>= 1;
        }
        codes[s] = static_cast<std::uint16_t>(r);
    }
}

// Run-length coding of the code lengths. The first length of a nonzero run is written as itself
// and only its repetitions use 16; runs of zeros are coded from their first zero.
int RunLengths(const std::uint8_t* lengths, int m, PackWork& w) {
    int out = 0;
    int prev = -1;
    int j = 0;
    auto emit = [&](int sym, int extra) {
        w.runSym[out] = static_cast<std::uint8_t>(sym);
        w.runExtra[out] = static_cast<std::uint8_t>(extra);
        ++w.codeLenFreq[sym];
        ++out;
    };
    while (j < m) {
        const int v = lengths[j];
        const int r = m - j;
        if (v != 0 || r < 3) {
            if (v != prev || r < 3) {
                emit(v, 0);
                prev = v;
                ++j;
                continue;
            }
            const int cap = std::min(r, 6);
            int k = 0;
            while (k < cap && lengths[j + k] == v) ++k;
            if (k >= 3) {
                emit(16, k - 3);
            } else {
                for (int i = 0; i < k; ++i) emit(v, 0);
            }
            prev = v;
            j += k;
        } else {
            const int cap = std::min(r, 138);
            int k = 0;
            while (k < cap && lengths[j + k] == 0) ++k;
            if (k >= 3) {
                if (k <= 10)
                    emit(17, k - 3);
                else
                    emit(18, k - 11);
            } else {
                for (int i = 0; i < k; ++i) emit(0, 0);
            }
            prev = 0;
            j += k;
        }
    }
    return out;
}

class BitWriter {
  public:
    explicit BitWriter(std::uint8_t* out) : start_(out), out_(out) {}

    // n <= 32 bits, value already masked.
    void Put(std::uint32_t value, unsigned n) {
        acc_ |= static_cast<std::uint64_t>(value) << count_;
        count_ += n;
        if (count_ >= 32) {
            const auto word = static_cast<std::uint32_t>(acc_);
            if constexpr (std::endian::native == std::endian::little) {
                std::memcpy(out_, &word, 4);
            } else {
                for (int i = 0; i < 4; ++i) out_[i] = static_cast<std::uint8_t>(word >> (8 * i));
            }
            out_ += 4;
            acc_ >>= 32;
            count_ -= 32;
        }
    }

    // Pads the last byte with zero bits; returns the number of bytes written.
    std::size_t Finish() {
        while (count_ > 0) {
            *out_++ = static_cast<std::uint8_t>(acc_);
            acc_ >>= 8;
            count_ = count_ > 8 ? count_ - 8 : 0;
        }
        return static_cast<std::size_t>(out_ - start_);
    }

  private:
    std::uint8_t* start_;
    std::uint8_t* out_;
    std::uint64_t acc_ = 0;
    unsigned count_ = 0;
};

}  // namespace

void BuildCodeLengths(const std::uint32_t* freqIn, int n, int limit, std::uint8_t* lengths) {
    std::uint32_t freq[kMaxHLit];
    std::uint16_t symbols[kMaxHLit];
    std::uint32_t weight[2 * kMaxHLit];
    std::uint16_t parent[2 * kMaxHLit];
    std::uint8_t depth[2 * kMaxHLit];

    std::fill(lengths, lengths + n, std::uint8_t{0});
    int used = 0;
    for (int s = 0; s < n; ++s) {
        freq[s] = freqIn[s];
        if (freq[s] != 0) symbols[used++] = static_cast<std::uint16_t>(s);
    }
    if (used == 0) return;
    if (used == 1) {
        lengths[symbols[0]] = 1;
        lengths[symbols[0] == 0 ? 1 : 0] = 1;
        return;
    }

    for (;;) {
        // Leaves ordered by weight (symbol order breaks ties, so the result is deterministic),
        // then the classic two-queue merge: merged nodes come out in non-decreasing weight.
        std::sort(symbols, symbols + used, [&](std::uint16_t x, std::uint16_t y) {
            return freq[x] != freq[y] ? freq[x] < freq[y] : x < y;
        });
        for (int i = 0; i < used; ++i) weight[i] = freq[symbols[i]];
        int leaf = 0;
        int inner = used;  // next merged node to take
        int next = used;   // next merged node to create
        auto take = [&]() -> int {
            if (leaf < used && (inner == next || weight[leaf] <= weight[inner])) return leaf++;
            return inner++;
        };
        while (next < 2 * used - 1) {
            const int x = take();
            const int y = take();
            weight[next] = weight[x] + weight[y];
            parent[x] = static_cast<std::uint16_t>(next);
            parent[y] = static_cast<std::uint16_t>(next);
            ++next;
        }
        const int root = 2 * used - 2;
        depth[root] = 0;
        int maxDepth = 0;
        for (int i = root - 1; i >= 0; --i) {
            depth[i] = static_cast<std::uint8_t>(depth[parent[i]] + 1);
            if (i < used) maxDepth = std::max(maxDepth, static_cast<int>(depth[i]));
        }
        if (maxDepth <= limit) {
            for (int i = 0; i < used; ++i) lengths[symbols[i]] = depth[i];
            return;
        }
        // Too deep: flatten the distribution and build again. A frequency of 1 stays 1, so
        // every used symbol keeps a code; all-ones gives a balanced tree within any limit here.
        for (int i = 0; i < used; ++i) {
            std::uint32_t& f = freq[symbols[i]];
            f = f > 1 ? f / 2 : 1;
        }
    }
}

std::size_t PackBody(PackWork& w, std::size_t n, std::size_t tooFar) {
    std::fill(std::begin(w.litFreq), std::end(w.litFreq), 0u);
    std::fill(std::begin(w.distFreq), std::end(w.distFreq), 0u);
    std::fill(std::begin(w.codeLenFreq), std::end(w.codeLenFreq), 0u);

    const std::size_t tokenCount = SearchMatches(w, n, tooFar);
    w.litFreq[kEndOfBlock] = 1;

    BuildCodeLengths(w.litFreq, kNumLitLen, kLitLenLimit, w.litLen);
    w.litLen[286] = w.litLen[287] = 0;
    int hlit = kNumLitLen;
    while (w.litLen[hlit - 1] == 0) --hlit;  // symbol 256 always has a length

    std::fill(std::begin(w.distLen), std::end(w.distLen), std::uint8_t{0});
    int usedDist = 0;
    int lastDist = 0;
    for (int d = 0; d < kNumDist; ++d) {
        if (w.distFreq[d] != 0) {
            ++usedDist;
            lastDist = d;
        }
    }
    int hdist = 1;
    if (usedDist == 1) {
        // A lone distance code is the single bit 0; decoders accept this one incomplete code.
        w.distLen[lastDist] = 1;
        hdist = lastDist + 1;
    } else if (usedDist > 1) {
        BuildCodeLengths(w.distFreq, kNumDist, kDistLimit, w.distLen);
        hdist = lastDist + 1;
    }

    std::uint8_t all[kMaxHLit + kMaxHDist];
    std::copy(w.litLen, w.litLen + hlit, all);
    std::copy(w.distLen, w.distLen + hdist, all + hlit);
    const int runs = RunLengths(all, hlit + hdist, w);

    BuildCodeLengths(w.codeLenFreq, kNumCodeLen, kCodeLenLimit, w.codeLenLen);
    int hclen = kNumCodeLen;
    while (hclen > 4 && w.codeLenLen[kCodeLenOrder[hclen - 1]] == 0) --hclen;

    CanonicalCodes(w.litLen, hlit, w.litCode);
    CanonicalCodes(w.distLen, hdist, w.distCode);
    CanonicalCodes(w.codeLenLen, kNumCodeLen, w.codeLenCode);

    BitWriter bits(w.chunk + 1);
    bits.Put(static_cast<std::uint32_t>(hlit - 257), 5);
    bits.Put(static_cast<std::uint32_t>(hdist - 1), 5);
    bits.Put(static_cast<std::uint32_t>(hclen - 4), 4);
    for (int i = 0; i < hclen; ++i) bits.Put(w.codeLenLen[kCodeLenOrder[i]], 3);
    static constexpr unsigned kRunExtraBits[3] = {2, 3, 7};
    for (int i = 0; i < runs; ++i) {
        const unsigned sym = w.runSym[i];
        bits.Put(w.codeLenCode[sym], w.codeLenLen[sym]);
        if (sym >= 16) bits.Put(w.runExtra[i], kRunExtraBits[sym - 16]);
    }

    const std::uint32_t* tokens = w.tokens;
    const std::uint16_t* litCode = w.litCode;
    const std::uint8_t* litLen = w.litLen;
    for (std::size_t i = 0; i < tokenCount; ++i) {
        const std::uint32_t t = tokens[i];
        const unsigned sym = t & 0x1FF;
        if (sym < 256) {
            bits.Put(litCode[sym], litLen[sym]);
            continue;
        }
        const unsigned ls = sym - 257;
        const unsigned dc = (t >> 9) & 0x1F;
        const unsigned lenBits = litLen[sym];
        bits.Put(litCode[sym] | (((t >> 14) & 0x1F) << lenBits), lenBits + kLengthExtra[ls]);
        const unsigned distBits = w.distLen[dc];
        bits.Put(w.distCode[dc] | ((t >> 19) << distBits), distBits + kDistExtra[dc]);
    }
    bits.Put(litCode[kEndOfBlock], litLen[kEndOfBlock]);
    return bits.Finish();
}

}  // namespace qm::deflate
