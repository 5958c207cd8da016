// Code page conversion. The same tests run on Linux (embedded tables) and under
// wine (the system's MultiByteToWideChar / WideCharToMultiByte), so the tables are
// checked against Windows' own conversion.
#include "platform/codepage.h"

#include <gtest/gtest.h>

#include <string>

#include "codepage_expected.h"
#include "platform/common/bestfit_tables.h"

namespace qm::platform {
namespace {

class CodePage : public ::testing::Test {
  protected:
    void TearDown() override { SetAnsiCodePage(0); }
};

std::string AllBytes() {
    std::string s;
    for (int b = 0; b < 256; ++b) s.push_back(static_cast<char>(b));
    return s;
}

void ExpectTable(uint32_t cp, const uint16_t* high) {
    SCOPED_TRACE(cp);
    ASSERT_TRUE(SetAnsiCodePage(cp));
    EXPECT_EQ(AnsiCodePage(), cp);
    std::u16string wide = AnsiToWide(AllBytes());
    ASSERT_EQ(wide.size(), 256u) << "one code unit per byte, zero byte included";
    for (int b = 0; b < 128; ++b) EXPECT_EQ(wide[b], b) << "byte " << b;
    for (int b = 128; b < 256; ++b) EXPECT_EQ(wide[b], high[b - 128]) << "byte " << b;
    // Every byte comes back unchanged, the undefined ones included.
    EXPECT_EQ(WideToAnsi(wide), AllBytes());
}

TEST_F(CodePage, TablesMatchWindows) {
    ExpectTable(1252, testdata::kCp1252);
    ExpectTable(1250, testdata::kCp1250);
    ExpectTable(1251, testdata::kCp1251);
}

TEST_F(CodePage, DefaultIs1252WithItsUndefinedBytesKept) {
    // On Windows the default is the system's ANSI code page: wine's English locale
    // gives 1252, which the rest of this test relies on.
    ASSERT_EQ(AnsiCodePage(), 1252u);
    const std::string undefined("\x81\x8D\x8F\x90\x9D", 5);
    EXPECT_EQ(AnsiToWide(undefined), (std::u16string{0x81, 0x8D, 0x8F, 0x90, 0x9D}));
    EXPECT_EQ(WideToAnsi(AnsiToWide(undefined)), undefined);
    EXPECT_EQ(AnsiToWide("\x80\x9F"), (std::u16string{0x20AC, 0x0178}));
}

// Every code unit outside ASCII and the surrogates narrows to its own byte, else to
// its best-fit byte, else to '?'. Under wine this checks the checked-in best-fit
// data against the system's conversion; on Linux it checks our lookup of it.
template <size_t N>
void ExpectNarrowing(uint32_t cp, const uint16_t* high, const detail::BestFit (&bestFit)[N]) {
    SCOPED_TRACE(cp);
    ASSERT_TRUE(SetAnsiCodePage(cp));
    std::u16string all;
    for (uint32_t u = 0x80; u <= 0xFFFF; ++u) {
        if (u < 0xD800 || u > 0xDFFF) all.push_back(static_cast<char16_t>(u));
    }
    std::string narrow = WideToAnsi(all);
    ASSERT_EQ(narrow.size(), all.size());
    size_t fit = 0;
    int mismatches = 0;
    for (size_t i = 0; i < all.size() && mismatches < 10; ++i) {
        const char16_t u = all[i];
        int expected = '?';
        for (int b = 0; b < 128; ++b) {
            if (high[b] == u) expected = 0x80 + b;
        }
        while (fit < N && bestFit[fit].unit < u) ++fit;
        if (expected == '?' && fit < N && bestFit[fit].unit == u) expected = bestFit[fit].byte;
        if (static_cast<uint8_t>(narrow[i]) != expected) {
            ++mismatches;
            ADD_FAILURE() << "U+" << std::hex << static_cast<int>(u) << " gave "
                          << static_cast<int>(narrow[i] & 0xFF) << ", expected " << expected;
        }
    }
}

TEST_F(CodePage, NarrowingFollowsWindowsBestFit) {
    EXPECT_EQ(WideToAnsi(u"\u0100\u2212\uFF21\u0131"), "A-Ai");
    // A surrogate pair is two units without a byte each.
    EXPECT_EQ(WideToAnsi(u"\U0001F600"), "??");
    ExpectNarrowing(1252, testdata::kCp1252, detail::kBestFit1252);
    ExpectNarrowing(1250, testdata::kCp1250, detail::kBestFit1250);
    ExpectNarrowing(1251, testdata::kCp1251, detail::kBestFit1251);
}

TEST_F(CodePage, EmbeddedZerosAndEmptyTextSurvive) {
    const std::string bytes("a\0b\0", 4);
    EXPECT_EQ(AnsiToWide(bytes), std::u16string(u"a\0b\0", 4));
    EXPECT_EQ(WideToAnsi(std::u16string(u"a\0b\0", 4)), bytes);
    EXPECT_EQ(AnsiToWide(""), u"");
    EXPECT_EQ(WideToAnsi(u""), "");
}

TEST_F(CodePage, CharactersWithoutAnyFitBecomeQuestionMarks) {
    // Cyrillic, CJK and a lone surrogate have no 1252 byte and no best-fit relative.
    EXPECT_EQ(WideToAnsi(u"x\u0416y\u4E2Dz"), "x?y?z");
    EXPECT_EQ(WideToAnsi(std::u16string{u'a', char16_t(0xD800), u'b'}), "a?b");
    // 1251 has the Cyrillic letter but still no CJK one.
    ASSERT_TRUE(SetAnsiCodePage(1251));
    EXPECT_EQ(WideToAnsi(u"\u0416"), "\xC6");
    EXPECT_EQ(WideToAnsi(u"\u4E2D"), "?");
}

TEST_F(CodePage, UnknownOrMultiByteCodePagesAreRefused) {
    for (uint32_t cp : {1u, 65001u, 932u, 999999u}) {
        EXPECT_FALSE(SetAnsiCodePage(cp)) << cp;
        EXPECT_EQ(AnsiCodePage(), 1252u) << "a refused choice changes nothing";
    }
}

}  // namespace
}  // namespace qm::platform
