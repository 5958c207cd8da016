// MD5 against the RFC 1321 test suite and Base64 against RFC 4648, plus the lenient decoding
// rules that key texts depend on.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>

#include "crypto/base64.h"
#include "crypto/md5.h"

namespace qm {
namespace {

std::string Hex(const std::string& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::string BufferDigestHex(const std::string& bytes) {
    std::string digest(16, '\0');
    MD5OfBuffer(bytes.data(), bytes.size(), reinterpret_cast<std::uint8_t*>(digest.data()));
    return Hex(digest);
}

TEST(MD5, Rfc1321Suite) {
    struct Case {
        const char* text;
        const char* hex;
    };
    const Case cases[] = {
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const std::string digest = MD5OfText(c.text);
        ASSERT_EQ(digest.size(), 16u);
        EXPECT_EQ(Hex(digest), c.hex);
        EXPECT_EQ(BufferDigestHex(c.text), c.hex);
    }
}

TEST(MD5, EmptyTextHasNoDigestButEmptyBufferDoes) {
    EXPECT_EQ(MD5OfText(""), "");
    EXPECT_EQ(BufferDigestHex(""), "d41d8cd98f00b204e9800998ecf8427e");
}

TEST(MD5, PaddingBoundaries) {
    // Lengths around 56 and 64 bytes move the length field into a second padding block.
    // Expected digests come from md5sum over 'a' repeated n times.
    struct Case {
        std::size_t n;
        const char* hex;
    };
    const Case cases[] = {
        {55, "ef1772b6dff9a122358552954ad0df65"}, {56, "3b0c8ac703f828b04c6c197006d17218"},
        {63, "b06521f39153d618550606be297466d5"}, {64, "014842d480b571495a4a0363793f7367"},
        {65, "c743a45e0d2e6a95cb859adae0248435"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.n);
        EXPECT_EQ(Hex(MD5OfText(std::string(c.n, 'a'))), c.hex);
    }
}

TEST(MD5, BlocksLongerThanOnePieceHashAsAWhole) {
    // One million 'a' is the long message of the classic MD5 test suites; it crosses many
    // 16384-byte pieces, the last one partial.
    EXPECT_EQ(BufferDigestHex(std::string(1000000, 'a')), "7707d6ae4e027c70eea2a935c2296f21");
    EXPECT_EQ(Hex(MD5OfText(std::string(16385, 'a'))), "8d075f723556e776f6f5dcf28e6889a7");
}

TEST(Base64, Rfc4648Vectors) {
    const std::pair<const char*, const char*> cases[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
    };
    for (const auto& [plain, text] : cases) {
        SCOPED_TRACE(plain);
        EXPECT_EQ(Base64Encode(plain), text);
        EXPECT_EQ(Base64Decode(text), plain);
    }
}

TEST(Base64, DigestTextIsTwentyFourCharactersWithTwoEquals) {
    const std::string text = Base64Encode(MD5OfText("key"));
    ASSERT_EQ(text.size(), 24u);
    EXPECT_EQ(text.substr(22), "==");
    EXPECT_NE(text[21], '=');
}

TEST(Base64, RoundTripOfArbitraryBytes) {
    std::mt19937 rng(7);
    for (std::size_t n = 0; n < 70; ++n) {
        std::string bytes(n, '\0');
        for (char& c : bytes) c = char(rng());
        const std::string text = Base64Encode(bytes);
        EXPECT_EQ(text.size(), (n + 2) / 3 * 4);
        EXPECT_EQ(Base64Decode(text), bytes) << n;
    }
    std::string all;
    for (int c = 0; c < 256; ++c) all += char(c);
    EXPECT_EQ(Base64Decode(Base64Encode(all)), all);
}

TEST(Base64, LenientDecoding) {
    // Undecodable lengths give nothing.
    for (const char* text : {"", "Zm9", "Zm9vY", "Zm9v\n", "Zm9vYg="}) {
        EXPECT_EQ(Base64Decode(text), "") << text;
    }
    // Four equals signs drop more bytes than the group gave.
    EXPECT_EQ(Base64Decode("===="), "");
    // Any foreign character, the equals sign in the middle included, is worth 61 ('9').
    EXPECT_EQ(Base64Decode("Zm9!"), Base64Decode("Zm99"));
    EXPECT_EQ(Base64Decode("Zm\n9"), Base64Decode("Zm99"));
    EXPECT_EQ(Base64Decode("=m9v"), Base64Decode("9m9v"));
    EXPECT_EQ(Base64Decode("Zm\xc3\xa9"), Base64Decode("Zm99"));
    // Every trailing equals sign removes one byte: "Zm9v" gives "foo", "====" three more.
    EXPECT_EQ(Base64Decode("Zm9v===="), "fo");
    EXPECT_EQ(Base64Decode("Zm9v=..="), std::string("foo\xf7\xdf", 5));
}

}  // namespace
}  // namespace qm
