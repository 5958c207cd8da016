// The RSA scheme against independent tools: key pairs made by OpenSSL, and a second encoder of
// the block format written with GMP integer arithmetic (blocks as bit fields of one big number
// rather than as bit texts). Textbook RSA is deterministic, so cipher texts must agree byte for
// byte. Key generation with injected random bytes is checked against GMP's next prime.
#include <gmp.h>
#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "crypto/base64.h"
#include "crypto/rsa.h"
#include "platform/random.h"

namespace qm {
namespace {

struct Z {
    mpz_t v;
    Z() { mpz_init(v); }
    ~Z() { mpz_clear(v); }
    Z(const Z&) = delete;
    Z& operator=(const Z&) = delete;
};

void FromBytes(const std::string& bytes, mpz_t out) {
    mpz_import(out, bytes.size(), 1, 1, 1, 0, bytes.data());
}

std::string ToBytes(const mpz_t x) {
    if (mpz_sgn(x) == 0) return std::string(1, '\0');
    std::string out((mpz_sizeinbase(x, 2) + 7) / 8, '\0');
    std::size_t written = 0;
    mpz_export(out.data(), &written, 1, 1, 1, 0, x);
    return out;
}

// The block format on integers: the marker 111 and the message form one number of 8L + 3 bits;
// its (k-1)-bit fields from the top are the plaintext blocks, each cipher block fills a k-bit
// field, and the cipher bytes are the whole number big-endian.
std::string ReferenceEncrypt(const std::string& pub, const std::string& msg) {
    Z n, m, w, block, c, e;
    FromBytes(pub, n.v);
    const std::size_t k = mpz_sizeinbase(n.v, 2);
    FromBytes(msg, m.v);
    mpz_set_ui(block.v, 7);
    mpz_mul_2exp(block.v, block.v, 8 * msg.size());
    mpz_add(m.v, m.v, block.v);
    const std::size_t bits = 8 * msg.size() + 3;
    const std::size_t blocks = (bits + k - 2) / (k - 1);
    mpz_set_ui(e.v, 65537);
    mpz_set_ui(w.v, 0);
    for (std::size_t i = 0; i < blocks; ++i) {
        mpz_fdiv_q_2exp(block.v, m.v, (blocks - 1 - i) * (k - 1));
        mpz_fdiv_r_2exp(block.v, block.v, k - 1);
        mpz_powm(c.v, block.v, e.v, n.v);
        mpz_mul_2exp(w.v, w.v, k);
        mpz_add(w.v, w.v, c.v);
    }
    return ToBytes(w.v);
}

// The inverse for genuine cipher texts: every deciphered block fills k - 1 bits, and the
// highest set bit of the joined number starts the marker.
std::string ReferenceDecrypt(const std::string& pub, const std::string& priv, const std::string& cipher) {
    Z n, d, w, block, p, m;
    FromBytes(pub, n.v);
    FromBytes(priv, d.v);
    FromBytes(cipher, w.v);
    const std::size_t k = mpz_sizeinbase(n.v, 2);
    const std::size_t blocks = (mpz_sizeinbase(w.v, 2) + k - 1) / k;
    mpz_set_ui(p.v, 0);
    for (std::size_t i = 0; i < blocks; ++i) {
        mpz_fdiv_q_2exp(block.v, w.v, (blocks - 1 - i) * k);
        mpz_fdiv_r_2exp(block.v, block.v, k);
        mpz_powm(m.v, block.v, d.v, n.v);
        mpz_mul_2exp(p.v, p.v, k - 1);
        mpz_add(p.v, p.v, m.v);
    }
    const std::size_t msgBits = mpz_sizeinbase(p.v, 2) - 3;
    mpz_fdiv_r_2exp(p.v, p.v, msgBits);
    // The message's own leading zero bytes come back as zero bytes in front.
    std::string out = mpz_sgn(p.v) == 0 ? std::string() : ToBytes(p.v);
    return std::string(msgBits / 8 - out.size(), '\0') + out;
}

struct OpenSslKey {
    std::string n, d;
};

OpenSslKey MakeOpenSslKey(unsigned bits) {
    OpenSslKey key;
    EVP_PKEY* pkey = EVP_RSA_gen(bits);
    if (pkey == nullptr) return key;
    BIGNUM *n = nullptr, *d = nullptr;
    if (EVP_PKEY_get_bn_param(pkey, OSSL_PKEY_PARAM_RSA_N, &n) == 1 &&
        EVP_PKEY_get_bn_param(pkey, OSSL_PKEY_PARAM_RSA_D, &d) == 1) {
        key.n.resize(BN_num_bytes(n));
        key.d.resize(BN_num_bytes(d));
        BN_bn2bin(n, reinterpret_cast<unsigned char*>(key.n.data()));
        BN_bn2bin(d, reinterpret_cast<unsigned char*>(key.d.data()));
    }
    BN_free(n);
    BN_free(d);
    EVP_PKEY_free(pkey);
    return key;
}

std::vector<std::string> Messages() {
    std::mt19937 rng(3);
    std::vector<std::string> out = {"", "a", std::string("\0\0\x01", 3), kKeyTestMessage,
                                    std::string(8, '\0')};
    for (std::size_t len : {8u, 16u, 126u, 127u, 128u, 250u, 400u}) {
        std::string m;
        for (std::size_t i = 0; i < len; ++i) m.push_back(static_cast<char>(rng()));
        out.push_back(m);
    }
    return out;
}

TEST(RsaOracle, OpenSslKeysAgreeWithReferenceEncoder) {
    for (unsigned bits : {1024u, 1024u, 768u, 2048u}) {
        const OpenSslKey key = MakeOpenSslKey(bits);
        ASSERT_FALSE(key.n.empty());
        // The key texts a host would be given for this pair.
        const std::string pub = Base64Decode(Base64Encode(key.n)), priv = Base64Decode(Base64Encode(key.d));
        ASSERT_EQ(pub, key.n);
        EXPECT_TRUE(KeypairSelfTest(pub, priv)) << bits;
        for (const std::string& m : Messages()) {
            const std::string ours = EncryptWithPublicKey(pub, m);
            const std::string theirs = ReferenceEncrypt(key.n, m);
            ASSERT_EQ(ours, theirs) << bits << " bits, message of " << m.size();
            EXPECT_EQ(ReferenceDecrypt(key.n, key.d, ours), m);
            EXPECT_EQ(DecryptWithPrivateKey(pub, priv, theirs), m);
        }
    }
}

// A fixed stream of "random" bytes makes key generation reproducible, so its primes, modulus
// and private exponent can be recomputed with GMP from the same start values.
TEST(RsaOracle, GeneratedKeysFollowFromTheirRandomBytes) {
    for (std::uint32_t seed : {1u, 2u, 3u}) {
        std::mt19937 stream(seed);
        platform::SetRandomSourceForTesting([&stream](void* out, std::size_t n) {
            for (std::size_t i = 0; i < n; ++i)
                static_cast<unsigned char*>(out)[i] = static_cast<unsigned char>(stream());
        });
        std::string pubText, privText;
        const bool ok = GenerateKeypair(pubText, privText);
        platform::SetRandomSourceForTesting(nullptr);

        std::mt19937 replay(seed);
        std::string sp(64, '\0'), sq(64, '\0');
        for (char& c : sp) c = static_cast<char>(static_cast<unsigned char>(replay()));
        for (char& c : sq) c = static_cast<char>(static_cast<unsigned char>(replay()));
        Z p, q, n, phi, e, d, t;
        FromBytes(sp, p.v);
        FromBytes(sq, q.v);
        // An even start is made odd, and the start itself is never a candidate.
        mpz_setbit(p.v, 0);
        mpz_setbit(q.v, 0);
        mpz_nextprime(p.v, p.v);
        mpz_nextprime(q.v, q.v);
        mpz_mul(n.v, p.v, q.v);
        mpz_sub_ui(t.v, p.v, 1);
        mpz_sub_ui(phi.v, q.v, 1);
        mpz_mul(phi.v, phi.v, t.v);
        mpz_set_ui(e.v, 65537);
        if (mpz_invert(d.v, e.v, phi.v) == 0) {
            EXPECT_FALSE(ok);
            EXPECT_EQ(pubText, "");
            continue;
        }
        ASSERT_TRUE(ok) << seed;
        EXPECT_EQ(Base64Decode(pubText), ToBytes(n.v)) << seed;
        EXPECT_EQ(Base64Decode(privText), ToBytes(d.v)) << seed;
        // And the other way round: the reference encoder under our key pair.
        const std::string secret("\x00\x11\x22\x33\x44\x55\x66\x77", 8);
        EXPECT_EQ(DecryptWithPrivateKey(Base64Decode(pubText), Base64Decode(privText),
                                        ReferenceEncrypt(Base64Decode(pubText), secret)),
                  secret);
        EXPECT_EQ(ReferenceDecrypt(Base64Decode(pubText), Base64Decode(privText),
                                   EncryptWithPublicKey(Base64Decode(pubText), secret)),
                  secret);
    }
}

}  // namespace
}  // namespace qm
