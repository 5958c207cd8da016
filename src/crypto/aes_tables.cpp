// Table-driven AES-128 (FIPS-197): the portable strategy, and the key expansion both
// strategies share. One 256-entry table of 32-bit words serves the nine main rounds, rotated
// by 8, 16 and 24 bits for the other three columns; the byte S-box serves the last round. The
// inverse cipher mirrors it with the inverse tables. Lookups are indexed by secret data, so
// this path is not constant-time; the instruction path is preferred wherever the CPU has it.

#include "crypto/aes_block.h"

namespace qm::aes {
namespace {

// The tables are computed at compile time from the field arithmetic rather than typed in, so
// a wrong digit cannot hide in 2 KiB of constants.
constexpr std::uint8_t XTime(std::uint8_t x) {
    return std::uint8_t((x << 1) ^ ((x & 0x80) ? 0x1b : 0));
}

constexpr std::uint8_t Mul(std::uint8_t a, std::uint8_t b) {
    std::uint8_t r = 0;
    while (b) {
        if (b & 1) r ^= a;
        a = XTime(a);
        b >>= 1;
    }
    return r;
}

constexpr std::uint8_t Rotl8(std::uint8_t x, int n) {
    return std::uint8_t((x << n) | (x >> (8 - n)));
}

struct Tables {
    std::uint8_t sbox[256];
    std::uint8_t inverseSbox[256];
    std::uint32_t te[256];
    std::uint32_t td[256];
};

constexpr Tables MakeTables() {
    Tables t{};
    // Powers of the generator 3 give every nonzero element and its inverse.
    std::uint8_t power[255] = {};
    std::uint8_t log[256] = {};
    std::uint8_t x = 1;
    for (int i = 0; i < 255; ++i) {
        power[i] = x;
        log[x] = std::uint8_t(i);
        x = Mul(x, 3);
    }
    for (int v = 0; v < 256; ++v) {
        const std::uint8_t inv = v == 0 ? 0 : power[(255 - log[v]) % 255];
        const std::uint8_t s =
            std::uint8_t(inv ^ Rotl8(inv, 1) ^ Rotl8(inv, 2) ^ Rotl8(inv, 3) ^ Rotl8(inv, 4) ^ 0x63);
        t.sbox[v] = s;
        t.inverseSbox[s] = std::uint8_t(v);
    }
    for (int v = 0; v < 256; ++v) {
        const std::uint8_t s = t.sbox[v];
        t.te[v] = std::uint32_t(Mul(s, 2)) << 24 | std::uint32_t(s) << 16 | std::uint32_t(s) << 8 | Mul(s, 3);
        const std::uint8_t si = t.inverseSbox[v];
        t.td[v] = std::uint32_t(Mul(si, 14)) << 24 | std::uint32_t(Mul(si, 9)) << 16 |
                  std::uint32_t(Mul(si, 13)) << 8 | Mul(si, 11);
    }
    return t;
}

constexpr Tables kT = MakeTables();

inline std::uint32_t Ror(std::uint32_t x, int n) {
    return (x >> n) | (x << (32 - n));
}

inline std::uint32_t Load(const std::uint8_t* p) {
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

inline void Store(std::uint8_t* p, std::uint32_t v) {
    p[0] = std::uint8_t(v >> 24);
    p[1] = std::uint8_t(v >> 16);
    p[2] = std::uint8_t(v >> 8);
    p[3] = std::uint8_t(v);
}

inline std::uint32_t SubWord(std::uint32_t w) {
    return std::uint32_t(kT.sbox[w >> 24]) << 24 | std::uint32_t(kT.sbox[(w >> 16) & 0xff]) << 16 |
           std::uint32_t(kT.sbox[(w >> 8) & 0xff]) << 8 | kT.sbox[w & 0xff];
}

inline std::uint32_t InvMixColumn(std::uint32_t w) {
    const std::uint8_t b0 = std::uint8_t(w >> 24), b1 = std::uint8_t(w >> 16), b2 = std::uint8_t(w >> 8),
                       b3 = std::uint8_t(w);
    const auto mix = [](std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
        return std::uint8_t(Mul(a, 14) ^ Mul(b, 11) ^ Mul(c, 13) ^ Mul(d, 9));
    };
    return std::uint32_t(mix(b0, b1, b2, b3)) << 24 | std::uint32_t(mix(b1, b2, b3, b0)) << 16 |
           std::uint32_t(mix(b2, b3, b0, b1)) << 8 | mix(b3, b0, b1, b2);
}

#define QM_TE(x, n) Ror(kT.te[(x)], n)
#define QM_TD(x, n) Ror(kT.td[(x)], n)

// One round of the cipher: state s -> t under round key rk[4*r .. 4*r+3].
#define QM_ENC_ROUND(t, s, rk)                                                                 \
    t##0 = kT.te[s##0 >> 24] ^ QM_TE((s##1 >> 16) & 0xff, 8) ^ QM_TE((s##2 >> 8) & 0xff, 16) ^ \
           QM_TE(s##3 & 0xff, 24) ^ (rk)[0];                                                   \
    t##1 = kT.te[s##1 >> 24] ^ QM_TE((s##2 >> 16) & 0xff, 8) ^ QM_TE((s##3 >> 8) & 0xff, 16) ^ \
           QM_TE(s##0 & 0xff, 24) ^ (rk)[1];                                                   \
    t##2 = kT.te[s##2 >> 24] ^ QM_TE((s##3 >> 16) & 0xff, 8) ^ QM_TE((s##0 >> 8) & 0xff, 16) ^ \
           QM_TE(s##1 & 0xff, 24) ^ (rk)[2];                                                   \
    t##3 = kT.te[s##3 >> 24] ^ QM_TE((s##0 >> 16) & 0xff, 8) ^ QM_TE((s##1 >> 8) & 0xff, 16) ^ \
           QM_TE(s##2 & 0xff, 24) ^ (rk)[3];

#define QM_DEC_ROUND(t, s, rk)                                                                 \
    t##0 = kT.td[s##0 >> 24] ^ QM_TD((s##3 >> 16) & 0xff, 8) ^ QM_TD((s##2 >> 8) & 0xff, 16) ^ \
           QM_TD(s##1 & 0xff, 24) ^ (rk)[0];                                                   \
    t##1 = kT.td[s##1 >> 24] ^ QM_TD((s##0 >> 16) & 0xff, 8) ^ QM_TD((s##3 >> 8) & 0xff, 16) ^ \
           QM_TD(s##2 & 0xff, 24) ^ (rk)[1];                                                   \
    t##2 = kT.td[s##2 >> 24] ^ QM_TD((s##1 >> 16) & 0xff, 8) ^ QM_TD((s##0 >> 8) & 0xff, 16) ^ \
           QM_TD(s##3 & 0xff, 24) ^ (rk)[2];                                                   \
    t##3 = kT.td[s##3 >> 24] ^ QM_TD((s##2 >> 16) & 0xff, 8) ^ QM_TD((s##1 >> 8) & 0xff, 16) ^ \
           QM_TD(s##0 & 0xff, 24) ^ (rk)[3];

// Encrypts the block held as four words in s0..s3 (already whitened with round key 0).
inline void EncryptWords(const std::uint32_t* rk, std::uint32_t& s0, std::uint32_t& s1, std::uint32_t& s2,
                         std::uint32_t& s3) {
    std::uint32_t t0, t1, t2, t3;
    QM_ENC_ROUND(t, s, rk + 4)
    QM_ENC_ROUND(s, t, rk + 8)
    QM_ENC_ROUND(t, s, rk + 12)
    QM_ENC_ROUND(s, t, rk + 16)
    QM_ENC_ROUND(t, s, rk + 20)
    QM_ENC_ROUND(s, t, rk + 24)
    QM_ENC_ROUND(t, s, rk + 28)
    QM_ENC_ROUND(s, t, rk + 32)
    QM_ENC_ROUND(t, s, rk + 36)
    const std::uint8_t* S = kT.sbox;
    s0 = (std::uint32_t(S[t0 >> 24]) << 24 | std::uint32_t(S[(t1 >> 16) & 0xff]) << 16 |
          std::uint32_t(S[(t2 >> 8) & 0xff]) << 8 | S[t3 & 0xff]) ^
         rk[40];
    s1 = (std::uint32_t(S[t1 >> 24]) << 24 | std::uint32_t(S[(t2 >> 16) & 0xff]) << 16 |
          std::uint32_t(S[(t3 >> 8) & 0xff]) << 8 | S[t0 & 0xff]) ^
         rk[41];
    s2 = (std::uint32_t(S[t2 >> 24]) << 24 | std::uint32_t(S[(t3 >> 16) & 0xff]) << 16 |
          std::uint32_t(S[(t0 >> 8) & 0xff]) << 8 | S[t1 & 0xff]) ^
         rk[42];
    s3 = (std::uint32_t(S[t3 >> 24]) << 24 | std::uint32_t(S[(t0 >> 16) & 0xff]) << 16 |
          std::uint32_t(S[(t1 >> 8) & 0xff]) << 8 | S[t2 & 0xff]) ^
         rk[43];
}

// Decrypts the block in s0..s3 (already whitened with decryption round key 10); dk is the
// decryption schedule, walked from its end to its start.
inline void DecryptWords(const std::uint32_t* dk, std::uint32_t& s0, std::uint32_t& s1, std::uint32_t& s2,
                         std::uint32_t& s3) {
    std::uint32_t t0, t1, t2, t3;
    QM_DEC_ROUND(t, s, dk + 36)
    QM_DEC_ROUND(s, t, dk + 32)
    QM_DEC_ROUND(t, s, dk + 28)
    QM_DEC_ROUND(s, t, dk + 24)
    QM_DEC_ROUND(t, s, dk + 20)
    QM_DEC_ROUND(s, t, dk + 16)
    QM_DEC_ROUND(t, s, dk + 12)
    QM_DEC_ROUND(s, t, dk + 8)
    QM_DEC_ROUND(t, s, dk + 4)
    const std::uint8_t* S = kT.inverseSbox;
    s0 = (std::uint32_t(S[t0 >> 24]) << 24 | std::uint32_t(S[(t3 >> 16) & 0xff]) << 16 |
          std::uint32_t(S[(t2 >> 8) & 0xff]) << 8 | S[t1 & 0xff]) ^
         dk[0];
    s1 = (std::uint32_t(S[t1 >> 24]) << 24 | std::uint32_t(S[(t0 >> 16) & 0xff]) << 16 |
          std::uint32_t(S[(t3 >> 8) & 0xff]) << 8 | S[t2 & 0xff]) ^
         dk[1];
    s2 = (std::uint32_t(S[t2 >> 24]) << 24 | std::uint32_t(S[(t1 >> 16) & 0xff]) << 16 |
          std::uint32_t(S[(t0 >> 8) & 0xff]) << 8 | S[t3 & 0xff]) ^
         dk[2];
    s3 = (std::uint32_t(S[t3 >> 24]) << 24 | std::uint32_t(S[(t2 >> 16) & 0xff]) << 16 |
          std::uint32_t(S[(t1 >> 8) & 0xff]) << 8 | S[t0 & 0xff]) ^
         dk[3];
}

#undef QM_ENC_ROUND
#undef QM_DEC_ROUND
#undef QM_TE
#undef QM_TD

}  // namespace

void ExpandKey(const std::uint8_t key[16], KeySchedule& schedule) {
    std::uint32_t* w = schedule.enc;
    for (int i = 0; i < 4; ++i) w[i] = Load(key + 4 * i);
    std::uint32_t rcon = 0x01;
    for (int i = 4; i < kRoundKeyWords; ++i) {
        std::uint32_t temp = w[i - 1];
        if (i % 4 == 0) {
            temp = SubWord(Ror(temp, 24)) ^ (rcon << 24);
            rcon = XTime(std::uint8_t(rcon));
        }
        w[i] = w[i - 4] ^ temp;
    }
    std::uint32_t* d = schedule.dec;
    for (int i = 0; i < kRoundKeyWords; ++i) {
        const bool inner = i >= 4 && i < 40;
        d[i] = inner ? InvMixColumn(w[i]) : w[i];
    }
    for (int round = 0; round <= 10; ++round) {
        for (int j = 0; j < 4; ++j) {
            Store(schedule.encByteKeys + 16 * round + 4 * j, w[4 * round + j]);
            Store(schedule.decByteKeys + 16 * round + 4 * j, d[4 * (10 - round) + j]);
        }
    }
}

void TablesCbcEncrypt(const KeySchedule& schedule, const std::uint8_t iv[16], std::uint8_t* data,
                      std::size_t blocks) {
    const std::uint32_t* rk = schedule.enc;
    // The chaining value stays in the state words: the next block is XORed straight into them.
    std::uint32_t c0 = Load(iv), c1 = Load(iv + 4), c2 = Load(iv + 8), c3 = Load(iv + 12);
    for (std::size_t b = 0; b < blocks; ++b, data += 16) {
        std::uint32_t s0 = Load(data) ^ c0 ^ rk[0];
        std::uint32_t s1 = Load(data + 4) ^ c1 ^ rk[1];
        std::uint32_t s2 = Load(data + 8) ^ c2 ^ rk[2];
        std::uint32_t s3 = Load(data + 12) ^ c3 ^ rk[3];
        EncryptWords(rk, s0, s1, s2, s3);
        Store(data, s0);
        Store(data + 4, s1);
        Store(data + 8, s2);
        Store(data + 12, s3);
        c0 = s0, c1 = s1, c2 = s2, c3 = s3;
    }
}

void TablesCbcDecrypt(const KeySchedule& schedule, const std::uint8_t iv[16], std::uint8_t* data,
                      std::size_t blocks) {
    const std::uint32_t* dk = schedule.dec;
    std::uint32_t c0 = Load(iv), c1 = Load(iv + 4), c2 = Load(iv + 8), c3 = Load(iv + 12);
    for (std::size_t b = 0; b < blocks; ++b, data += 16) {
        const std::uint32_t e0 = Load(data), e1 = Load(data + 4), e2 = Load(data + 8), e3 = Load(data + 12);
        std::uint32_t s0 = e0 ^ dk[40], s1 = e1 ^ dk[41], s2 = e2 ^ dk[42], s3 = e3 ^ dk[43];
        DecryptWords(dk, s0, s1, s2, s3);
        Store(data, s0 ^ c0);
        Store(data + 4, s1 ^ c1);
        Store(data + 8, s2 ^ c2);
        Store(data + 12, s3 ^ c3);
        c0 = e0, c1 = e1, c2 = e2, c3 = e3;
    }
}

}  // namespace qm::aes
