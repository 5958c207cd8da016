// TFGInt arithmetic against GMP as the independent oracle, on random operands of many sizes,
// both signs and digit patterns that stress carries and quotient estimates (all-ones digits,
// zero digits, lone top bits).
#include <gmp.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>

#include "crypto/bigint.h"

namespace qm {
namespace {

class Mpz {
  public:
    Mpz() { mpz_init(v_); }
    ~Mpz() { mpz_clear(v_); }
    Mpz(const Mpz&) = delete;
    Mpz& operator=(const Mpz&) = delete;
    mpz_ptr get() { return v_; }
    mpz_srcptr get() const { return v_; }

  private:
    mpz_t v_;
};

void ToMpz(const TFGInt& x, Mpz& out) {
    const std::string bytes = BigToBytes(x);
    mpz_import(out.get(), bytes.size(), 1, 1, 1, 0, bytes.data());
    if (x.IsNegative()) mpz_neg(out.get(), out.get());
}

std::string MpzText(const Mpz& x) {
    char* s = mpz_get_str(nullptr, 16, x.get());
    std::string text(s);
    void (*freefunc)(void*, size_t);
    mp_get_memory_functions(nullptr, nullptr, &freefunc);
    freefunc(s, text.size() + 1);
    return text;
}

std::string Text(const TFGInt& x) {
    Mpz m;
    ToMpz(x, m);
    return MpzText(m);
}

// Digits in range and no leading zero digit; zero is positive.
::testing::AssertionResult IsNormal(const TFGInt& x) {
    if (x.digits.empty()) return ::testing::AssertionFailure() << "no digits";
    for (std::uint32_t d : x.digits) {
        if (d > kFGIntDigitMask) return ::testing::AssertionFailure() << "digit out of range";
    }
    if (x.digits.size() > 1 && x.digits.back() == 0) return ::testing::AssertionFailure() << "leading zero";
    if (x.IsZero() && x.IsNegative()) return ::testing::AssertionFailure() << "negative zero";
    return ::testing::AssertionSuccess();
}

class Operands {
  public:
    explicit Operands(std::uint64_t seed) : rng_(seed) {}

    // A value of about `bits` bits whose base-2^31 digits follow one of several patterns.
    TFGInt Make(std::size_t bits, bool allowNegative) {
        if (bits == 0) return TFGInt{};
        const int pattern = static_cast<int>(rng_() % 5);
        std::vector<std::uint32_t> digits((bits + 30) / 31);
        for (auto& d : digits) {
            switch (pattern) {
                case 0:
                    d = static_cast<std::uint32_t>(rng_()) & kFGIntDigitMask;
                    break;
                case 1:
                    d = kFGIntDigitMask;
                    break;
                case 2:
                    d = (rng_() % 3 == 0) ? 0 : kFGIntDigitMask;
                    break;
                case 3:
                    d = (rng_() % 2 == 0) ? 0 : 1;
                    break;
                default: {
                    static const std::uint32_t picks[] = {0, 1, 0x40000000u, 0x3FFFFFFFu, kFGIntDigitMask};
                    d = picks[rng_() % 5];
                }
            }
        }
        const std::size_t topBits = bits - (digits.size() - 1) * 31;
        digits.back() &= (topBits >= 31) ? kFGIntDigitMask : ((1u << topBits) - 1);
        digits.back() |= 1u << (topBits - 1);  // exactly `bits` bits
        TFGInt x;
        x.digits = digits;
        if (allowNegative && rng_() % 2 == 0) x.sign = TFGInt::Sign::Negative;
        return x;
    }

    std::size_t Size() {
        static const std::size_t sizes[] = {1,  2,  30,  31,  32,  33,  61,  62,  63,   64,   65,   93,
                                            94, 95, 127, 128, 129, 255, 256, 512, 1023, 1024, 2048, 3100};
        return sizes[rng_() % (sizeof(sizes) / sizeof(sizes[0]))];
    }

    std::uint64_t Next() { return rng_(); }

  private:
    std::mt19937_64 rng_;
};

TEST(BigIntGmp, AddSubMulSquareMatch) {
    Operands ops(1);
    for (int i = 0; i < 2000; ++i) {
        const TFGInt a = ops.Make(ops.Size(), true);
        const TFGInt b = ops.Make(ops.Next() % 3 == 0 ? 0 : ops.Size(), true);
        Mpz ma, mb, want;
        ToMpz(a, ma);
        ToMpz(b, mb);

        const TFGInt sum = BigAdd(a, b), diff = BigSub(a, b), prod = BigMul(a, b), sq = BigSquare(a);
        ASSERT_TRUE(IsNormal(sum) && IsNormal(diff) && IsNormal(prod) && IsNormal(sq));
        mpz_add(want.get(), ma.get(), mb.get());
        ASSERT_EQ(Text(sum), MpzText(want)) << Text(a) << " + " << Text(b);
        mpz_sub(want.get(), ma.get(), mb.get());
        ASSERT_EQ(Text(diff), MpzText(want)) << Text(a) << " - " << Text(b);
        mpz_mul(want.get(), ma.get(), mb.get());
        ASSERT_EQ(Text(prod), MpzText(want)) << Text(a) << " * " << Text(b);
        mpz_mul(want.get(), ma.get(), ma.get());
        ASSERT_EQ(Text(sq), MpzText(want)) << Text(a) << " ^ 2";
    }
}

// Quotient and remainder with 0 <= r < |b|: GMP's mpz_mod gives r, and (a - r) / b is exact.
TEST(BigIntGmp, DivModMatchesEuclideanDivision) {
    Operands ops(2);
    for (int i = 0; i < 4000; ++i) {
        const std::size_t bBits = ops.Size();
        const std::size_t aBits = (ops.Next() % 4 == 0) ? ops.Size() : bBits + ops.Next() % 200;
        const TFGInt a = ops.Make(ops.Next() % 10 == 0 ? 0 : aBits, true);
        const TFGInt b = ops.Make(bBits, true);
        TFGInt q, r;
        ASSERT_TRUE(BigDivMod(a, b, q, r));
        ASSERT_TRUE(IsNormal(q) && IsNormal(r));
        Mpz ma, mb, wantR, wantQ;
        ToMpz(a, ma);
        ToMpz(b, mb);
        mpz_mod(wantR.get(), ma.get(), mb.get());
        mpz_sub(wantQ.get(), ma.get(), wantR.get());
        mpz_divexact(wantQ.get(), wantQ.get(), mb.get());
        ASSERT_EQ(Text(r), MpzText(wantR)) << Text(a) << " mod " << Text(b);
        ASSERT_EQ(Text(q), MpzText(wantQ)) << Text(a) << " div " << Text(b);
        ASSERT_EQ(Text(BigMod(a, b)), MpzText(wantR));
    }
}

TEST(BigIntGmp, GcdAndInverseMatch) {
    Operands ops(3);
    int inverses = 0, refusals = 0;
    for (int i = 0; i < 600; ++i) {
        const TFGInt a = ops.Make(ops.Size(), true);
        TFGInt m = ops.Make(ops.Size(), false);
        if (ops.Next() % 3 == 0) m = BigMul(m, BigFromU64(2 * 3 * 5 * 7));  // shares factors often
        Mpz ma, mm, want;
        ToMpz(a, ma);
        ToMpz(m, mm);
        mpz_gcd(want.get(), ma.get(), mm.get());
        ASSERT_EQ(Text(BigGcd(a, m)), MpzText(want));

        TFGInt inv = BigFromU64(12345);
        const bool exists = mpz_invert(want.get(), ma.get(), mm.get()) != 0;
        if (mpz_cmp_ui(mm.get(), 1) == 0) mpz_set_ui(want.get(), 0);  // GMP leaves 1 mod 1 alone
        ASSERT_EQ(BigModInverse(a, m, inv), exists) << Text(a) << " mod " << Text(m);
        if (exists) {
            ++inverses;
            ASSERT_TRUE(IsNormal(inv));
            ASSERT_EQ(Text(inv), MpzText(want)) << Text(a) << " mod " << Text(m);
        } else {
            ++refusals;
            ASSERT_EQ(inv, BigFromU64(12345)) << "a failed inverse leaves its output alone";
        }
    }
    EXPECT_GT(inverses, 100);
    EXPECT_GT(refusals, 100);
}

TEST(BigIntGmp, ModExpMatchesAndPumpsOncePerExponentBit) {
    Operands ops(4);
    const std::size_t sizes[] = {2, 31, 32, 62, 64, 65, 130, 512, 1023, 1024, 2048};
    for (int i = 0; i < 150; ++i) {
        const std::size_t mBits = sizes[i % (sizeof(sizes) / sizeof(sizes[0]))];
        TFGInt m = ops.Make(mBits, false);
        m.digits[0] |= 1;
        const TFGInt a = ops.Make(ops.Size(), true);
        const std::size_t eBits = (i % 7 == 0) ? 0 : (i % 5 == 0 ? mBits : 1 + ops.Next() % 300);
        const TFGInt e = ops.Make(eBits, false);

        const std::uint64_t before = MessagePumpRuns();
        TFGInt r;
        ASSERT_TRUE(BigModExp(a, e, m, r));
        const std::uint64_t pumps = MessagePumpRuns() - before;
        ASSERT_TRUE(IsNormal(r));

        Mpz ma, me, mm, want;
        ToMpz(a, ma);
        ToMpz(e, me);
        ToMpz(m, mm);
        mpz_powm(want.get(), ma.get(), me.get(), mm.get());
        // A base that is a multiple of the modulus gives 0, even to the power 0.
        if (mpz_divisible_p(ma.get(), mm.get()) != 0) mpz_set_ui(want.get(), 0);
        ASSERT_EQ(Text(r), MpzText(want)) << Text(a) << " ^ " << Text(e) << " mod " << Text(m);
        if (!BigMod(a, m).IsZero()) {
            ASSERT_EQ(pumps, BigToBits(e).size()) << "one pump per exponent bit";
        }
    }
}

TEST(BigIntGmp, DecimalTextsMatch) {
    Operands ops(5);
    for (int i = 0; i < 300; ++i) {
        const TFGInt a = ops.Make(ops.Next() % 9 == 0 ? 0 : ops.Size(), true);
        Mpz ma;
        ToMpz(a, ma);
        char* s = mpz_get_str(nullptr, 10, ma.get());
        const std::string want(s);
        void (*freefunc)(void*, size_t);
        mp_get_memory_functions(nullptr, nullptr, &freefunc);
        freefunc(s, want.size() + 1);
        ASSERT_EQ(BigToDecimal(a), want);
        ASSERT_EQ(BigFromDecimal(want), a);
    }
}

// Every candidate that trial division lets through is judged as GMP judges it; primes of the
// table itself are declared composite on purpose.
TEST(BigIntGmp, ProbablePrimeAgreesWithGmp) {
    Operands ops(6);
    int primes = 0;
    for (int i = 0; i < 400; ++i) {
        TFGInt x = ops.Make(i < 200 ? 20 + ops.Next() % 40 : 200 + ops.Next() % 330, false);
        x.digits[0] |= 1;
        Mpz mx;
        ToMpz(x, mx);
        const bool want = mpz_probab_prime_p(mx.get(), 30) != 0 && mpz_cmp_ui(mx.get(), 10000) > 0;
        ASSERT_EQ(IsProbablePrime(x, 4), want) << Text(x);
        primes += want ? 1 : 0;
    }
    EXPECT_GT(primes, 5);
}

}  // namespace
}  // namespace qm
