// CAES and its block layer: FIPS-197 and SP 800-38A known answers for both strategies, the
// frame layout for the lengths that matter, nonce freshness, key mismatch and hostile frames.
#include "crypto/aes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "crypto/aes_block.h"
#include "crypto/md5.h"
#include "platform/random.h"

namespace qm {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes FromHex(const std::string& hex) {
    Bytes out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(std::uint8_t(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return out;
}

Bytes RandomBytes(std::mt19937& rng, std::size_t n) {
    Bytes out(n);
    for (auto& b : out) b = std::uint8_t(rng());
    return out;
}

// The block strategies this machine can run: the tables always, the instructions when present.
std::vector<AesStrategy> Strategies() {
    std::vector<AesStrategy> s{AesStrategy::Tables};
    if (CAES::InstructionsAvailable()) s.push_back(AesStrategy::Instructions);
    return s;
}

const char* Name(AesStrategy s) {
    return s == AesStrategy::Tables ? "tables" : "instructions";
}

void CbcEncrypt(AesStrategy s, const aes::KeySchedule& ks, const std::uint8_t* iv, Bytes& data) {
    if (s == AesStrategy::Instructions)
        aes::NiCbcEncrypt(ks.encByteKeys, iv, data.data(), data.size() / 16);
    else
        aes::TablesCbcEncrypt(ks, iv, data.data(), data.size() / 16);
}

void CbcDecrypt(AesStrategy s, const aes::KeySchedule& ks, const std::uint8_t* iv, Bytes& data) {
    if (s == AesStrategy::Instructions)
        aes::NiCbcDecrypt(ks.decByteKeys, iv, data.data(), data.size() / 16);
    else
        aes::TablesCbcDecrypt(ks, iv, data.data(), data.size() / 16);
}

// The key and vector a CAES object derives, computed here from MD5 directly so frames can be
// built and opened by hand.
struct Derived {
    aes::KeySchedule schedule;
    std::uint8_t iv[16];
    explicit Derived(const std::string& keyText) {
        std::uint8_t key[16];
        MD5OfBuffer(keyText.data(), keyText.size(), key);
        aes::ExpandKey(key, schedule);
        MD5OfBuffer("tovelanurim", 11, iv);
    }
};

std::uint32_t LoadLE(const std::uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | std::uint32_t(p[3]) << 24;
}

TEST(AesBlock, Fips197KnownAnswers) {
    struct Case {
        const char *key, *plain, *cipher;
    };
    const Case cases[] = {
        // FIPS-197 Appendix B and Appendix C.1.
        {"2b7e151628aed2a6abf7158809cf4f3c", "3243f6a8885a308d313198a2e0370734",
         "3925841d02dc09fbdc118597196a0b32"},
        {"000102030405060708090a0b0c0d0e0f", "00112233445566778899aabbccddeeff",
         "69c4e0d86a7b0430d8cdb78070b4c55a"},
    };
    const std::uint8_t zeroIv[16] = {};
    for (AesStrategy s : Strategies()) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(Name(s)) + " " + c.key);
            aes::KeySchedule ks;
            aes::ExpandKey(FromHex(c.key).data(), ks);
            Bytes block = FromHex(c.plain);
            CbcEncrypt(s, ks, zeroIv, block);  // one block from a zero vector is the bare cipher
            EXPECT_EQ(block, FromHex(c.cipher));
            CbcDecrypt(s, ks, zeroIv, block);
            EXPECT_EQ(block, FromHex(c.plain));
        }
    }
}

TEST(AesBlock, KeyExpansionMatchesFips197) {
    aes::KeySchedule ks;
    aes::ExpandKey(FromHex("2b7e151628aed2a6abf7158809cf4f3c").data(), ks);
    // FIPS-197 Appendix A.1: w[4], w[43].
    EXPECT_EQ(ks.enc[4], 0xa0fafe17u);
    EXPECT_EQ(ks.enc[43], 0xb6630ca6u);
    // The outer decryption round keys are the encryption ones unchanged.
    EXPECT_EQ(ks.dec[0], ks.enc[0]);
    EXPECT_EQ(ks.dec[43], ks.enc[43]);
    EXPECT_NE(ks.dec[4], ks.enc[4]);
}

TEST(AesBlock, Sp80038aCbcVectors) {
    // NIST SP 800-38A F.2.1/F.2.2, CBC-AES128.
    const Bytes key = FromHex("2b7e151628aed2a6abf7158809cf4f3c");
    const Bytes iv = FromHex("000102030405060708090a0b0c0d0e0f");
    const Bytes plain = FromHex(
        "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
        "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710");
    const Bytes cipher = FromHex(
        "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"
        "73bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7");
    aes::KeySchedule ks;
    aes::ExpandKey(key.data(), ks);
    for (AesStrategy s : Strategies()) {
        SCOPED_TRACE(Name(s));
        Bytes data = plain;
        CbcEncrypt(s, ks, iv.data(), data);
        EXPECT_EQ(data, cipher);
        CbcDecrypt(s, ks, iv.data(), data);
        EXPECT_EQ(data, plain);
        EXPECT_EQ(iv, FromHex("000102030405060708090a0b0c0d0e0f"));
    }
}

TEST(AesBlock, StrategiesAgreeOnLongRuns) {
    if (!CAES::InstructionsAvailable()) GTEST_SKIP() << "no AES instructions on this CPU";
    std::mt19937 rng(11);
    // Block counts around the eight-block stride of the instruction decryptor.
    for (std::size_t blocks : {1u, 7u, 8u, 9u, 16u, 17u, 63u, 1025u}) {
        SCOPED_TRACE(blocks);
        aes::KeySchedule ks;
        aes::ExpandKey(RandomBytes(rng, 16).data(), ks);
        const Bytes iv = RandomBytes(rng, 16);
        const Bytes plain = RandomBytes(rng, blocks * 16);
        Bytes a = plain, b = plain;
        CbcEncrypt(AesStrategy::Tables, ks, iv.data(), a);
        CbcEncrypt(AesStrategy::Instructions, ks, iv.data(), b);
        EXPECT_EQ(a, b);
        CbcDecrypt(AesStrategy::Instructions, ks, iv.data(), a);
        CbcDecrypt(AesStrategy::Tables, ks, iv.data(), b);
        EXPECT_EQ(a, plain);
        EXPECT_EQ(b, plain);
    }
}

// A 32-bit Windows heap hands out 8-byte aligned blocks and its stacks are only 4-byte aligned,
// so the round keys of a CAES may sit at any multiple of 4. The instruction path must not fault
// on them there.
TEST(AesBlock, InstructionPathTakesRoundKeysAtAnyWordAlignment) {
    if (!CAES::InstructionsAvailable()) GTEST_SKIP() << "no AES instructions on this CPU";
    std::mt19937 rng(5);
    aes::KeySchedule ks;
    aes::ExpandKey(RandomBytes(rng, 16).data(), ks);
    const Bytes iv = RandomBytes(rng, 16);
    const Bytes plain = RandomBytes(rng, 9 * 16);
    Bytes expected = plain;
    aes::TablesCbcEncrypt(ks, iv.data(), expected.data(), 9);
    alignas(16) std::uint8_t store[16 * 11 + 16];
    for (std::size_t offset : {4u, 8u, 12u}) {
        SCOPED_TRACE(offset);
        Bytes data = plain;
        std::memcpy(store + offset, ks.encByteKeys, sizeof ks.encByteKeys);
        aes::NiCbcEncrypt(store + offset, iv.data(), data.data(), 9);
        EXPECT_EQ(data, expected);
        std::memcpy(store + offset, ks.decByteKeys, sizeof ks.decByteKeys);
        aes::NiCbcDecrypt(store + offset, iv.data(), data.data(), 9);
        EXPECT_EQ(data, plain);
    }
}

TEST(CAES, FrameLayoutForTheBoundaryLengths) {
    struct Case {
        std::size_t body, frame, pad;
    };
    const Case cases[] = {{1, 16, 6},   {7, 16, 0}, {8, 32, 15},     {23, 32, 0},
                          {24, 48, 15}, {0, 16, 7}, {1000, 1024, 15}};
    std::mt19937 rng(3);
    const Derived derived("layout key");
    for (AesStrategy s : Strategies()) {
        CAES cipher("layout key", s);
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(Name(s)) + " body " + std::to_string(c.body));
            EXPECT_EQ(CAES::FrameLength(c.body), c.frame);
            const Bytes body = RandomBytes(rng, c.body);
            Bytes buf = body;
            cipher.EncryptBuffer(buf);
            ASSERT_EQ(buf.size(), c.frame);
            Bytes frame = buf;
            aes::TablesCbcDecrypt(derived.schedule, derived.iv, frame.data(), frame.size() / 16);
            const std::uint32_t nonce = LoadLE(frame.data());
            EXPECT_EQ(nonce, cipher.FrameNonce());
            EXPECT_EQ(Bytes(frame.begin() + 4, frame.begin() + 4 + c.body), body);
            EXPECT_EQ(Bytes(frame.begin() + 4 + c.body, frame.end() - 5), Bytes(c.pad, 0));
            EXPECT_EQ(LoadLE(frame.data() + c.frame - 5), nonce + 1);
            EXPECT_EQ(frame.back(), c.pad);
            ASSERT_TRUE(cipher.DecryptBuffer(buf));
            EXPECT_EQ(buf, body);
        }
    }
}

TEST(CAES, EqualBodiesNeverEncipherAlikeInARow) {
    // Back-to-back frames within one millisecond used to share a nonce; every frame must now
    // differ from the one before.
    CAES cipher("nonce key");
    const Bytes body(40, 0x5a);
    Bytes previous;
    std::uint32_t previousNonce = cipher.FrameNonce();
    for (int i = 0; i < 200; ++i) {
        Bytes buf = body;
        cipher.EncryptBuffer(buf);
        EXPECT_NE(cipher.FrameNonce(), previousNonce);
        EXPECT_NE(buf, previous);
        previousNonce = cipher.FrameNonce();
        previous = buf;
        ASSERT_TRUE(cipher.DecryptBuffer(buf));
        EXPECT_EQ(buf, body);
    }
}

TEST(CAES, NoncesComeFromTheSystemSourceAndNeverRepeatBackToBack) {
    // A source stuck on one value (the worst case for the old tick-based update, which gave the
    // same nonce on every second frame) still yields a nonce differing from the previous one.
    platform::SetRandomSourceForTesting([](void* out, size_t n) { std::memset(out, 0x11, n); });
    std::vector<std::uint32_t> nonces;
    std::vector<Bytes> frames;
    {
        CAES cipher("stuck source");
        for (int i = 0; i < 40; ++i) {
            Bytes buf(12, 0x42);
            cipher.EncryptBuffer(buf);
            nonces.push_back(cipher.FrameNonce());
            frames.push_back(buf);
            ASSERT_TRUE(cipher.DecryptBuffer(buf));
            EXPECT_EQ(buf, Bytes(12, 0x42));
        }
    }
    platform::SetRandomSourceForTesting(nullptr);
    for (std::size_t i = 0; i < nonces.size(); ++i) {
        EXPECT_TRUE(nonces[i] == 0x11111111u || nonces[i] == 0x11111112u) << std::hex << nonces[i];
        if (i > 0) {
            EXPECT_NE(nonces[i], nonces[i - 1]) << i;
            EXPECT_NE(frames[i], frames[i - 1]) << i;
        }
    }
}

TEST(CAES, ObjectsShareFramesByKeyTextOnly) {
    CAES a("shared secret"), b("shared secret"), other("shared secreT");
    std::string body = "packet body";
    std::string frame = body;
    a.EncryptBuffer(frame);
    std::string copy = frame;
    EXPECT_TRUE(b.DecryptBuffer(copy));
    EXPECT_EQ(copy, body);
    copy = frame;
    EXPECT_FALSE(other.DecryptBuffer(copy));
    EXPECT_EQ(copy.size(), frame.size());  // the deciphered frame stays, unshortened
    // Strategies interoperate: instructions-made frames open with tables and back.
    CAES tables("shared secret", AesStrategy::Tables), automatic("shared secret");
    Bytes x(100, 7);
    automatic.EncryptBuffer(x);
    ASSERT_TRUE(tables.DecryptBuffer(x));
    EXPECT_EQ(x, Bytes(100, 7));
    tables.EncryptBuffer(x);
    ASSERT_TRUE(automatic.DecryptBuffer(x));
    EXPECT_EQ(x, Bytes(100, 7));
}

TEST(CAES, MissingKey) {
    try {
        CAES cipher("");
        FAIL() << "an empty key text made a cipher";
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "Missing key");
    }
    EXPECT_EQ(CAES::Create(""), nullptr);
    EXPECT_NE(CAES::Create(std::string(1, '\0')), nullptr);  // a zero byte is a key
}

TEST(CAES, UndecipherableLengthsAreRefusedUntouched) {
    CAES cipher("k");
    std::mt19937 rng(5);
    for (std::size_t n : {0u, 1u, 15u, 17u, 31u, 33u, 100u}) {
        const Bytes data = RandomBytes(rng, n);
        Bytes buf = data;
        EXPECT_FALSE(cipher.DecryptBuffer(buf)) << n;
        EXPECT_EQ(buf, data) << n;
    }
}

TEST(CAES, HostileFramesGetADefinedAnswer) {
    const std::string key = "hostile";
    const Derived derived(key);
    CAES cipher(key);
    // Frames whose check word holds but whose pad count claims more than the frame has.
    struct Case {
        std::size_t frame;
        std::uint8_t pad;
        bool sound;
        std::size_t body;
    };
    const Case cases[] = {{16, 7, true, 0},  {16, 8, false, 0},  {16, 255, false, 0},
                          {32, 23, true, 0}, {32, 24, false, 0}, {48, 0, true, 39}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.frame) + "/" + std::to_string(c.pad));
        Bytes frame(c.frame, 0xab);
        const std::uint32_t nonce = 0xffffffffu;  // the check word wraps to 0
        for (int i = 0; i < 4; ++i) frame[i] = std::uint8_t(nonce >> (8 * i));
        for (int i = 0; i < 4; ++i) frame[c.frame - 5 + i] = 0;
        frame[c.frame - 1] = c.pad;
        aes::TablesCbcEncrypt(derived.schedule, derived.iv, frame.data(), frame.size() / 16);
        EXPECT_EQ(cipher.DecryptBuffer(frame), c.sound);
        if (c.sound) {
            EXPECT_EQ(frame, Bytes(c.body, 0xab));
        } else {
            EXPECT_EQ(frame.size(), c.frame);
        }
    }
    // Random frames of every length up to a few blocks: never a crash, and a true answer
    // only ever leaves a body shorter than the frame.
    std::mt19937 rng(9);
    for (std::size_t n = 0; n <= 80; ++n) {
        for (int round = 0; round < 20; ++round) {
            Bytes buf = RandomBytes(rng, n);
            if (cipher.DecryptBuffer(buf)) {
                EXPECT_EQ(n % 16, 0u);
                EXPECT_LE(buf.size() + 9, n);
            }
        }
    }
}

}  // namespace
}  // namespace qm
