// The RSA block format, key texts and fingerprints, key generation, and the answers to hostile
// keys and cipher texts. Runs on every platform; rsa_oracle_test.cpp (Linux) checks the same
// scheme against keys and arithmetic from OpenSSL and GMP.
#include "crypto/rsa.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>

#include "crypto/base64.h"
#include "crypto/bigint.h"
#include "platform/owner_queue.h"

namespace qm {
namespace {

// A 1024-bit key pair made with `openssl genrsa 1024`: the modulus and private exponent as key
// texts.
const char kPublicText[] =
    "naluVOQ0iXiIQjIX7afAFaeiD68G0+/8ULS8C7Eh8lFp/SG8q2445QCrD3fGQVMtdm6citHwNTsFmhK/"
    "TXDZibS6hPTY1F4AsNv9ndhRkzZLXN3"
    "xq/9dLLYZpXxcs4OBTXBRnhoyIjYJ8ESnXqE7MqwjW5nksHcNA3RVZCyRknc=";
const char kPrivateText[] =
    "bTCGZOyXJg3/8DhZMhJXiafLKSmChQ1TpWFGSqKma/fOe6z9yYxQgujvj4rYFy3P8pGwgMPcpED4JDiPnMZnIU0zVA0ooA/"
    "jFIt25uuYes5gKktE5dh"
    "Djwm+EE3IKa/HrjHAJEZvI/j8Uv0H4EU8PdM4ye8CQzwUD4tQlJtgSaE=";

std::string Pub() {
    return Base64Decode(kPublicText);
}
std::string Priv() {
    return Base64Decode(kPrivateText);
}

std::string Hex(const std::string& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

// n = 61 * 53 = 3233 (12 bits, so 11-bit plaintext blocks), d = 2753. Cipher texts worked out
// with a separate Python script from the definition of the format.
TEST(RsaBlocks, WorkedExampleWithTinyKey) {
    const std::string pub("\x0c\xa1", 2), priv("\x0a\xc1", 2);
    struct Case {
        std::string plain;
        const char* cipherHex;
    };
    const Case cases[] = {
        {"", "0941"},                             // one block: the marker alone, value 7
        {"A", "03"},                              // one block whose cipher value has 10 leading zero bits
        {"Hi", "5adc6b"},                         // two blocks
        {std::string("\0\0z", 3), "0433000726"},  // leading zero bytes, three blocks
    };
    for (const Case& c : cases) {
        std::string cipher;
        ASSERT_TRUE(EncryptWithPublicKey(pub, c.plain, cipher)) << Hex(c.plain);
        EXPECT_EQ(Hex(cipher), c.cipherHex) << Hex(c.plain);
        std::string plain;
        ASSERT_TRUE(DecryptWithPrivateKey(pub, priv, cipher, plain));
        EXPECT_EQ(plain, c.plain);
    }
}

TEST(RsaBlocks, RoundTripsUnderA1024BitKey) {
    std::mt19937 rng(7);
    std::string random300;
    for (int i = 0; i < 300; ++i) random300.push_back(static_cast<char>(rng()));
    const std::string messages[] = {
        "",
        "x",
        "8bytes!!",
        std::string("\0\0\0abc", 6),
        std::string(40, '\0'),
        kKeyTestMessage,
        std::string(127, '\xff'),  // 1019 bits: two blocks
        random300,                 // three blocks
    };
    for (const std::string& m : messages) {
        const std::string cipher = EncryptWithPublicKey(Pub(), m);
        ASSERT_FALSE(cipher.empty());
        const std::size_t blocks = (8 * m.size() + 3 + 1022) / 1023;
        EXPECT_LE(cipher.size(), (blocks * 1024 + 7) / 8) << m.size();
        EXPECT_GT(cipher.size(), (blocks - 1) * 128) << m.size();
        EXPECT_EQ(DecryptWithPrivateKey(Pub(), Priv(), cipher), m) << m.size();
    }
    // The empty message is the block 7 raised to 65537, stripped of its leading zeros.
    TFGInt seven;
    ASSERT_TRUE(BigModExp(BigFromU64(7), BigFromU64(65537), BigFromBytes(Pub()), seven));
    EXPECT_EQ(EncryptWithPublicKey(Pub(), ""), BigToBytes(seven));
    EXPECT_TRUE(KeypairSelfTest(Pub(), Priv()));
}

TEST(RsaKeyTexts, FingerprintForms) {
    EXPECT_EQ(TakeFingerprint(kPublicText), "KN+0I+uP7QB6dt43GEJ0bg==");  // Python hashlib
    for (const char* bad : {"", "abc", "abcde", "====", "naluVOQ0iXiI="}) {
        EXPECT_EQ(TakeFingerprint(bad), "") << bad;
    }
    EXPECT_EQ(TakeFingerprint("AAAA"), "aT6a+E09/MceZA4AW9xeLg==") << "three zero bytes are still a key";
    EXPECT_EQ(TakeFingerprint("!!!!").size(), 24u) << "foreign characters decode, they are not rejected";

    // A leading zero byte keeps the modulus but is part of what the fingerprint covers.
    const std::string padded =
        "AJ2pblTkNIl4iEIyF+2nwBWnog+vBtPv/FC0vAuxIfJRaf0hvKtuOOUAqw93xkFTLXZunIrR8DU7BZoSv01w2Ym0uoT02"
        "NReALDb/Z3YUZM2S1zd8av/XSy2GaV8XLODgU1wUZ4aMiI2CfBEp16hOzKsI1uZ5LB3DQN0VWQskZJ3";
    EXPECT_EQ(Base64Decode(padded), std::string(1, '\0') + Pub());
    EXPECT_EQ(TakeFingerprint(padded), "TPPeodvJ1ukE37jyQDtMAg==");
    EXPECT_TRUE(KeypairSelfTest(Base64Decode(padded), Priv()));
    EXPECT_EQ(EncryptWithPublicKey(Base64Decode(padded), "secret"), EncryptWithPublicKey(Pub(), "secret"));
}

TEST(RsaHostile, UnusableModuliFailWithoutOutput) {
    const std::string moduli[] = {
        "", std::string(1, '\0'), "\x01", std::string("\0\x01", 2), "\x02", "\x0a", "\xff\xfe"};
    for (const std::string& n : moduli) {
        std::string out = "stale";
        EXPECT_FALSE(EncryptWithPublicKey(n, "hello", out)) << Hex(n);
        EXPECT_EQ(out, "");
        out = "stale";
        EXPECT_FALSE(DecryptWithPrivateKey(n, Priv(), "\x01\x02", out)) << Hex(n);
        EXPECT_EQ(out, "");
        EXPECT_TRUE(DecryptWithPrivateKey(n, Priv(), std::string(3, '\0'), out)) << "no blocks at all";
        EXPECT_EQ(out, "");
        EXPECT_FALSE(KeypairSelfTest(n, Priv()));
    }
    // n = 3 has two bits: one-bit blocks, which still carry any message.
    EXPECT_EQ(DecryptWithPrivateKey("\x03", "\x01", EncryptWithPublicKey("\x03", "Hi")), "Hi");
}

TEST(RsaHostile, CipherTextsOfAnyLengthGiveAnAnswer) {
    std::mt19937 rng(11);
    // Lengths around the block size (128 bytes) and its multiples, where the padding of the
    // first block changes.
    for (std::size_t len : {0, 1, 2, 3, 7, 8, 9, 63, 64, 127, 128, 129, 130, 200, 255, 256, 257, 300}) {
        std::string cipher;
        for (std::size_t i = 0; i < len; ++i) cipher.push_back(static_cast<char>(rng()));
        std::string plain = "stale";
        EXPECT_TRUE(DecryptWithPrivateKey(Pub(), Priv(), cipher, plain)) << len;
        // A block can decipher to at most two blocks' worth of bits (a value above the
        // plaintext block size), so the answer stays bounded by the cipher's length.
        EXPECT_LE(plain.size(), 2 * cipher.size() + 256) << len;
    }
    for (const std::string& cipher :
         {std::string(300, '\xff'), std::string(200, '\0'), Pub(), std::string("\x01")}) {
        std::string plain;
        EXPECT_TRUE(DecryptWithPrivateKey(Pub(), Priv(), cipher, plain)) << Hex(cipher.substr(0, 4));
    }
    // A wrong private key goes unnoticed here but does not give the message back.
    const std::string cipher = EncryptWithPublicKey(Pub(), "8bytes!!");
    EXPECT_NE(DecryptWithPrivateKey(Pub(), "", cipher), "8bytes!!");
    EXPECT_NE(DecryptWithPrivateKey(Pub(), Pub(), cipher), "8bytes!!");
}

TEST(RsaPrimes, NextProbablePrimeNeverTestsItsStart) {
    struct Case {
        std::uint64_t start, prime;
    };
    const Case cases[] = {
        {0, 10007},      // table primes count as composite
        {10007, 10009},  // an odd start is skipped
        {10008, 10037},  // an even start becomes odd first, and that value is skipped too
        {1000000000000ULL, 1000000000039ULL},
    };
    for (const Case& c : cases) {
        TFGInt x = BigFromU64(c.start);
        const std::uint64_t before = MessagePumpRuns();
        int candidates = 0;
        NextProbablePrime(x, [&] { ++candidates; });
        EXPECT_EQ(x, BigFromU64(c.prime)) << c.start;
        // One pump per candidate, and one per exponent bit of every Miller-Rabin round.
        EXPECT_GE(MessagePumpRuns() - before, static_cast<std::uint64_t>(candidates) + 4) << c.start;
        EXPECT_GE(candidates, 1);
    }
}

TEST(RsaRandom, GuidBytes) {
    const std::string a = GuidRandomBytes(), b = GuidRandomBytes();
    EXPECT_EQ(a.size(), 64u);
    EXPECT_NE(a, b);
}

// One real key generation: its texts have the stated forms, its keys work, and work posted to
// the thread's queue runs nested inside it, there doing RSA of its own.
TEST(RsaKeygen, GeneratedPairWorksAndNestedWorkRuns) {
    bool generating = false;
    int nestedRuns = 0, nestedOk = 0;
    platform::OwnerQueue queue(
        [&](std::uint32_t, std::uintptr_t, void*) {
            ++nestedRuns;
            if (generating &&
                DecryptWithPrivateKey(Pub(), Priv(), EncryptWithPublicKey(Pub(), "nested")) == "nested")
                ++nestedOk;
        },
        nullptr);
    ASSERT_TRUE(queue.Valid());
    ASSERT_TRUE(queue.Post(platform::kFirstMessage + 101, 0, nullptr));

    int lastPrime = -1;
    std::uint32_t candidates[2] = {0, 0};
    std::string pubText, privText;
    generating = true;
    const bool ok = GenerateKeypair(pubText, privText, [&](int prime, std::uint32_t count) {
        lastPrime = prime;
        candidates[prime] = count;
        if (count == 3) queue.Post(platform::kFirstMessage + 101, 0, nullptr);
    });
    generating = false;

    ASSERT_TRUE(ok);
    EXPECT_EQ(lastPrime, 1);
    EXPECT_GE(candidates[0], 1u);
    EXPECT_GE(candidates[1], 1u);
    EXPECT_GE(nestedRuns, 1);
    EXPECT_EQ(nestedOk, nestedRuns);

    const std::string pub = Base64Decode(pubText), priv = Base64Decode(privText);
    ASSERT_FALSE(pub.empty());
    ASSERT_FALSE(priv.empty());
    EXPECT_EQ(Base64Encode(pub), pubText);
    EXPECT_NE(pub[0], '\0') << "no leading zero byte";
    const std::size_t bits = BigBitLength(BigFromBytes(pub));
    EXPECT_GE(bits, 900u);
    EXPECT_LE(bits, 1024u);
    if (bits > 1016) {
        EXPECT_EQ(pubText.size(), 172u);
        EXPECT_EQ(pubText.back(), '=');
    }
    const std::string fingerprint = TakeFingerprint(pubText);
    EXPECT_EQ(fingerprint.size(), 24u);
    EXPECT_EQ(fingerprint.substr(22), "==");
    EXPECT_TRUE(KeypairSelfTest(pub, priv));
    EXPECT_EQ(DecryptWithPrivateKey(pub, priv, EncryptWithPublicKey(pub, std::string("\0secret\0", 8))),
              std::string("\0secret\0", 8));
}

}  // namespace
}  // namespace qm
