// The value codecs against their byte layouts, and the take operations against every kind of
// short or malformed input: a failed take must return the default and consume nothing.
#include <gtest/gtest.h>

#include <climits>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/jar.h"

namespace qm {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes B(const TJar& jar) {
    return jar.Bytes();
}

TEST(JarEncoding, ValuesHaveTheirLittleEndianLayout) {
    struct Case {
        const char* name;
        void (*add)(TJar&);
        Bytes expected;
    };
    const Case cases[] = {
        {"integer 1", [](TJar& j) { JarAddInteger(j, 1); }, {0x01, 0, 0, 0}},
        {"integer min", [](TJar& j) { JarAddInteger(j, INT32_MIN); }, {0, 0, 0, 0x80}},
        {"int64 -2", [](TJar& j) { JarAddInt64(j, -2); }, {0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
        {"int64 halves",
         [](TJar& j) { JarAddInt64(j, 0x0102030405060708); },
         {0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01}},
        {"true", [](TJar& j) { JarAddBoolean(j, true); }, {0x01}},
        {"false", [](TJar& j) { JarAddBoolean(j, false); }, {0x00}},
        {"text abc", [](TJar& j) { JarAddWideText(j, u"abc"); }, {6, 0, 0, 0, 0x61, 0, 0x62, 0, 0x63, 0}},
        {"empty text", [](TJar& j) { JarAddWideText(j, u""); }, {0, 0, 0, 0}},
        // A lone surrogate and U+FFFF travel as the code units they are.
        {"raw units",
         [](TJar& j) { JarAddWideText(j, u"\xD800\xFFFF"); },
         {4, 0, 0, 0, 0x00, 0xD8, 0xFF, 0xFF}},
        {"bytes",
         [](TJar& j) {
             JarAddJar(j, TJar{0xAA, 0xBB});
         },
         {2, 0, 0, 0, 0xAA, 0xBB}},
        {"8-bit text with zero",
         [](TJar& j) { JarAddText(j, std::string("a\0\xff", 3)); },
         {3, 0, 0, 0, 'a', 0, 0xFF}},
    };
    for (const Case& c : cases) {
        TJar jar{0x55};  // values go at the end, after what is there
        c.add(jar);
        Bytes expected{0x55};
        expected.insert(expected.end(), c.expected.begin(), c.expected.end());
        EXPECT_EQ(B(jar), expected) << c.name;
    }
}

TEST(JarEncoding, MixedPacketReadsBackInOrder) {
    TJar jar;
    JarAddWideText(jar, u"h\u00e9llo \U0001F600");
    JarAddInteger(jar, -123456);
    JarAddInt64(jar, INT64_MIN);
    JarAddBoolean(jar, true);
    JarAddJar(jar, TJar{1, 2, 3});
    JarAddText(jar, "key");
    JarAddInt64(jar, -1);

    EXPECT_EQ(JarGetWideText(jar), u"h\u00e9llo \U0001F600");
    EXPECT_EQ(JarGetInteger(jar), -123456);
    EXPECT_EQ(JarGetInt64(jar), INT64_MIN);
    EXPECT_TRUE(JarGetBoolean(jar));
    EXPECT_EQ(JarGetJar(jar), (TJar{1, 2, 3}));
    EXPECT_EQ(JarGetText(jar), "key");
    EXPECT_EQ(Bytes(jar.begin(), jar.end()), Bytes(8, 0xFF));
    EXPECT_EQ(JarGetInt64(jar), -1);
    EXPECT_TRUE(JarIsEmpty(jar));
}

// Every prefixed take operation against the same malformed fronts: each must answer its
// default and leave the jar exactly as it was.
TEST(JarTake, MalformedPrefixesConsumeNothing) {
    struct Case {
        const char* name;
        Bytes front;
    };
    const Case cases[] = {
        {"empty", {}},
        {"3 bytes", {2, 0, 0}},
        {"count past end", {5, 0, 0, 0, 1, 2, 3, 4}},
        {"count one past end", {3, 0, 0, 0, 'a', 'b'}},
        {"negative count", {0xFF, 0xFF, 0xFF, 0xFF, 1, 2, 3}},
        {"most negative count", {0, 0, 0, 0x80, 1, 2, 3}},
        {"count INT32_MAX", {0xFF, 0xFF, 0xFF, 0x7F, 1, 2, 3}},
        {"count INT32_MAX-3", {0xFC, 0xFF, 0xFF, 0x7F, 1, 2, 3}},
    };
    for (const Case& c : cases) {
        TJar jar(c.front);
        EXPECT_EQ(JarGetWideText(jar), u"") << c.name;
        EXPECT_EQ(JarGetJar(jar), TJar()) << c.name;
        EXPECT_EQ(JarGetText(jar), "") << c.name;
        EXPECT_EQ(B(jar), c.front) << c.name;
    }
}

TEST(JarTake, OddByteCountIsNotWideText) {
    TJar jar{5, 0, 0, 0, 'a', 0, 'b', 0, 'c', 0};
    EXPECT_EQ(JarGetWideText(jar), u"");
    EXPECT_EQ(jar.Length(), 10);
    // The same bytes are still valid for the other prefixed readers.
    EXPECT_EQ(JarGetText(jar), std::string("a\0b\0c", 5));
    EXPECT_EQ(B(jar), (Bytes{0}));
}

TEST(JarTake, FixedSizeValuesNeedTheirWholeWidth) {
    TJar jar{0x01, 0x02, 0x03};
    EXPECT_EQ(JarGetInteger(jar), 0);
    EXPECT_EQ(JarGetInt64(jar), 0);
    EXPECT_EQ(jar.Length(), 3);
    // A short integer leaves the bytes for a boolean, which reads exactly 0x01 as true.
    EXPECT_TRUE(JarGetBoolean(jar));
    EXPECT_EQ(B(jar), (Bytes{0x02, 0x03}));
    EXPECT_FALSE(JarGetBoolean(jar));  // 0x02 is not true, and is consumed all the same
    EXPECT_EQ(B(jar), (Bytes{0x03}));

    TJar seven{1, 2, 3, 4, 5, 6, 7};
    EXPECT_EQ(JarGetInt64(seven), 0);
    EXPECT_EQ(seven.Length(), 7);
    EXPECT_EQ(JarGetInteger(seven), 0x04030201);

    TJar none;
    EXPECT_FALSE(JarGetBoolean(none));
    EXPECT_EQ(JarGetInteger(none), 0);
}

TEST(JarTake, UnreadableTextLeavesItsCountForTheNextRead) {
    TJar jar{5, 0, 0, 0, 'a', 0};
    EXPECT_EQ(JarGetWideText(jar), u"");
    EXPECT_EQ(JarGetInteger(jar), 5);
    EXPECT_EQ(B(jar), (Bytes{'a', 0}));
}

TEST(JarTake, EmptyValuesConsumeTheirPrefix) {
    TJar jar{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 9};
    EXPECT_EQ(JarGetWideText(jar), u"");
    EXPECT_EQ(jar.Length(), 9);
    EXPECT_EQ(JarGetJar(jar), TJar());
    EXPECT_EQ(jar.Length(), 5);
    EXPECT_EQ(JarGetText(jar), "");
    EXPECT_EQ(B(jar), (Bytes{9}));
}

TEST(JarTake, ValueFillingTheJarExactly) {
    TJar jar{2, 0, 0, 0, 0xAA, 0xBB};
    EXPECT_EQ(JarGetJar(jar), (TJar{0xAA, 0xBB}));
    EXPECT_TRUE(jar.empty());
}

TEST(JarTake, WrongTypeReadsTheRawBytes) {
    TJar jar;
    JarAddWideText(jar, u"ab");
    EXPECT_EQ(JarGetInteger(jar), 4);  // the byte count
    EXPECT_EQ(B(jar), (Bytes{'a', 0, 'b', 0}));
}

TEST(JarTake, TakenValueIsIndependentOfTheSource) {
    TJar jar;
    JarAddJar(jar, TJar{7, 8, 9});
    TJar copy = jar;
    TJar taken = JarGetJar(jar);
    JarClear(jar);
    EXPECT_EQ(taken, (TJar{7, 8, 9}));
    EXPECT_EQ(copy.Length(), 7);  // copies do not share the cleared storage
}

TEST(JarHelpers, CutClearAndAppend) {
    TJar jar{1, 2, 3, 4, 5};
    JarCut(jar, 0);
    JarCut(jar, -7);
    EXPECT_EQ(jar.Length(), 5);
    JarCut(jar, 2);
    EXPECT_EQ(B(jar), (Bytes{3, 4, 5}));
    JarCut(jar, 3);
    EXPECT_TRUE(JarIsEmpty(jar));
    jar = TJar{1, 2};
    JarCut(jar, INT32_MAX);
    EXPECT_TRUE(jar.empty());

    JarAppendByte(jar, 0x10);
    JarAppend(jar, TJar{0x20, 0x30});
    JarAppendText(jar, std::string("\0x", 2));
    EXPECT_EQ(B(jar), (Bytes{0x10, 0x20, 0x30, 0, 'x'}));
    JarClear(jar);
    EXPECT_TRUE(JarIsEmpty(jar));
}

TEST(JarHelpers, SourceMayBeTheJarItself) {
    // Growing reallocates; appending a jar to itself must copy from the bytes as they were.
    TJar jar{1, 2, 3};
    for (int i = 0; i < 6; ++i) {
        JarAppend(jar, jar);
    }
    ASSERT_EQ(jar.Length(), 3 * 64);
    EXPECT_EQ(jar[189], 1);
    EXPECT_EQ(jar[191], 3);

    TJar part{9, 8, 7, 6};
    part.Append(part.data() + 1, 2);
    EXPECT_EQ(B(part), (Bytes{9, 8, 7, 6, 8, 7}));

    TJar self{5, 6};
    JarAddJar(self, self);
    EXPECT_EQ(B(self), (Bytes{5, 6, 2, 0, 0, 0, 5, 6}));

    TJar a{1}, b{2};
    JarConcat(a, b, a);
    EXPECT_EQ(B(a), (Bytes{1, 2}));
    JarConcat(b, a, a);
    EXPECT_EQ(B(a), (Bytes{2, 1, 2}));
    JarWithLength(b, b);
    EXPECT_EQ(B(b), (Bytes{1, 0, 0, 0, 2}));
    JarCopy(b, b);
    EXPECT_EQ(b.Length(), 5);
}

TEST(JarHelpers, Builders) {
    TJar jar{9, 9};
    JarFromByte(0x7F, jar);
    EXPECT_EQ(B(jar), (Bytes{0x7F}));
    JarFromInteger(-2, jar);
    EXPECT_EQ(B(jar), (Bytes{0xFE, 0xFF, 0xFF, 0xFF}));
    TJar copy;
    JarCopy(jar, copy);
    JarClear(jar);
    EXPECT_EQ(copy.Length(), 4);
    JarWithLength(TJar(), jar);
    EXPECT_EQ(B(jar), (Bytes{0, 0, 0, 0}));
}

TEST(JarHelpers, SliceText) {
    const TJar jar{'a', 'b', 'c', 'd'};
    struct Case {
        std::int32_t start, count;
        std::string expected;
    };
    const Case cases[] = {
        {0, 4, "abcd"}, {1, 2, "bc"}, {3, 1, "d"}, {4, 0, ""},         {3, 2, ""},         {0, 5, ""},
        {-1, 2, ""},    {1, -1, ""},  {5, 0, ""},  {INT32_MAX, 1, ""}, {1, INT32_MAX, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(JarSliceText(jar, c.start, c.count), c.expected) << c.start << "," << c.count;
    }
}

TEST(JarHelpers, FindLittleEndianWord) {
    EXPECT_EQ(JarFind(TJar{0x78, 0x56, 0x34, 0x12}, 0x12345678u), 0);
    EXPECT_EQ(JarFind(TJar{0x78, 0x56, 0x34}, 0x12345678u), -1);
    EXPECT_EQ(JarFind(TJar(), 0u), -1);
    EXPECT_EQ(JarFind(TJar{0x12, 0x34, 0x56, 0x78}, 0x12345678u), -1);  // big-endian order is no match
    // Near misses before the match, and the word in the last possible position.
    EXPECT_EQ(JarFind(TJar{0x78, 0x56, 0x78, 0x56, 0x34, 0x00, 0x78, 0x56, 0x34, 0x12}, 0x12345678u), 6);
    // The first of two overlapping matches.
    EXPECT_EQ(JarFind(TJar{1, 0, 0, 0, 0, 0, 0}, 0u), 1);
    // A match may not run past the end.
    EXPECT_EQ(JarFind(TJar{9, 0x78, 0x56, 0x34}, 0x12345678u), -1);
}

TEST(JarLimits, GrowingPastTheSignedLengthThrowsAndKeepsTheJar) {
    TJar jar{1, 2};
    EXPECT_THROW(jar.Extend(static_cast<std::size_t>(INT32_MAX) - 1), std::length_error);
    EXPECT_THROW(jar.Append(jar.data(), static_cast<std::size_t>(INT32_MAX)), std::length_error);
    EXPECT_EQ(B(jar), (Bytes{1, 2}));
    EXPECT_THROW(TJar(nullptr, 1), std::invalid_argument);
    jar.SetLength(-5);
    EXPECT_TRUE(jar.empty());
    jar.SetLength(3);
    EXPECT_EQ(B(jar), (Bytes{0, 0, 0}));
}

}  // namespace
}  // namespace qm
