// zlib as an independent oracle for the compressed chunk bodies: with the 3 block-header bits
// (BFINAL = 1, BTYPE = 2) put in front, each of our bodies must be a raw Deflate stream that
// zlib inflates to the piece; and zlib's own dynamic blocks, with those bits taken off and
// framed as a chunk, must decode with ours. Linux only.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "compress/defobj.h"

namespace qm {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The bits of `in` moved up by 3 with `header` in the low 3 bits of the first byte.
Bytes PrependThreeBits(const Bytes& in, unsigned header) {
    Bytes out(in.size() + 1, 0);
    unsigned carry = header;
    for (std::size_t i = 0; i < in.size(); ++i) {
        out[i] = static_cast<std::uint8_t>(carry | (in[i] << 3));
        carry = in[i] >> 5;
    }
    out[in.size()] = static_cast<std::uint8_t>(carry);
    return out;
}

Bytes DropThreeBits(const Bytes& in) {
    Bytes out(in.size(), 0);
    for (std::size_t i = 0; i < in.size(); ++i) {
        out[i] = static_cast<std::uint8_t>((in[i] >> 3) | (i + 1 < in.size() ? in[i + 1] << 5 : 0));
    }
    return out;
}

bool RawInflate(const Bytes& stream, Bytes& out, std::size_t expected) {
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK) return false;
    out.assign(expected + 64, 0);
    z.next_in = const_cast<Bytef*>(stream.data());
    z.avail_in = static_cast<uInt>(stream.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    const int rc = inflate(&z, Z_FINISH);
    out.resize(z.total_out);
    inflateEnd(&z);
    return rc == Z_STREAM_END;
}

Bytes RawDeflate(const Bytes& in, int level, int strategy) {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, -15, 9, strategy), Z_OK);
    Bytes out(deflateBound(&z, in.size()) + 16);
    z.next_in = const_cast<Bytef*>(in.data());
    z.avail_in = static_cast<uInt>(in.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(::deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

Bytes ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return Bytes{std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

// Samples of what hosts compress: text, source, binaries, noise, runs.
std::vector<Bytes> Corpus() {
    std::vector<Bytes> corpus;
    for (const char* path : {"/usr/include/stdio.h", "/usr/include/zlib.h", "/usr/bin/cmake", "/etc/services",
                             "/usr/share/common-licenses/GPL-3"}) {
        Bytes b = ReadFile(path);
        if (b.size() > 300000) b.resize(300000);
        if (!b.empty()) corpus.push_back(std::move(b));
    }
    std::mt19937 rng(5);
    Bytes noise(70000);
    for (auto& x : noise) x = static_cast<std::uint8_t>(rng());
    corpus.push_back(noise);
    Bytes lowEntropy(90000);
    for (auto& x : lowEntropy) x = static_cast<std::uint8_t>("aab c"[rng() % 5]);
    corpus.push_back(lowEntropy);
    corpus.push_back(Bytes(70000, 0xEE));
    Bytes words;
    while (words.size() < 100000) {
        const int len = 3 + static_cast<int>(rng() % 6);
        for (int i = 0; i < len; ++i) words.push_back(static_cast<std::uint8_t>('a' + rng() % 6));
        words.push_back(' ');
    }
    corpus.push_back(words);
    return corpus;
}

TEST(ZlibOracle, ZlibInflatesEveryCompressedBody) {
    const auto corpus = Corpus();
    ASSERT_GE(corpus.size(), 7u) << "the real files are missing";
    TQMDefObj def;
    int bodies = 0;
    for (std::size_t k = 0; k < corpus.size(); ++k) {
        const Bytes& in = corpus[k];
        Bytes form = in;
        def.CompressBlock(form);
        std::size_t pos = 0;
        std::size_t piecePos = 0;
        while (pos < form.size()) {
            const std::size_t m = form[pos] | (form[pos + 1] << 8);
            const Bytes chunk(form.begin() + static_cast<std::ptrdiff_t>(pos + 2),
                              form.begin() + static_cast<std::ptrdiff_t>(pos + 2 + m));
            const std::size_t n = std::min<std::size_t>(32768, in.size() - piecePos);
            const Bytes piece(in.begin() + static_cast<std::ptrdiff_t>(piecePos),
                              in.begin() + static_cast<std::ptrdiff_t>(piecePos + n));
            ASSERT_EQ(chunk[0], n < 20 ? 0x4D : 0xCD);
            if (chunk[0] == 0xCD) {
                const Bytes body(chunk.begin() + 1, chunk.end() - 1);
                Bytes out;
                ASSERT_TRUE(RawInflate(PrependThreeBits(body, 0b101), out, n))
                    << "corpus " << k << " at " << piecePos;
                ASSERT_TRUE(out == piece) << "corpus " << k << " at " << piecePos;
                ++bodies;
            }
            pos += 2 + m;
            piecePos += n;
        }
        EXPECT_EQ(piecePos, in.size());
    }
    EXPECT_GE(bodies, 25);
}

TEST(ZlibOracle, OurDecoderReadsZlibDynamicBlocks) {
    const auto corpus = Corpus();
    TQMDefObj def;
    int blocks = 0;
    for (const Bytes& source : corpus) {
        // Pieces up to 30000 bytes stay within one zlib block at memLevel 9.
        for (std::size_t at = 0; at < source.size(); at += 30000) {
            const Bytes piece(
                source.begin() + static_cast<std::ptrdiff_t>(at),
                source.begin() + static_cast<std::ptrdiff_t>(std::min(source.size(), at + 30000)));
            for (const int level : {1, 6, 9}) {
                for (const int strategy : {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE}) {
                    const Bytes stream = RawDeflate(piece, level, strategy);
                    if ((stream[0] & 7) != 0b101) continue;  // zlib chose a stored or fixed block
                    const Bytes body = DropThreeBits(stream);
                    Bytes form = {0, 0, 0xCD};
                    form.insert(form.end(), body.begin(), body.end());
                    form.push_back(0x47);
                    form[0] = static_cast<std::uint8_t>(form.size() - 2);
                    form[1] = static_cast<std::uint8_t>((form.size() - 2) >> 8);
                    ASSERT_TRUE(def.DecompressBlock(form)) << "level " << level << " strategy " << strategy;
                    ASSERT_TRUE(form == piece) << "level " << level << " strategy " << strategy;
                    ++blocks;
                }
            }
        }
    }
    EXPECT_GT(blocks, 100);
}

TEST(ZlibOracle, SizesStayCloseToZlib) {
    // Not a format rule, a guard against a silently broken match search: on text our form
    // must not be much larger than zlib's level-6 output.
    Bytes text = ReadFile("/usr/share/common-licenses/GPL-3");
    ASSERT_GT(text.size(), 20000u);
    Bytes ours = text;
    TQMDefObj def;
    def.CompressBlock(ours);
    const Bytes theirs = RawDeflate(text, 6, Z_DEFAULT_STRATEGY);
    EXPECT_LT(ours.size(), theirs.size() * 115 / 100) << ours.size() << " vs zlib " << theirs.size();
}

}  // namespace
}  // namespace qm
