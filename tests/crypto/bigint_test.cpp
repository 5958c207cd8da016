// TFGInt conversions, the stated corner cases of the arithmetic, and the message pump running
// nested work during an exponentiation. Runs on every platform; the broad comparison against
// GMP lives in bigint_gmp_test.cpp (Linux only).
#include "crypto/bigint.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "platform/owner_queue.h"

namespace qm {
namespace {

TFGInt Dec(const char* text) {
    return BigFromDecimal(text);
}

TEST(BigIntConversions, BitAndByteTexts) {
    EXPECT_EQ(BigToBits(TFGInt{}), "0");
    EXPECT_EQ(BigFromBits("0000101"), BigFromU64(5));
    EXPECT_EQ(BigFromBits(""), TFGInt{});
    EXPECT_EQ(BigToBits(Dec("-6")), "110") << "the sign is ignored";

    EXPECT_EQ(BigToBytes(BigFromU64(256)), std::string("\x01\x00", 2));
    EXPECT_EQ(BigFromBytes(std::string("\x00\x00\x01", 3)), BigFromU64(1));
    EXPECT_EQ(BigToBytes(TFGInt{}), std::string(1, '\0'));
    EXPECT_EQ(BigFromBytes(""), TFGInt{});

    EXPECT_EQ(BytesToBits(std::string("\x80\x01", 2)), "1000000000000001");
    EXPECT_EQ(BitsToBytes("101"), "\x05");
    EXPECT_EQ(BitsToBytes("1x0000001"), std::string("\x01\x01", 2)) << "any character but 1 is a 0";
    EXPECT_EQ(BitsToBytes(""), "");

    // Bytes -> value -> bytes across digit boundaries (31-bit digits, 8-bit bytes).
    std::string bytes;
    for (int i = 1; i <= 70; ++i) bytes.push_back(static_cast<char>(i * 37));
    const TFGInt v = BigFromBytes(bytes);
    EXPECT_EQ(BigToBytes(v), bytes);
    EXPECT_EQ(BigFromBits(BigToBits(v)), v);
    EXPECT_EQ(BitsToBytes(BytesToBits(bytes)), bytes);
    EXPECT_EQ(BigBitLength(v), 70u * 8 - 2);  // the first byte, 37, has 6 significant bits
}

TEST(BigIntConversions, DecimalTexts) {
    struct Case {
        const char* text;
        const char* canonical;
    };
    const Case cases[] = {
        {"65537", "65537"},
        {"  -000123abc", "-123"},
        {"key=42", "42"},
        {"abc", "0"},
        {"-", "0"},
        {"-0", "0"},
        {"", "0"},
        {"340282366920938463463374607431768211457", "340282366920938463463374607431768211457"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(BigToDecimal(BigFromDecimal(c.text)), c.canonical) << c.text;
    }
    EXPECT_FALSE(BigFromDecimal("-0").IsNegative()) << "zero is never negative";
}

TEST(BigIntArithmetic, SignedDivisionKeepsRemainderNonNegative) {
    struct Case {
        const char *a, *b, *q, *r;
    };
    const Case cases[] = {
        {"7", "3", "2", "1"},
        {"-7", "3", "-3", "2"},
        {"7", "-3", "-2", "1"},
        {"-7", "-3", "3", "2"},
        {"-6", "3", "-2", "0"},
        {"0", "-5", "0", "0"},
        {"5", "7", "0", "5"},
        // Quotient estimates that need the add-back step (values worked out with Python).
        {"10633823971231087140371977586134220799", "4611686020574871553", "2305843009213693951",
         "2305843015656144896"},
        {"22835963104563006019587709170287321975057547262", "4951760161753207116950142976",
         "4611686018427387903", "11529215044994727934"},
        {"22835963062027710174277441852096522391337828350", "9903520305059670166633185278",
         "2305843009213693951", "9903520302753827159566974972"},
        {"98079714615416886913666561795157613463937819628430950401", "9903520309671356180765605887",
         "9903520318894728217620381695", "9903520307365513171551911936"},
    };
    for (const Case& c : cases) {
        TFGInt q, r;
        ASSERT_TRUE(BigDivMod(Dec(c.a), Dec(c.b), q, r)) << c.a << " / " << c.b;
        EXPECT_EQ(BigToDecimal(q), c.q) << c.a << " / " << c.b;
        EXPECT_EQ(BigToDecimal(r), c.r) << c.a << " / " << c.b;
    }
    EXPECT_EQ(BigMod(Dec("-7"), Dec("3")), BigFromU64(2));

    TFGInt q = BigFromU64(9), r = BigFromU64(9);
    EXPECT_FALSE(BigDivMod(Dec("5"), TFGInt{}, q, r)) << "a zero divisor is refused";
    EXPECT_EQ(q, BigFromU64(9));
    EXPECT_EQ(BigMod(Dec("5"), TFGInt{}), TFGInt{});
}

TEST(BigIntArithmetic, SmallHelpers) {
    EXPECT_EQ(BigCompareAbs(Dec("-9"), Dec("8")), BigOrder::Larger);
    EXPECT_EQ(BigCompareAbs(Dec("-9"), Dec("9")), BigOrder::Equal);
    EXPECT_EQ(BigCompareAbs(Dec("2147483648"), Dec("2147483649")), BigOrder::Smaller);

    EXPECT_EQ(BigToDecimal(BigAdd(Dec("-5"), Dec("3"))), "-2");
    EXPECT_EQ(BigToDecimal(BigSub(Dec("3"), Dec("3"))), "0");
    EXPECT_FALSE(BigMul(Dec("-5"), TFGInt{}).IsNegative());
    EXPECT_EQ(BigToDecimal(BigMul(Dec("-4294967296"), Dec("4294967296"))), "-18446744073709551616");
    EXPECT_EQ(BigToDecimal(BigSquare(Dec("-4294967297"))), "18446744082299486209");

    TFGInt h = Dec("4294967297");
    BigShiftRight1(h);
    EXPECT_EQ(BigToDecimal(h), "2147483648");
    TFGInt m1 = Dec("-1");
    BigShiftRight1(m1);
    EXPECT_EQ(m1, TFGInt{}) << "halving -1 gives a plain zero";

    EXPECT_EQ(BigModSmall(Dec("18446744073709551617"), 9973), 8014u);  // (2^64 + 1) mod 9973
    EXPECT_EQ(BigModSmall(Dec("12345"), 0), 0u);
    EXPECT_EQ(BigToDecimal(BigGcd(Dec("-84"), Dec("36"))), "12");
    EXPECT_EQ(BigGcd(TFGInt{}, TFGInt{}), TFGInt{});
}

TEST(BigIntModular, ExponentiationCornerCases) {
    const TFGInt m = Dec("1000003");  // odd
    TFGInt r = BigFromU64(77);
    EXPECT_TRUE(BigModExp(TFGInt{}, Dec("5"), m, r));
    EXPECT_EQ(r, TFGInt{}) << "base 0";
    EXPECT_TRUE(BigModExp(Dec("-3000009"), Dec("5"), m, r));
    EXPECT_EQ(r, TFGInt{}) << "a multiple of the modulus";
    EXPECT_TRUE(BigModExp(Dec("2000006"), TFGInt{}, m, r));
    EXPECT_EQ(r, TFGInt{}) << "a multiple of the modulus, even to the power 0";
    EXPECT_TRUE(BigModExp(Dec("12345"), TFGInt{}, m, r));
    EXPECT_EQ(r, BigFromU64(1)) << "exponent 0";
    EXPECT_TRUE(BigModExp(Dec("-2"), Dec("3"), m, r));
    EXPECT_EQ(r, BigFromU64(1000003 - 8)) << "a negative base is reduced first";
    EXPECT_TRUE(BigModExp(Dec("5"), Dec("3"), Dec("1"), r));
    EXPECT_EQ(r, TFGInt{}) << "everything is 0 modulo 1";

    r = BigFromU64(77);
    EXPECT_FALSE(BigModExp(Dec("3"), Dec("5"), Dec("1000000"), r)) << "even modulus";
    EXPECT_FALSE(BigModExp(Dec("3"), Dec("5"), TFGInt{}, r)) << "zero modulus";
    EXPECT_EQ(r, BigFromU64(77));

    // A 1024-bit modulus with a 201-bit exponent (value worked out with Python).
    const TFGInt big = BigAdd(BigFromBits("1" + std::string(1023, '0')), Dec("1155"));
    const TFGInt base = BigAdd(BigFromBits("1" + std::string(300, '0')), Dec("12345"));
    const TFGInt exp = BigAdd(BigFromBits("1" + std::string(200, '0')), Dec("7"));
    ASSERT_TRUE(BigModExp(base, exp, big, r));
    EXPECT_EQ(
        BigToDecimal(r),
        "5149351264025666715939541998440229593612560517825381774113519780336762338232991886488832945045978009"
        "6080032969949055692205288157932078067976265425602936380211194059767824959394013484675844144272183049"
        "6678518811356069147347995193930235662697787035370745204610652319512397457507676215964019238903064255"
        "58348968");
}

TEST(BigIntModular, InverseAndItsFailure) {
    TFGInt inv = BigFromU64(5);
    EXPECT_FALSE(BigModInverse(Dec("65537"), Dec("196611"), inv)) << "65537 divides 3 * 65537";
    EXPECT_FALSE(BigModInverse(Dec("6"), Dec("9"), inv));
    EXPECT_FALSE(BigModInverse(Dec("6"), TFGInt{}, inv));
    EXPECT_EQ(inv, BigFromU64(5)) << "the output stays unset";

    ASSERT_TRUE(BigModInverse(Dec("65537"), Dec("3120"), inv));
    EXPECT_EQ(BigModMul(inv, Dec("65537"), Dec("3120")), BigFromU64(1));
    ASSERT_TRUE(BigModInverse(Dec("-3"), Dec("7"), inv));
    EXPECT_EQ(inv, BigFromU64(2)) << "-3 * 2 = -6 = 1 mod 7";
    ASSERT_TRUE(BigModInverse(Dec("5"), Dec("1"), inv));
    EXPECT_EQ(inv, TFGInt{});
}

TEST(BigIntPrimes, ProbablePrimeVerdicts) {
    for (const char* composite : {"0", "1", "2", "4", "-7", "3", "9973", "10001", "29929" /* 173^2 */,
                                  "99460729" /* 9973^2 */, "4294967297" /* 641 * 6700417 */}) {
        EXPECT_FALSE(IsProbablePrime(Dec(composite), 4)) << composite;
    }
    // Factors beyond the table: only Miller-Rabin can tell (10007 * 10009, 65537 * 2147483647).
    EXPECT_FALSE(IsProbablePrime(Dec("100160063"), 4));
    EXPECT_FALSE(IsProbablePrime(Dec("140739635773439"), 4));
    for (const char* prime : {"10007", "2147483647", "2305843009213693951"}) {
        EXPECT_TRUE(IsProbablePrime(Dec(prime), 4)) << prime;
    }
    // 2^512 - 569, a 512-bit prime (confirmed with `openssl prime`).
    const TFGInt p512 = BigSub(BigFromBits("1" + std::string(512, '0')), Dec("569"));
    ASSERT_EQ(BigBitLength(p512), 512u);
    EXPECT_TRUE(IsProbablePrime(p512, 4));
    EXPECT_FALSE(IsProbablePrime(BigMul(p512, Dec("10007")), 4));
    EXPECT_FALSE(IsProbablePrime(BigAdd(p512, BigFromU64(1)), 4));
}

// Work posted to the thread's queue runs inside an exponentiation, between two exponent bits,
// and may itself exponentiate; both results stay right.
TEST(BigIntPump, NestedWorkRunsDuringExponentiation) {
    const TFGInt m = BigSub(BigFromBits("1" + std::string(512, '0')), Dec("569"));  // prime
    const TFGInt base = Dec("123456789");
    bool outerRunning = false;
    int nestedRuns = 0;
    bool nestedOk = false;
    platform::OwnerQueue queue(
        [&](std::uint32_t, std::uintptr_t, void*) {
            ++nestedRuns;
            TFGInt fermat;
            // Fermat: base^(m-1) = 1 for the prime m.
            nestedOk = outerRunning && BigModExp(base, BigSub(m, BigFromU64(1)), m, fermat) &&
                       fermat == BigFromU64(1);
        },
        nullptr);
    ASSERT_TRUE(queue.Valid());
    ASSERT_TRUE(queue.Post(platform::kFirstMessage + 100, 0, nullptr));

    const std::uint64_t pumpsBefore = MessagePumpRuns();
    outerRunning = true;
    TFGInt r;
    ASSERT_TRUE(BigModExp(base, m, m, r));  // base^m = base for the prime m
    outerRunning = false;
    EXPECT_EQ(r, base);
    EXPECT_EQ(nestedRuns, 1);
    EXPECT_TRUE(nestedOk);
    // The outer call pumped once per bit of its 512-bit exponent, the nested one once per bit
    // of its own.
    EXPECT_EQ(MessagePumpRuns() - pumpsBefore, 1024u);
}

// Nested work may change or replace the very values a running exponentiation or primality test
// was given; the running call keeps working on what it was given.
TEST(BigIntPump, InputsChangedByNestedWorkKeepTheirOldValueInside) {
    const TFGInt prime = BigSub(BigFromBits("1" + std::string(512, '0')), Dec("569"));
    const TFGInt base = Dec("123456789");
    TFGInt exponent = prime;
    TFGInt candidate = prime;
    int runs = 0;
    platform::OwnerQueue queue(
        [&](std::uint32_t, std::uintptr_t, void*) {
            ++runs;
            exponent = Dec("3");
            candidate = BigMul(prime, Dec("10007"));
        },
        nullptr);
    ASSERT_TRUE(queue.Valid());

    ASSERT_TRUE(queue.Post(platform::kFirstMessage + 101, 0, nullptr));
    TFGInt r;
    ASSERT_TRUE(BigModExp(base, exponent, prime, r));
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(r, base) << "base^p = base for the prime p";

    ASSERT_TRUE(queue.Post(platform::kFirstMessage + 101, 0, nullptr));
    candidate = prime;
    EXPECT_TRUE(IsProbablePrime(candidate, 4));
    EXPECT_EQ(runs, 2);
}

}  // namespace
}  // namespace qm
