// VariantToJar / JarToVariant over qm::TVariant: the same rules a Windows host sees with
// VARIANT and SAFEARRAY.
#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "core/variant.h"

namespace qm {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(VariantToJar, ValuesThatAreNotArraysFailAndLeaveTheDestination) {
    const TVariant values[] = {
        TVariant(),
        TVariant::Null(),
        TVariant(std::int16_t{7}),
        TVariant(std::int32_t{0}),
        TVariant(std::int64_t{-1}),
        TVariant(2.5),
        TVariant(true),
        TVariant(std::uint8_t{0xAA}),
        TVariant(u"\x01\x02"),
    };
    for (const TVariant& value : values) {
        TJar destination{9};
        EXPECT_FALSE(VariantToJar(value, destination)) << value.Type();
        EXPECT_EQ(destination, TJar{9}) << value.Type();
        EXPECT_FALSE(value.IsArray());
    }
}

TEST(VariantToJar, CopiesTheElementsWhateverTheBounds) {
    for (const std::int32_t lower : {0, 1, 5, -3, INT32_MIN, INT32_MAX - 2, INT32_MAX}) {
        const TVariant value(TByteArray{lower, {0x10, 0x00, 0xFF}});
        TJar jar;
        ASSERT_TRUE(VariantToJar(value, jar)) << lower;
        EXPECT_EQ(jar.Bytes(), (Bytes{0x10, 0x00, 0xFF})) << lower;
        EXPECT_EQ(value.Array()->bytes.size(), 3u);  // the variant itself is not changed
    }
}

TEST(VariantToJar, EmptyArrayGivesEmptyJar) {
    TJar jar{1, 2};
    ASSERT_TRUE(VariantToJar(TVariant(TByteArray{}), jar));
    EXPECT_TRUE(jar.empty());
}

TEST(JarToVariant, ByteArrayWithBoundsFromZero) {
    TVariant value(u"previous");
    ASSERT_TRUE(JarToVariant(TJar{0xAA, 0xBB, 0xCC}, value));
    EXPECT_EQ(value.Type(), kVtArray | kVtUi1);
    ASSERT_NE(value.Array(), nullptr);
    EXPECT_EQ(value.Array()->LowerBound(), 0);
    EXPECT_EQ(value.Array()->UpperBound(), 2);
    EXPECT_EQ(value.Array()->bytes, (Bytes{0xAA, 0xBB, 0xCC}));

    ASSERT_TRUE(JarToVariant(TJar(), value));
    EXPECT_TRUE(value.IsArray());
    EXPECT_EQ(value.Array()->LowerBound(), 0);
    EXPECT_EQ(value.Array()->UpperBound(), -1);

    TJar back{7};
    ASSERT_TRUE(VariantToJar(value, back));
    EXPECT_TRUE(back.empty());
}

}  // namespace
}  // namespace qm
