// The core's byte-array operations with real automation VARIANTs and SAFEARRAYs (Windows build).
#include <gtest/gtest.h>

#include <vector>

#include "core/variant.h"
#include "core/variant_win32.h"
#include "mill/mill.h"
#include "qmsock/qmsock.h"

namespace qm {
namespace {

TEST(CoreLibWin32, BytesToBufferAndCompressDataWithVariants) {
    CSockLib lib;
    lib.OnSessionOpen = [](CSockLib&, int32_t) {};
    lib.OnSessionRejected = [](CSockLib&, int32_t, int32_t) {};
    const int32_t h = lib.OpenSession(u"127.0.0.1", 9, u"p", u"u", u"w");
    ASSERT_NE(h, 0);

    TOleVariant number;
    V_VT(number.ptr()) = VT_I4;
    V_I4(number.ptr()) = 5;
    EXPECT_FALSE(lib.BytesToBuffer(h, number.get()));
    EXPECT_EQ(lib.LastError(), 4);
    EXPECT_FALSE(lib.CompressData(number.get()));
    EXPECT_EQ(number.vt(), VT_I4);
    EXPECT_EQ(V_I4(number.ptr()), 5);

    std::vector<uint8_t> data;
    for (int i = 0; i < 3000; ++i) data.push_back(static_cast<uint8_t>("xyzxyw"[i % 6]));
    TOleVariant bytes;
    ASSERT_TRUE(JarToVariant(TJar(data), bytes.get()));
    EXPECT_TRUE(lib.BytesToBuffer(h, bytes.get()));
    EXPECT_EQ(lib.LastError(), 0);
    EXPECT_EQ(lib.Mill().Pipes.back()->BuildJar.Length(), 4 + 3000);

    ASSERT_TRUE(lib.CompressData(bytes.get()));
    EXPECT_EQ(bytes.vt(), VT_ARRAY | VT_UI1);
    TJar packed;
    ASSERT_TRUE(VariantToJar(bytes.get(), packed));
    EXPECT_LT(packed.size(), data.size());
    ASSERT_TRUE(lib.DecompressData(bytes.get()));
    TJar unpacked;
    ASSERT_TRUE(VariantToJar(bytes.get(), unpacked));
    EXPECT_EQ(unpacked, TJar(data));
}

}  // namespace
}  // namespace qm
