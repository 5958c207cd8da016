// CAES frames and MD5 digests checked against OpenSSL as an independent implementation: our
// frames open with OpenSSL's AES-128-CBC under the MD5-derived key and vector and re-encipher
// to the very same bytes, and frames OpenSSL enciphers open with CAES.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/md5.h>

#include <random>
#include <string>
#include <vector>

#include "crypto/aes.h"
#include "crypto/md5.h"

namespace qm {
namespace {

using Bytes = std::vector<std::uint8_t>;

// OpenSSL's MD5 for the key and vector, so not even the derivation relies on our own code.
Bytes OsslMd5(const void* data, std::size_t n) {
    Bytes out(16);
    unsigned int len = 0;
    EVP_Digest(data, n, out.data(), &len, EVP_md5(), nullptr);
    return out;
}

Bytes OsslCbc(bool encrypt, const std::string& keyText, const Bytes& in) {
    const Bytes key = OsslMd5(keyText.data(), keyText.size());
    const Bytes iv = OsslMd5("tovelanurim", 11);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    EVP_CipherInit_ex(ctx, EVP_aes_128_cbc(), nullptr, key.data(), iv.data(), encrypt ? 1 : 0);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    Bytes out(in.size() + 16);
    int n = 0, m = 0;
    const bool ok = EVP_CipherUpdate(ctx, out.data(), &n, in.data(), int(in.size())) == 1 &&
                    EVP_CipherFinal_ex(ctx, out.data() + n, &m) == 1;
    EVP_CIPHER_CTX_free(ctx);
    EXPECT_TRUE(ok);
    out.resize(std::size_t(n + m));
    return out;
}

std::uint32_t LoadLE(const std::uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | std::uint32_t(p[3]) << 24;
}

// Body lengths: the boundaries of the frame padding, then random lengths up to 20000.
std::vector<std::size_t> BodyLengths() {
    std::vector<std::size_t> lengths{1, 2, 6, 7, 8, 9, 22, 23, 24, 25, 39, 40, 127, 128, 16384};
    std::mt19937 rng(2024);
    for (int i = 0; i < 40; ++i) lengths.push_back(1 + rng() % 20000);
    return lengths;
}

std::vector<AesStrategy> Strategies() {
    std::vector<AesStrategy> s{AesStrategy::Tables};
    if (CAES::InstructionsAvailable()) s.push_back(AesStrategy::Instructions);
    return s;
}

TEST(CAESOpenSsl, OurFramesOpenWithOpenSslAndReencipherIdentically) {
    const std::string key = "oracle key \x01\xff";
    std::mt19937 rng(1);
    for (AesStrategy s : Strategies()) {
        CAES cipher(key, s);
        for (std::size_t len : BodyLengths()) {
            SCOPED_TRACE(std::to_string(int(s)) + " body " + std::to_string(len));
            Bytes body(len);
            for (auto& b : body) b = std::uint8_t(rng());
            Bytes sealed = body;
            cipher.EncryptBuffer(sealed);
            const std::size_t t = sealed.size();
            const std::size_t z = (16 - (len + 9) % 16) % 16;
            ASSERT_EQ(t, len + 9 + z);

            const Bytes frame = OsslCbc(false, key, sealed);
            ASSERT_EQ(frame.size(), t);
            EXPECT_EQ(LoadLE(frame.data()), cipher.FrameNonce());
            EXPECT_EQ(LoadLE(frame.data() + t - 5), LoadLE(frame.data()) + 1);
            EXPECT_EQ(frame[t - 1], z);
            EXPECT_TRUE(std::equal(body.begin(), body.end(), frame.begin() + 4));
            EXPECT_EQ(Bytes(frame.begin() + 4 + len, frame.end() - 5), Bytes(z, 0));
            EXPECT_EQ(OsslCbc(true, key, frame), sealed);
        }
    }
}

TEST(CAESOpenSsl, OpenSslFramesOpenWithCAES) {
    const std::string key = "another key";
    std::mt19937 rng(2);
    for (AesStrategy s : Strategies()) {
        CAES cipher(key, s);
        for (std::size_t len : BodyLengths()) {
            SCOPED_TRACE(std::to_string(int(s)) + " body " + std::to_string(len));
            Bytes body(len);
            for (auto& b : body) b = std::uint8_t(rng());
            const std::size_t z = (16 - (len + 9) % 16) % 16;
            const std::uint32_t nonce = rng();
            Bytes frame(4 + len + z + 5, 0);
            for (int i = 0; i < 4; ++i) {
                frame[i] = std::uint8_t(nonce >> (8 * i));
                frame[4 + len + z + i] = std::uint8_t((nonce + 1) >> (8 * i));
            }
            std::copy(body.begin(), body.end(), frame.begin() + 4);
            frame.back() = std::uint8_t(z);
            Bytes sealed = OsslCbc(true, key, frame);
            ASSERT_TRUE(cipher.DecryptBuffer(sealed));
            EXPECT_EQ(sealed, body);
        }
    }
}

TEST(MD5OpenSsl, DigestsAgreeAcrossPieceBoundaries) {
    std::mt19937 rng(4);
    std::vector<std::size_t> lengths{0, 1, 63, 64, 65, 16383, 16384, 16385, 32768, 32769, 100000};
    for (int i = 0; i < 30; ++i) lengths.push_back(rng() % 70000);
    for (std::size_t len : lengths) {
        Bytes data(len);
        for (auto& b : data) b = std::uint8_t(rng());
        std::uint8_t ours[16];
        MD5OfBuffer(data.data(), data.size(), ours);
        EXPECT_EQ(Bytes(ours, ours + 16), OsslMd5(data.data(), data.size())) << len;
    }
}

}  // namespace
}  // namespace qm
