// VariantToJar / JarToVariant against real OLE Automation values (oleaut32, under wine in CI):
// every kind of VARIANT a host can pass either converts by the rules or answers false, and the
// conversion leaves the host's value as it was (no lock held, nothing freed).
#include "core/variant_win32.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <utility>
#include <vector>

#include "core/variant.h"

namespace qm {
namespace {

using Bytes = std::vector<std::uint8_t>;

SAFEARRAY* ByteVector(LONG lower, const Bytes& bytes) {
    SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, lower, static_cast<ULONG>(bytes.size()));
    if (array != nullptr && !bytes.empty()) {
        TSafeArrayLock lock(array);
        std::memcpy(lock.data(), bytes.data(), bytes.size());
    }
    return array;
}

// A variant that owns a byte array with the given lower bound and contents.
void HoldArray(TOleVariant& value, LONG lower, const Bytes& bytes) {
    V_VT(value.ptr()) = VT_ARRAY | VT_UI1;
    V_ARRAY(value.ptr()) = ByteVector(lower, bytes);
    ASSERT_NE(V_ARRAY(value.ptr()), nullptr);
}

TEST(VariantToJarWin32, ValuesThatAreNotArraysFail) {
    BYTE byte = 7;
    TOleVariant values[8];
    V_VT(values[1].ptr()) = VT_NULL;
    V_VT(values[2].ptr()) = VT_I4;
    V_I4(values[2].ptr()) = 3;
    V_VT(values[3].ptr()) = VT_BSTR;
    V_BSTR(values[3].ptr()) = SysAllocString(L"\x01\x02");
    V_VT(values[4].ptr()) = VT_BOOL;
    V_BOOL(values[4].ptr()) = VARIANT_TRUE;
    V_VT(values[5].ptr()) = VT_UI1;
    V_UI1(values[5].ptr()) = 9;
    V_VT(values[6].ptr()) = VT_BYREF | VT_UI1;
    V_UI1REF(values[6].ptr()) = &byte;
    V_VT(values[7].ptr()) = VT_DISPATCH;
    V_DISPATCH(values[7].ptr()) = nullptr;
    for (TOleVariant& value : values) {
        TJar destination{9};
        EXPECT_FALSE(VariantToJar(value.get(), destination)) << value.vt();
        EXPECT_EQ(destination, TJar{9}) << value.vt();
    }
    V_VT(values[6].ptr()) = VT_EMPTY;  // not ours to clear
}

TEST(VariantToJarWin32, ArraysThatCannotBeReadFail) {
    TJar destination{9};

    VARIANT noArray;
    VariantInit(&noArray);
    V_VT(&noArray) = VT_ARRAY | VT_UI1;
    V_ARRAY(&noArray) = nullptr;
    EXPECT_FALSE(VariantToJar(noArray, destination));

    V_VT(&noArray) = VT_BYREF | VT_ARRAY | VT_UI1;
    V_ARRAYREF(&noArray) = nullptr;
    EXPECT_FALSE(VariantToJar(noArray, destination));

    V_VT(&noArray) = VT_BYREF | VT_VARIANT;
    V_VARIANTREF(&noArray) = nullptr;
    EXPECT_FALSE(VariantToJar(noArray, destination));

    // A descriptor that claims four one-byte elements but has no data behind it.
    SAFEARRAY* hollow = nullptr;
    ASSERT_EQ(SafeArrayAllocDescriptor(1, &hollow), S_OK);
    hollow->cbElements = 1;
    hollow->rgsabound[0].lLbound = 0;
    hollow->rgsabound[0].cElements = 4;
    VARIANT hollowValue;
    VariantInit(&hollowValue);
    V_VT(&hollowValue) = VT_ARRAY | VT_UI1;
    V_ARRAY(&hollowValue) = hollow;
    EXPECT_FALSE(VariantToJar(hollowValue, destination));
    EXPECT_EQ(SafeArrayDestroyDescriptor(hollow), S_OK);

    // 4 x 0 bytes: dimension 1 (the leftmost bound given to SafeArrayCreate) claims four
    // elements, but the array holds no data at all.
    SAFEARRAYBOUND bounds[2] = {{4, 0}, {0, 0}};
    TOleVariant value;
    V_VT(value.ptr()) = VT_ARRAY | VT_UI1;
    V_ARRAY(value.ptr()) = SafeArrayCreate(VT_UI1, 2, bounds);
    ASSERT_NE(V_ARRAY(value.ptr()), nullptr);
    EXPECT_FALSE(VariantToJar(value.get(), destination));
    // 0 x 4: the first dimension is empty, so is the copy.
    std::swap(bounds[0], bounds[1]);
    TOleVariant flat;
    V_VT(flat.ptr()) = VT_ARRAY | VT_UI1;
    V_ARRAY(flat.ptr()) = SafeArrayCreate(VT_UI1, 2, bounds);
    ASSERT_NE(V_ARRAY(flat.ptr()), nullptr);
    TJar empty{9};
    EXPECT_TRUE(VariantToJar(flat.get(), empty));
    EXPECT_TRUE(empty.empty());
    EXPECT_EQ(destination, TJar{9});
}

TEST(VariantToJarWin32, CopiesTheFirstDimensionWhateverTheBounds) {
    for (const LONG lower : {0L, 1L, 5L, -3L, static_cast<LONG>(INT32_MIN)}) {
        TOleVariant value;
        HoldArray(value, lower, {0x10, 0x00, 0xFF});
        SAFEARRAY* held = V_ARRAY(value.ptr());
        TJar jar;
        ASSERT_TRUE(VariantToJar(value.get(), jar)) << lower;
        EXPECT_EQ(jar.Bytes(), (Bytes{0x10, 0x00, 0xFF})) << lower;
        // Unchanged and unlocked: the same array, and it can still be destroyed.
        EXPECT_EQ(value.vt(), VT_ARRAY | VT_UI1);
        EXPECT_EQ(V_ARRAY(value.ptr()), held);
        EXPECT_EQ(held->cLocks, 0u);
    }
}

TEST(VariantToJarWin32, EmptyArrayGivesEmptyJar) {
    TOleVariant value;
    HoldArray(value, 0, {});
    TJar jar{1, 2};
    ASSERT_TRUE(VariantToJar(value.get(), jar));
    EXPECT_TRUE(jar.empty());
}

TEST(VariantToJarWin32, OtherElementTypesGiveTheFirstBytesOfTheirData) {
    // Three 32-bit elements: the count is three, so the first three bytes are copied.
    TOleVariant value;
    V_VT(value.ptr()) = VT_ARRAY | VT_I4;
    V_ARRAY(value.ptr()) = SafeArrayCreateVector(VT_I4, 0, 3);
    ASSERT_NE(V_ARRAY(value.ptr()), nullptr);
    {
        TSafeArrayLock lock(V_ARRAY(value.ptr()));
        const LONG numbers[3] = {0x04030201, 0x08070605, 0x0C0B0A09};
        std::memcpy(lock.data(), numbers, sizeof numbers);
    }
    TJar jar;
    ASSERT_TRUE(VariantToJar(value.get(), jar));
    EXPECT_EQ(jar.Bytes(), (Bytes{1, 2, 3}));

    // A 2 x 3 byte array: the first dimension counts the bytes copied from the start.
    SAFEARRAYBOUND bounds[2] = {{2, 0}, {3, 0}};
    TOleVariant grid;
    V_VT(grid.ptr()) = VT_ARRAY | VT_UI1;
    V_ARRAY(grid.ptr()) = SafeArrayCreate(VT_UI1, 2, bounds);
    ASSERT_NE(V_ARRAY(grid.ptr()), nullptr);
    {
        TSafeArrayLock lock(V_ARRAY(grid.ptr()));
        const BYTE cells[6] = {1, 2, 3, 4, 5, 6};
        std::memcpy(lock.data(), cells, sizeof cells);
    }
    ASSERT_TRUE(VariantToJar(grid.get(), jar));
    EXPECT_EQ(jar.Bytes(), (Bytes{1, 2}));
}

TEST(VariantToJarWin32, FollowsOneLevelOfReference) {
    TOleVariant target;
    HoldArray(target, 0, {0xAA, 0xBB});

    VARIANT byVariant;
    VariantInit(&byVariant);
    V_VT(&byVariant) = VT_BYREF | VT_VARIANT;
    V_VARIANTREF(&byVariant) = target.ptr();
    TJar jar;
    ASSERT_TRUE(VariantToJar(byVariant, jar));
    EXPECT_EQ(jar.Bytes(), (Bytes{0xAA, 0xBB}));

    SAFEARRAY* array = V_ARRAY(target.ptr());
    VARIANT byArray;
    VariantInit(&byArray);
    V_VT(&byArray) = VT_BYREF | VT_ARRAY | VT_UI1;
    V_ARRAYREF(&byArray) = &array;
    jar.Clear();
    ASSERT_TRUE(VariantToJar(byArray, jar));
    EXPECT_EQ(jar.Bytes(), (Bytes{0xAA, 0xBB}));

    // A reference to a reference is not followed further.
    VARIANT twice;
    VariantInit(&twice);
    V_VT(&twice) = VT_BYREF | VT_VARIANT;
    V_VARIANTREF(&twice) = &byVariant;
    EXPECT_FALSE(VariantToJar(twice, jar));
}

TEST(JarToVariantWin32, OneDimensionalByteArrayFromZero) {
    TOleVariant value;
    V_VT(value.ptr()) = VT_BSTR;
    V_BSTR(value.ptr()) = SysAllocString(L"previous");
    for (const Bytes& bytes : {Bytes{0xAA, 0xBB, 0xCC}, Bytes{}}) {
        ASSERT_TRUE(JarToVariant(TJar(bytes), value.get()));
        ASSERT_EQ(value.vt(), VT_ARRAY | VT_UI1);
        SAFEARRAY* array = V_ARRAY(value.ptr());
        ASSERT_NE(array, nullptr);
        EXPECT_EQ(SafeArrayGetDim(array), 1u);
        LONG lower = -7, upper = -7;
        ASSERT_EQ(SafeArrayGetLBound(array, 1, &lower), S_OK);
        ASSERT_EQ(SafeArrayGetUBound(array, 1, &upper), S_OK);
        EXPECT_EQ(lower, 0);
        EXPECT_EQ(upper, static_cast<LONG>(bytes.size()) - 1);
        TJar back{9};
        ASSERT_TRUE(VariantToJar(value.get(), back));
        EXPECT_EQ(back.Bytes(), bytes);
    }
}

}  // namespace
}  // namespace qm
