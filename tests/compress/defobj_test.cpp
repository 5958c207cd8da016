// The compressed form's fixed bytes, round trips and the decoder's answer to malformed input.
#include "compress/defobj.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "block_builder.h"

namespace qm {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Compressed(const Bytes& in) {
    TQMDefObj def;
    Bytes data = in;
    EXPECT_TRUE(def.CompressBlock(data));
    return data;
}

// The encoded chunks of a compressed form, in order.
std::vector<Bytes> Chunks(const Bytes& form) {
    std::vector<Bytes> chunks;
    std::size_t pos = 0;
    while (pos + 2 <= form.size()) {
        const std::size_t m = form[pos] | (form[pos + 1] << 8);
        pos += 2;
        if (form.size() - pos < m) break;
        chunks.emplace_back(form.begin() + static_cast<std::ptrdiff_t>(pos),
                            form.begin() + static_cast<std::ptrdiff_t>(pos + m));
        pos += m;
    }
    EXPECT_EQ(pos, form.size()) << "framing does not cover the form";
    return chunks;
}

// A compressed chunk with the given body, framed with its length.
Bytes Frame(const Bytes& body, std::uint8_t marker = 0xCD, std::uint8_t trailer = 0x47) {
    const std::size_t m = body.size() + 2;
    Bytes form = {static_cast<std::uint8_t>(m), static_cast<std::uint8_t>(m >> 8), marker};
    form.insert(form.end(), body.begin(), body.end());
    form.push_back(trailer);
    return form;
}

Bytes RandomBytes(std::size_t n, std::uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& x : b) x = static_cast<std::uint8_t>(rng());
    return b;
}

// Words drawn from a small vocabulary with random separators: matches of many lengths and
// distances, like text.
Bytes TextLike(std::size_t n, std::uint32_t seed) {
    static const char* words[] = {"the ",   "packet ", "session ", "okay ", "cart ", "sack ",    "pipe ",
                                  "window", "flow\n",  "control ", "key ",  "Jar",   "compress", ", ",
                                  "and ",   "of ",     "to ",      "a ",    "{\n  ", "}\n"};
    std::mt19937 rng(seed);
    Bytes b;
    while (b.size() < n) {
        const char* w = words[rng() % (sizeof words / sizeof words[0])];
        b.insert(b.end(), w, w + std::strlen(w));
        if (rng() % 7 == 0) b.push_back(static_cast<std::uint8_t>('0' + rng() % 10));
    }
    b.resize(n);
    return b;
}

void ExpectRoundTrip(const Bytes& in, const std::string& what) {
    TQMDefObj def;
    Bytes data = in;
    ASSERT_TRUE(def.CompressBlock(data)) << what;
    const Bytes form = data;
    ASSERT_TRUE(def.DecompressBlock(data)) << what;
    EXPECT_TRUE(data == in) << what << ": round trip differs";
    Bytes again = in;
    def.CompressBlock(again);
    EXPECT_TRUE(again == form) << what << ": second compression differs";
}

TEST(DefObjFormat, EmptyStaysEmptyBothWays) {
    TQMDefObj def;
    Bytes data;
    EXPECT_TRUE(def.CompressBlock(data));
    EXPECT_TRUE(data.empty());
    EXPECT_TRUE(def.DecompressBlock(data));
    EXPECT_TRUE(data.empty());
}

TEST(DefObjFormat, ShortPiecesAreStored) {
    EXPECT_EQ(Compressed({'a', 'b', 'c'}), (Bytes{0x05, 0x00, 0x4D, 0x61, 0x62, 0x63, 0x47}));

    const Bytes nineteen = RandomBytes(19, 1);
    const Bytes form = Compressed(nineteen);
    ASSERT_EQ(form.size(), 23u);
    EXPECT_EQ(form[0], 21);
    EXPECT_EQ(form[1], 0);
    EXPECT_EQ(form[2], 0x4D);
    EXPECT_TRUE(std::equal(nineteen.begin(), nineteen.end(), form.begin() + 3));
    EXPECT_EQ(form[22], 0x47);
}

TEST(DefObjFormat, TwentyBytesAreCompressedEvenWhenLonger) {
    const Bytes form = Compressed(RandomBytes(20, 2));
    const auto chunks = Chunks(form);
    ASSERT_EQ(chunks.size(), 1u);
    EXPECT_EQ(chunks[0].front(), 0xCD);
    EXPECT_EQ(chunks[0].back(), 0x47);
    EXPECT_GT(chunks[0].size(), 22u);  // incompressible: the code tables make it longer
}

TEST(DefObjFormat, PiecesOf32768Bytes) {
    const Bytes full = TextLike(32768, 3);
    EXPECT_EQ(Chunks(Compressed(full)).size(), 1u);

    Bytes more = full;
    more.push_back('!');
    const auto chunks = Chunks(Compressed(more));
    ASSERT_EQ(chunks.size(), 2u);
    EXPECT_EQ(chunks[0].front(), 0xCD);
    EXPECT_EQ(chunks[1], (Bytes{0x4D, '!', 0x47}));
    ExpectRoundTrip(more, "32769 bytes");
}

TEST(DefObjFormat, ZerosCompressToTinyChunks) {
    const Bytes zeros(40000, 0);
    const Bytes form = Compressed(zeros);
    const auto chunks = Chunks(form);
    ASSERT_EQ(chunks.size(), 2u);
    for (const Bytes& c : chunks) {
        EXPECT_EQ(c.front(), 0xCD);
        EXPECT_LT(c.size(), 64u);
    }
    TQMDefObj def;
    Bytes data = form;
    ASSERT_TRUE(def.DecompressBlock(data));
    EXPECT_TRUE(data == zeros);
}

// Random bytes whose 3-byte sequences are all different, so that the only match in the piece is
// the one a test plants.
Bytes WithoutRepeatedTriples(std::size_t n) {
    for (std::uint32_t seed = 100;; ++seed) {
        Bytes b = RandomBytes(n, seed);
        std::set<std::uint32_t> seen;
        bool unique = true;
        for (std::size_t i = 0; i + 2 < n && unique; ++i) {
            unique = seen.insert(b[i] | (b[i + 1] << 8) | (b[i + 2] << 16)).second;
        }
        if (unique) return b;
    }
}

TEST(DefObjFormat, ThreeByteMatchesOnlyWithinTooFar) {
    // HDIST tells whether a distance code was used: 1 (field 0) for none, code + 1 for a lone
    // code. Distances 6145..8192 share code 25.
    for (const std::size_t distance : {std::size_t{8191}, std::size_t{8192}}) {
        Bytes b = WithoutRepeatedTriples(9000);
        const std::size_t from = 300;
        const std::size_t to = from + distance;
        std::memcpy(&b[to], &b[from], 3);
        // The neighbours must not extend the match in either direction.
        b[to - 1] = static_cast<std::uint8_t>(b[from - 1] + 1);
        b[to + 3] = static_cast<std::uint8_t>(b[from + 3] + 1);
        std::set<std::uint32_t> seen;
        int repeats = 0;
        for (std::size_t i = 0; i + 2 < b.size(); ++i) {
            repeats += !seen.insert(b[i] | (b[i + 1] << 8) | (b[i + 2] << 16)).second;
        }
        ASSERT_EQ(repeats, 1) << "fixture must hold exactly the planted match";

        const auto chunks = Chunks(Compressed(b));
        ASSERT_EQ(chunks.size(), 1u);
        const unsigned hdistField = (chunks[0][1] >> 5) | ((chunks[0][2] & 3) << 3);
        EXPECT_EQ(hdistField, distance < 8192 ? 25u : 0u) << "distance " << distance;
        ExpectRoundTrip(b, "planted match");
    }
}

TEST(DefObjRoundTrip, VariedInputs) {
    Bytes mixed = TextLike(50000, 7);
    const Bytes noise = RandomBytes(20000, 8);
    mixed.insert(mixed.begin() + 10000, noise.begin(), noise.end());
    Bytes ramps;
    for (std::uint32_t i = 0; i < 70000; ++i) ramps.push_back(static_cast<std::uint8_t>((i * i) >> 7));
    Bytes period;  // every repeat at one distance: the lone-distance-code case
    for (int i = 0; i < 5000; ++i) period.push_back("xyzw"[i % 4]);
    Bytes longRuns;
    for (int i = 0; i < 100; ++i) longRuns.insert(longRuns.end(), 300 + i * 7, static_cast<std::uint8_t>(i));

    const struct {
        const char* name;
        Bytes data;
    } cases[] = {
        {"one byte", {42}},
        {"20 zeros", Bytes(20, 0)},
        {"21 random", RandomBytes(21, 9)},
        {"random 100000", RandomBytes(100000, 10)},
        {"text 32767", TextLike(32767, 11)},
        {"text 65536", TextLike(65536, 12)},
        {"text with noise", mixed},
        {"ramps", ramps},
        {"one period", period},
        {"long runs", longRuns},
        {"all bytes",
         [] {
             Bytes b;
             for (int r = 0; r < 3; ++r)
                 for (int i = 0; i < 256; ++i) b.push_back(static_cast<std::uint8_t>(i));
             return b;
         }()},
    };
    for (const auto& c : cases) ExpectRoundTrip(c.data, c.name);
}

TEST(DefObjRoundTrip, SkewedFrequenciesHitTheLengthLimits) {
    // Fibonacci-like symbol counts give a Huffman tree deeper than 15 levels, so the lengths
    // must be limited; the decoder rejects codes longer than 15 bits, so a round trip proves it.
    Bytes b;
    std::uint64_t f1 = 1, f2 = 1;
    for (int s = 0; s < 25 && b.size() < 30000; ++s) {
        for (std::uint64_t k = 0; k < f1 && b.size() < 30000; ++k) {
            b.push_back(static_cast<std::uint8_t>(s * 10));
            b.push_back(static_cast<std::uint8_t>(k * 131 + s));  // breaks up runs and matches
        }
        const std::uint64_t t = f1 + f2;
        f1 = f2;
        f2 = t;
    }
    ExpectRoundTrip(b, "skewed");
}

TEST(DefObjRoundTrip, OneObjectServesManyCalls) {
    TQMDefObj def;
    for (std::uint32_t seed = 0; seed < 20; ++seed) {
        const Bytes in = seed % 2 ? TextLike(1000 + seed * 3001, seed) : RandomBytes(seed * 977, seed);
        Bytes data = in;
        def.CompressBlock(data);
        ASSERT_TRUE(def.DecompressBlock(data)) << seed;
        ASSERT_TRUE(data == in) << seed;
    }
}

// ---- Malformed input: false, and the data exactly as it was -----------------------------------

void ExpectRejected(const Bytes& form, const std::string& what) {
    TQMDefObj def;
    Bytes data = form;
    EXPECT_FALSE(def.DecompressBlock(data)) << what;
    EXPECT_TRUE(data == form) << what << ": input was changed";
}

TEST(DefObjMalformed, Framing) {
    const Bytes good = Compressed(TextLike(40000, 20));
    Bytes badMarker = Compressed({'a', 'b', 'c'});
    badMarker[2] = 0x4E;
    Bytes badTrailer = Compressed({'a', 'b', 'c'});
    badTrailer[6] = 0x46;
    Bytes badSecondMarker = good;
    badSecondMarker[2 + (good[0] | (good[1] << 8)) + 2] = 0x4E;
    Bytes stored32769 = {0x03, 0x80, 0x4D};  // m = 32771: a stored piece of 32769 bytes
    stored32769.resize(3 + 32769, 'x');
    stored32769.push_back(0x47);

    const struct {
        const char* name;
        Bytes form;
    } cases[] = {
        {"one byte", {0x05}},
        {"length past the end", {0x06, 0x00, 0x4D, 'a', 'b', 'c', 0x47}},
        {"chunk of length 0", {0x00, 0x00}},
        {"chunk of length 1", {0x01, 0x00, 0x4D}},
        {"marker 0x4E", badMarker},
        {"trailer not 0x47", badTrailer},
        {"second chunk's marker", badSecondMarker},
        {"good chunks then one stray byte",
         [&] {
             Bytes b = good;
             b.push_back(0);
             return b;
         }()},
        {"second chunk cut short", Bytes(good.begin(), good.end() - 1)},
        {"stored piece over 32768", stored32769},
    };
    for (const auto& c : cases) ExpectRejected(c.form, c.name);
}

TEST(DefObjMalformed, StoredPieceOfExactly32768IsAccepted) {
    Bytes form = {0x02, 0x80, 0x4D};
    form.resize(3 + 32768, 'y');
    form.push_back(0x47);
    TQMDefObj def;
    ASSERT_TRUE(def.DecompressBlock(form));
    EXPECT_EQ(form, Bytes(32768, 'y'));
}

using test::BlockBuilder;
using test::FixedLitLengths;
using test::FullDistLengths;

// Literal/length lengths with codes only for 'a', 'b', end-of-block and length symbol 257.
std::vector<int> SmallLit() {
    std::vector<int> l(258, 0);
    l['a'] = 2;
    l['b'] = 2;
    l[256] = 2;
    l[257] = 2;
    return l;
}

TEST(DefObjMalformed, CodesAndSymbols) {
    // Over-subscribed code-length code: every symbol one bit long.
    test::BitSink overCl;
    overCl.Put(0, 5);
    overCl.Put(0, 5);
    overCl.Put(15, 4);
    for (int i = 0; i < 19; ++i) overCl.Put(1, 3);
    // Incomplete code-length code: two symbols of two bits.
    test::BitSink partCl;
    partCl.Put(0, 5);
    partCl.Put(0, 5);
    partCl.Put(0, 4);
    partCl.Put(2, 3);
    partCl.Put(2, 3);
    partCl.Put(0, 3);
    partCl.Put(0, 3);
    partCl.Put(0, 16);

    std::vector<int> incompleteLit(257, 0);
    incompleteLit['a'] = 1;
    incompleteLit[256] = 2;
    std::vector<int> overLit(257, 0);
    overLit['a'] = overLit['b'] = overLit[256] = 1;
    std::vector<int> loneLit(257, 0);
    loneLit[256] = 1;
    std::vector<int> noEnd = SmallLit();
    noEnd[256] = 0;
    noEnd['c'] = 2;
    std::vector<int> withUndefined = FixedLitLengths();

    const struct {
        const char* name;
        Bytes body;
    } cases[] = {
        {"over-subscribed code-length code", overCl.Bytes()},
        {"incomplete code-length code", partCl.Bytes()},
        {"repeat with no previous length",
         BlockBuilder(SmallLit(), {1}).Header().LengthSymbol(16, 0, 2).Raw(0, 32).Body()},
        {"zero run past HLIT + HDIST",
         [] {
             BlockBuilder b(SmallLit(), {1});
             b.Header();
             for (int i = 0; i < 250; ++i) b.LengthSymbol(0);
             b.LengthSymbol(18, 127, 7);  // 138 zeros where 9 lengths are left
             return b.Raw(0, 32).Body();
         }()},
        {"repeat past HLIT + HDIST",
         [] {
             BlockBuilder b(SmallLit(), {1});
             b.Header();
             for (int i = 0; i < 257; ++i) b.LengthSymbol(2);
             b.LengthSymbol(16, 3, 2);  // 6 copies where 2 lengths are left
             return b.Raw(0, 32).Body();
         }()},
        {"incomplete literal/length code", BlockBuilder(incompleteLit, {1}).Start().Lit('a').Lit(256).Body()},
        {"over-subscribed literal/length code", BlockBuilder(overLit, {1}).Start().Lit('a').Lit(256).Body()},
        {"lone literal/length code", BlockBuilder(loneLit, {1}).Start().Lit(256).Body()},
        {"no end-of-block code", BlockBuilder(noEnd, {1}).Start().Lit('a').Raw(0, 32).Body()},
        {"incomplete distance code", BlockBuilder(SmallLit(), {2}).Start().Lit('a').Lit(256).Body()},
        {"over-subscribed distance code",
         BlockBuilder(SmallLit(), {1, 1, 1}).Start().Lit('a').Lit(256).Body()},
        {"undefined length symbol 286",
         BlockBuilder(withUndefined, FullDistLengths()).Start().Lit('a').Lit(286).Dist(0).Lit(256).Body()},
        {"undefined distance code 30",
         BlockBuilder(withUndefined, FullDistLengths()).Start().Lit('a').Lit(257).Dist(30).Lit(256).Body()},
        {"length with no distance codes",
         BlockBuilder(SmallLit(), {0}).Start().Lit('a').Lit(257).Raw(0, 8).Lit(256).Body()},
        {"distance before the start",
         BlockBuilder(SmallLit(), {0, 1}).Start().Lit('a').Lit(257).Dist(1).Lit(256).Body()},
        {"end-of-block only in bits past the end",
         [] {
             // The end-of-block code is the single bit 0, so the zeros that stand in for bits
             // past the end would decode to it: the last real byte must be full.
             std::vector<int> l(258, 0);
             l[256] = 1;
             l['a'] = 2;
             l['b'] = l['c'] = 3;
             BlockBuilder b(l, {1});
             b.Start().Lit('a');
             while (b.BitCount() % 8 != 0) b.Lit('b');
             return b.Body();
         }()},
        {"bits run out in a literal run", BlockBuilder(SmallLit(), {1}).Start().Lit('a').Lit('b').Body()},
    };
    for (const auto& c : cases) ExpectRejected(Frame(c.body), c.name);
}

TEST(DefObjMalformed, PieceOver32768FromMatches) {
    // 'a' then matches of 258 at distance 1: 1 + 127 x 258 = 32767 bytes is fine, one more is not.
    for (const int matches : {127, 128}) {
        BlockBuilder b(FixedLitLengths(), FullDistLengths());
        b.Start().Lit('a');
        for (int i = 0; i < matches; ++i) b.Lit(285).Dist(0);
        b.Lit(256);
        TQMDefObj def;
        Bytes data = Frame(b.Body());
        if (matches == 127) {
            ASSERT_TRUE(def.DecompressBlock(data));
            EXPECT_EQ(data, Bytes(1 + 127 * 258, 'a'));
        } else {
            ExpectRejected(data, "piece of 33025 bytes");
        }
    }
    // Exactly 32768 through a literal at the end.
    BlockBuilder b(FixedLitLengths(), FullDistLengths());
    b.Start().Lit('a');
    for (int i = 0; i < 127; ++i) b.Lit(285).Dist(0);
    b.Lit('z').Lit('z').Lit(256);
    ExpectRejected(Frame(b.Body()), "literal past 32768");
}

TEST(DefObjDecode, LoneDistanceCodeAndOtherRfcForms) {
    // A lone distance code of one bit: both bit values name it.
    for (const std::uint32_t bit : {0u, 1u}) {
        BlockBuilder b(SmallLit(), {0, 0, 0, 0, 1});  // code 4: distances 5..6, one extra bit
        b.Start().Lit('a').Lit('b').Lit('a').Lit('b').Lit('a').Lit(257).Raw(bit, 1).Raw(0, 1).Lit(256);
        TQMDefObj def;
        Bytes data = Frame(b.Body());
        ASSERT_TRUE(def.DecompressBlock(data)) << bit;
        EXPECT_EQ(std::string(data.begin(), data.end()),
                  "ababa"
                  "aba")
            << bit;
    }

    // Run-length symbols 16, 17 and 18 in the lengths, an overlapping match, and bits after
    // the end-of-block code.
    std::vector<int> lit(258, 0);
    lit['a'] = lit['b'] = lit['c'] = lit['d'] = 3;
    lit[256] = lit[257] = 2;
    BlockBuilder b(lit, {1});
    b.Header();
    b.LengthSymbol(18, 86, 7);                          // 0..96: 97 zeros
    b.LengthSymbol(3).LengthSymbol(16, 0, 2);           // 97..100: 3, then 3 copies
    b.LengthSymbol(18, 127, 7).LengthSymbol(17, 7, 3);  // 101..248: 138 + 10 zeros
    b.LengthSymbol(17, 4, 3);                           // 249..255: 7 zeros
    b.LengthSymbol(2).LengthSymbol(2).LengthSymbol(1);  // 256, 257, distance code 0
    b.Lit('a').Lit('b').Lit(257).Dist(0).Lit(256).Raw(0x5A5A, 16);
    TQMDefObj def;
    Bytes data = Frame(b.Body());
    ASSERT_TRUE(def.DecompressBlock(data));
    EXPECT_EQ(std::string(data.begin(), data.end()), "abbbb");
}

// RFC 1951 length and distance codes, written out here independently of the library's tables.
struct Code {
    int symbol;
    std::uint32_t extra;
    unsigned bits;
};
Code LengthCode(int length) {
    static const int base[] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                               31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
    static const unsigned extra[] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                     2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
    int i = 28;
    while (base[i] > length) --i;
    return {257 + i, static_cast<std::uint32_t>(length - base[i]), extra[i]};
}
Code DistanceCode(int distance) {
    int code = 0;
    int base = 1;
    for (;; ++code) {
        const unsigned bits = code < 4 ? 0 : static_cast<unsigned>(code / 2 - 1);
        if (distance < base + (1 << bits)) return {code, static_cast<std::uint32_t>(distance - base), bits};
        base += 1 << bits;
    }
}

TEST(DefObjDecode, MatchCopiesAtEveryShortDistanceAndLength) {
    // Overlapping copies of short periods and word-wise copies of all lengths around the word
    // size, against a byte-by-byte expansion.
    for (int distance = 1; distance <= 24; ++distance) {
        BlockBuilder b(FixedLitLengths(), FullDistLengths());
        b.Start();
        std::string expected;
        for (int i = 0; i < distance; ++i) {
            const char c = static_cast<char>('A' + (i * 7) % 26);
            b.Lit(c);
            expected.push_back(c);
        }
        for (int length = 3; length <= 40; ++length) {
            const Code l = LengthCode(length);
            const Code d = DistanceCode(distance);
            b.Lit(l.symbol, l.extra, l.bits).Dist(d.symbol, d.extra, d.bits);
            for (int k = 0; k < length; ++k) expected.push_back(expected[expected.size() - distance]);
            b.Lit('.');
            expected.push_back('.');
        }
        b.Lit(256);
        TQMDefObj def;
        Bytes data = Frame(b.Body());
        ASSERT_TRUE(def.DecompressBlock(data)) << distance;
        EXPECT_EQ(std::string(data.begin(), data.end()), expected) << "distance " << distance;
    }
}

// The decoder's unchecked fast loop runs while the body has bytes to spare and the piece has
// room for a longest match; these faults and limits arise there, or where it hands over.
TEST(DefObjMalformed, FaultsFarFromBothEnds) {
    const auto prefix = [](BlockBuilder& b) -> BlockBuilder& {
        b.Start();
        for (int i = 0; i < 200; ++i) b.Lit('a' + i % 26);
        return b;
    };
    const auto tail = [](BlockBuilder& b) {
        for (int i = 0; i < 16; ++i) b.Raw(0xFFFFFFFF, 32);  // 64 bytes: the body is far from its end
        return b.Body();
    };
    const Code far = DistanceCode(201);
    const struct {
        const char* name;
        Bytes body;
    } cases[] = {
        {"undefined length symbol 286",
         [&] {
             BlockBuilder b(FixedLitLengths(), FullDistLengths());
             prefix(b).Lit(286).Dist(0);
             return tail(b);
         }()},
        {"undefined distance code 31",
         [&] {
             BlockBuilder b(FixedLitLengths(), FullDistLengths());
             prefix(b).Lit(257).Dist(31);
             return tail(b);
         }()},
        {"distance one before the start",
         [&] {
             BlockBuilder b(FixedLitLengths(), FullDistLengths());
             prefix(b).Lit(257).Dist(far.symbol, far.extra, far.bits);
             return tail(b);
         }()},
        {"32769 literals",
         [&] {
             BlockBuilder b(FixedLitLengths(), FullDistLengths());
             b.Start();
             for (int i = 0; i < 32769; ++i) b.Lit('q');
             b.Lit(256);
             return tail(b);
         }()},
        {"match one past 32768 after a long literal run",
         [&] {
             BlockBuilder b(FixedLitLengths(), FullDistLengths());
             b.Start();
             for (int i = 0; i < 32768 - 257; ++i) b.Lit('q');
             b.Lit(285).Dist(0).Lit(256);  // 258 bytes where 257 are left
             return tail(b);
         }()},
    };
    for (const auto& c : cases) ExpectRejected(Frame(c.body), c.name);

    // The same places with valid codes: a match reaching back to the very first byte, the end
    // of the block with many bytes of unused bits behind it, and a piece filled to exactly
    // 32768 bytes by literals and by a final match.
    {
        BlockBuilder b(FixedLitLengths(), FullDistLengths());
        const Code atStart = DistanceCode(200);
        prefix(b).Lit(258).Dist(atStart.symbol, atStart.extra, atStart.bits).Lit(256);
        std::string expected;
        for (int i = 0; i < 200; ++i) expected.push_back(static_cast<char>('a' + i % 26));
        expected += expected.substr(0, 4);
        TQMDefObj def;
        Bytes data = Frame(tail(b));
        ASSERT_TRUE(def.DecompressBlock(data));
        EXPECT_EQ(std::string(data.begin(), data.end()), expected);
    }
    // The last match's word copy writes past the piece; through UnpackChunk it lands in the
    // object's own output area, whose end the sanitizer guards.
    const struct {
        int literals, length, distance;
    } fills[] = {{32768, 0, 0}, {32768 - 258, 258, 1}, {32768 - 3, 3, 8}, {32768 - 11, 11, 9}};
    for (const auto& f : fills) {
        BlockBuilder b(FixedLitLengths(), FullDistLengths());
        b.Start();
        for (int i = 0; i < f.literals; ++i) b.Lit('q');
        if (f.length != 0) {
            const Code l = LengthCode(f.length);
            const Code d = DistanceCode(f.distance);
            b.Lit(l.symbol, l.extra, l.bits).Dist(d.symbol, d.extra, d.bits);
        }
        b.Lit(256);
        TQMDefObj def;
        Bytes data = Frame(tail(b));
        const Bytes chunk(data.begin() + 2, data.end());
        ASSERT_TRUE(def.DecompressBlock(data)) << f.literals;
        EXPECT_EQ(data, Bytes(32768, 'q')) << f.literals;
        std::span<const std::uint8_t> piece;
        ASSERT_TRUE(def.UnpackChunk(chunk, piece)) << f.literals;
        EXPECT_TRUE(Bytes(piece.begin(), piece.end()) == Bytes(32768, 'q')) << f.literals;
    }
}

TEST(DefObjDecode, LimitBoundsTheOutput) {
    const Bytes in = TextLike(100000, 30);
    TQMDefObj def;
    Bytes form = in;
    def.CompressBlock(form);
    Bytes data = form;
    EXPECT_FALSE(def.DecompressBlock(data, in.size() - 1));
    EXPECT_TRUE(data == form);
    EXPECT_TRUE(def.DecompressBlock(data, in.size()));
    EXPECT_TRUE(data == in);
}

TEST(DefObjDecode, PackAndUnpackSingleChunks) {
    TQMDefObj def;
    EXPECT_TRUE(def.PackChunk(Bytes(32769, 0)).empty());
    const Bytes piece = TextLike(5000, 31);
    const auto chunk = def.PackChunk(piece);
    const Bytes copy(chunk.begin(), chunk.end());
    std::span<const std::uint8_t> back;
    ASSERT_TRUE(def.UnpackChunk(copy, back));
    EXPECT_TRUE(Bytes(back.begin(), back.end()) == piece);
}

}  // namespace
}  // namespace qm
