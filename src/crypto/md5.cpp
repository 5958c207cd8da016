// MD5 as RFC 1321 describes it. The block function is written out step by step so the
// compiler keeps the sixteen message words and the four state words in registers; this is
// the hash of every fingerprint, handshake challenge and cipher key, and of whole blocks when
// callers hash large buffers, so it is kept close to what hand-tuned code achieves.
#include "crypto/md5.h"

#include <algorithm>
#include <cstring>

namespace qm {
namespace {

// Callers hand large blocks to the update step in pieces no bigger than this. It does not
// change the digest; it bounds the work done between two looks at the input pointer.
constexpr std::size_t kMaxPiece = 16384;

struct Md5Context {
    std::uint32_t state[4];
    std::uint32_t count[2];  // message length in bits, low word first
    std::uint8_t buffer[64];
};

inline std::uint32_t Load32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

inline void Store32(std::uint8_t* p, std::uint32_t v) {
    p[0] = std::uint8_t(v);
    p[1] = std::uint8_t(v >> 8);
    p[2] = std::uint8_t(v >> 16);
    p[3] = std::uint8_t(v >> 24);
}

inline std::uint32_t Rotl(std::uint32_t x, int n) {
    return (x << n) | (x >> (32 - n));
}

// F is written in the form with one operation fewer than the RFC's text; it is the same function.
#define QM_MD5_F(x, y, z) ((z) ^ ((x) & ((y) ^ (z))))
// G as a sum of two disjoint terms: both halves compute in parallel, and (y & ~z) does not
// wait for x, the result of the previous step.
#define QM_MD5_G(x, y, z) (((x) & (z)) + ((y) & ~(z)))
#define QM_MD5_H(x, y, z) ((x) ^ (y) ^ (z))
#define QM_MD5_I(x, y, z) ((y) ^ ((x) | ~(z)))
// The message word and constant are added first: they do not wait for the previous step,
// so only the round function and the rotation sit on the dependency chain.
#define QM_MD5_STEP(f, a, b, c, d, m, k, s) \
    a += (m) + std::uint32_t(k);            \
    a += f(b, c, d);                        \
    a = Rotl(a, s) + (b);

void Transform(std::uint32_t state[4], const std::uint8_t* block) {
    std::uint32_t x[16];
    for (int i = 0; i < 16; ++i) x[i] = Load32(block + 4 * i);
    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];

    QM_MD5_STEP(QM_MD5_F, a, b, c, d, x[0], 0xd76aa478, 7)
    QM_MD5_STEP(QM_MD5_F, d, a, b, c, x[1], 0xe8c7b756, 12)
    QM_MD5_STEP(QM_MD5_F, c, d, a, b, x[2], 0x242070db, 17)
    QM_MD5_STEP(QM_MD5_F, b, c, d, a, x[3], 0xc1bdceee, 22)
    QM_MD5_STEP(QM_MD5_F, a, b, c, d, x[4], 0xf57c0faf, 7)
    QM_MD5_STEP(QM_MD5_F, d, a, b, c, x[5], 0x4787c62a, 12)
    QM_MD5_STEP(QM_MD5_F, c, d, a, b, x[6], 0xa8304613, 17)
    QM_MD5_STEP(QM_MD5_F, b, c, d, a, x[7], 0xfd469501, 22)
    QM_MD5_STEP(QM_MD5_F, a, b, c, d, x[8], 0x698098d8, 7)
    QM_MD5_STEP(QM_MD5_F, d, a, b, c, x[9], 0x8b44f7af, 12)
    QM_MD5_STEP(QM_MD5_F, c, d, a, b, x[10], 0xffff5bb1, 17)
    QM_MD5_STEP(QM_MD5_F, b, c, d, a, x[11], 0x895cd7be, 22)
    QM_MD5_STEP(QM_MD5_F, a, b, c, d, x[12], 0x6b901122, 7)
    QM_MD5_STEP(QM_MD5_F, d, a, b, c, x[13], 0xfd987193, 12)
    QM_MD5_STEP(QM_MD5_F, c, d, a, b, x[14], 0xa679438e, 17)
    QM_MD5_STEP(QM_MD5_F, b, c, d, a, x[15], 0x49b40821, 22)

    QM_MD5_STEP(QM_MD5_G, a, b, c, d, x[1], 0xf61e2562, 5)
    QM_MD5_STEP(QM_MD5_G, d, a, b, c, x[6], 0xc040b340, 9)
    QM_MD5_STEP(QM_MD5_G, c, d, a, b, x[11], 0x265e5a51, 14)
    QM_MD5_STEP(QM_MD5_G, b, c, d, a, x[0], 0xe9b6c7aa, 20)
    QM_MD5_STEP(QM_MD5_G, a, b, c, d, x[5], 0xd62f105d, 5)
    QM_MD5_STEP(QM_MD5_G, d, a, b, c, x[10], 0x02441453, 9)
    QM_MD5_STEP(QM_MD5_G, c, d, a, b, x[15], 0xd8a1e681, 14)
    QM_MD5_STEP(QM_MD5_G, b, c, d, a, x[4], 0xe7d3fbc8, 20)
    QM_MD5_STEP(QM_MD5_G, a, b, c, d, x[9], 0x21e1cde6, 5)
    QM_MD5_STEP(QM_MD5_G, d, a, b, c, x[14], 0xc33707d6, 9)
    QM_MD5_STEP(QM_MD5_G, c, d, a, b, x[3], 0xf4d50d87, 14)
    QM_MD5_STEP(QM_MD5_G, b, c, d, a, x[8], 0x455a14ed, 20)
    QM_MD5_STEP(QM_MD5_G, a, b, c, d, x[13], 0xa9e3e905, 5)
    QM_MD5_STEP(QM_MD5_G, d, a, b, c, x[2], 0xfcefa3f8, 9)
    QM_MD5_STEP(QM_MD5_G, c, d, a, b, x[7], 0x676f02d9, 14)
    QM_MD5_STEP(QM_MD5_G, b, c, d, a, x[12], 0x8d2a4c8a, 20)

    QM_MD5_STEP(QM_MD5_H, a, b, c, d, x[5], 0xfffa3942, 4)
    QM_MD5_STEP(QM_MD5_H, d, a, b, c, x[8], 0x8771f681, 11)
    QM_MD5_STEP(QM_MD5_H, c, d, a, b, x[11], 0x6d9d6122, 16)
    QM_MD5_STEP(QM_MD5_H, b, c, d, a, x[14], 0xfde5380c, 23)
    QM_MD5_STEP(QM_MD5_H, a, b, c, d, x[1], 0xa4beea44, 4)
    QM_MD5_STEP(QM_MD5_H, d, a, b, c, x[4], 0x4bdecfa9, 11)
    QM_MD5_STEP(QM_MD5_H, c, d, a, b, x[7], 0xf6bb4b60, 16)
    QM_MD5_STEP(QM_MD5_H, b, c, d, a, x[10], 0xbebfbc70, 23)
    QM_MD5_STEP(QM_MD5_H, a, b, c, d, x[13], 0x289b7ec6, 4)
    QM_MD5_STEP(QM_MD5_H, d, a, b, c, x[0], 0xeaa127fa, 11)
    QM_MD5_STEP(QM_MD5_H, c, d, a, b, x[3], 0xd4ef3085, 16)
    QM_MD5_STEP(QM_MD5_H, b, c, d, a, x[6], 0x04881d05, 23)
    QM_MD5_STEP(QM_MD5_H, a, b, c, d, x[9], 0xd9d4d039, 4)
    QM_MD5_STEP(QM_MD5_H, d, a, b, c, x[12], 0xe6db99e5, 11)
    QM_MD5_STEP(QM_MD5_H, c, d, a, b, x[15], 0x1fa27cf8, 16)
    QM_MD5_STEP(QM_MD5_H, b, c, d, a, x[2], 0xc4ac5665, 23)

    QM_MD5_STEP(QM_MD5_I, a, b, c, d, x[0], 0xf4292244, 6)
    QM_MD5_STEP(QM_MD5_I, d, a, b, c, x[7], 0x432aff97, 10)
    QM_MD5_STEP(QM_MD5_I, c, d, a, b, x[14], 0xab9423a7, 15)
    QM_MD5_STEP(QM_MD5_I, b, c, d, a, x[5], 0xfc93a039, 21)
    QM_MD5_STEP(QM_MD5_I, a, b, c, d, x[12], 0x655b59c3, 6)
    QM_MD5_STEP(QM_MD5_I, d, a, b, c, x[3], 0x8f0ccc92, 10)
    QM_MD5_STEP(QM_MD5_I, c, d, a, b, x[10], 0xffeff47d, 15)
    QM_MD5_STEP(QM_MD5_I, b, c, d, a, x[1], 0x85845dd1, 21)
    QM_MD5_STEP(QM_MD5_I, a, b, c, d, x[8], 0x6fa87e4f, 6)
    QM_MD5_STEP(QM_MD5_I, d, a, b, c, x[15], 0xfe2ce6e0, 10)
    QM_MD5_STEP(QM_MD5_I, c, d, a, b, x[6], 0xa3014314, 15)
    QM_MD5_STEP(QM_MD5_I, b, c, d, a, x[13], 0x4e0811a1, 21)
    QM_MD5_STEP(QM_MD5_I, a, b, c, d, x[4], 0xf7537e82, 6)
    QM_MD5_STEP(QM_MD5_I, d, a, b, c, x[11], 0xbd3af235, 10)
    QM_MD5_STEP(QM_MD5_I, c, d, a, b, x[2], 0x2ad7d2bb, 15)
    QM_MD5_STEP(QM_MD5_I, b, c, d, a, x[9], 0xeb86d391, 21)

    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

#undef QM_MD5_F
#undef QM_MD5_G
#undef QM_MD5_H
#undef QM_MD5_I
#undef QM_MD5_STEP

void Init(Md5Context& ctx) {
    ctx.state[0] = 0x67452301;
    ctx.state[1] = 0xefcdab89;
    ctx.state[2] = 0x98badcfe;
    ctx.state[3] = 0x10325476;
    ctx.count[0] = ctx.count[1] = 0;
}

void Update(Md5Context& ctx, const std::uint8_t* input, std::size_t length) {
    std::size_t index = (ctx.count[0] >> 3) & 63;
    // The bit count is kept modulo 2^64 as two 32-bit halves; lengths beyond 2^29 bytes per
    // call cannot occur because callers feed pieces of at most kMaxPiece bytes.
    std::uint32_t bits = std::uint32_t(length) << 3;
    ctx.count[0] += bits;
    if (ctx.count[0] < bits) ++ctx.count[1];
    ctx.count[1] += std::uint32_t(length >> 29);

    std::size_t fill = 64 - index;
    std::size_t i = 0;
    if (length >= fill) {
        if (index != 0) {
            std::memcpy(ctx.buffer + index, input, fill);
            Transform(ctx.state, ctx.buffer);
            i = fill;
            index = 0;
        }
        for (; i + 64 <= length; i += 64) Transform(ctx.state, input + i);
    }
    if (i < length) std::memcpy(ctx.buffer + index, input + i, length - i);
}

void Final(Md5Context& ctx, std::uint8_t digest[kMD5DigestSize]) {
    std::uint8_t bits[8];
    Store32(bits, ctx.count[0]);
    Store32(bits + 4, ctx.count[1]);
    std::size_t index = (ctx.count[0] >> 3) & 63;
    std::size_t padLen = index < 56 ? 56 - index : 120 - index;
    static const std::uint8_t kPadding[64] = {0x80};
    Update(ctx, kPadding, padLen);
    Update(ctx, bits, 8);
    for (int i = 0; i < 4; ++i) Store32(digest + 4 * i, ctx.state[i]);
    // The context held key material for the cipher and the handshake; leave none behind.
    volatile std::uint8_t* wipe = reinterpret_cast<volatile std::uint8_t*>(&ctx);
    for (std::size_t i = 0; i < sizeof ctx; ++i) wipe[i] = 0;
}

}  // namespace

void MD5OfBuffer(const void* data, std::size_t length, std::uint8_t digest[kMD5DigestSize]) {
    Md5Context ctx;
    Init(ctx);
    const std::uint8_t* p = static_cast<const std::uint8_t*>(data);
    while (length > 0) {
        std::size_t piece = std::min(length, kMaxPiece);
        Update(ctx, p, piece);
        p += piece;
        length -= piece;
    }
    Final(ctx, digest);
}

std::string MD5OfText(const std::string& text) {
    if (text.empty()) return std::string();
    std::string digest(kMD5DigestSize, '\0');
    MD5OfBuffer(text.data(), text.size(), reinterpret_cast<std::uint8_t*>(digest.data()));
    return digest;
}

}  // namespace qm
