// TFGInt: the arbitrary-precision signed integers behind the RSA scheme.
//
// Representation: a sign and a magnitude in base 2^31, least significant digit first. Every
// digit lies in 0..2^31-1 (the top bit of each word is clear), and every value is kept in
// normal form: the most significant digit is non-zero, except for zero, which is the single
// digit 0 with a positive sign. Magnitude comparison relies on normal form (digit counts
// first), so every operation here leaves its result normalised. Values made by the byte and
// bit conversions are non-negative.
//
// Contract:
// - Values are plain copyable data; each owns its digits. Operations take their inputs by
//   const reference and return or fill a separate output, which may be one of the inputs:
//   inputs are read completely before the output is written.
// - Thread use: values are not shared between threads by this unit. BigModExp, and through it
//   IsProbablePrime, run the calling thread's message pump once per exponent bit, so any
//   handler of that thread may run nested inside them; they copy their inputs first, keep no
//   static working state, and may themselves be called from such a nested handler.
// - Bad input: a zero divisor, an even modulus or a missing inverse is an ordinary failure
//   (false, or zero where a function returns a value, as documented below); nothing throws
//   except std::bad_alloc.
// - Bit texts are strings of '0' and '1', most significant bit first; byte strings are
//   std::string used as 8-bit containers, first byte most significant.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qm {

inline constexpr unsigned kFGIntDigitBits = 31;
inline constexpr std::uint32_t kFGIntDigitMask = 0x7FFFFFFFu;

struct TFGInt {
    enum class Sign : std::uint8_t { Negative = 0, Positive = 1 };

    Sign sign = Sign::Positive;
    // Digits in base 2^31, least significant first; never empty.
    std::vector<std::uint32_t> digits{0};

    bool IsZero() const { return digits.size() == 1 && digits[0] == 0; }
    bool IsNegative() const { return sign == Sign::Negative; }
    bool IsOdd() const { return (digits[0] & 1u) != 0; }

    friend bool operator==(const TFGInt&, const TFGInt&) = default;
};

namespace detail {
constexpr std::array<std::uint16_t, 1228> MakeSmallPrimes() {
    std::array<bool, 10000> composite{};
    std::array<std::uint16_t, 1228> primes{};
    std::size_t count = 0;
    for (std::size_t i = 2; i < composite.size(); ++i) {
        if (composite[i]) continue;
        if (i != 2 && count < primes.size()) primes[count++] = static_cast<std::uint16_t>(i);
        for (std::size_t j = i * i; j < composite.size(); j += i) composite[j] = true;
    }
    return primes;
}
}  // namespace detail

// The 1228 odd primes from 3 to 9973 (every prime below 10000 but 2), increasing.
inline constexpr std::array<std::uint16_t, 1228> SmallPrimes = detail::MakeSmallPrimes();
static_assert(SmallPrimes.front() == 3 && SmallPrimes.back() == 9973);

// ---- Conversions ----

// 8 characters per byte, most significant bit first.
std::string BytesToBits(const std::string& bytes);
// 0 bits in front up to a multiple of 8, then 8 bits per byte; any character but '1' is a 0.
std::string BitsToBytes(const std::string& bits);
// The magnitude's bits without leading zeros; "0" for zero. The sign is ignored.
std::string BigToBits(const TFGInt& value);
// Non-negative value of a bit text; leading zeros are skipped, any character but '1' is a 0,
// and the empty text is zero.
TFGInt BigFromBits(const std::string& bits);
// The magnitude big-endian without a leading zero byte; zero is the single byte 00.
std::string BigToBytes(const TFGInt& value);
// Non-negative value of big-endian bytes; leading zero bytes and the empty string give what
// they stand for (the empty string is zero).
TFGInt BigFromBytes(const std::string& bytes);
// Leading characters other than digits and '-' are skipped; a '-' there makes the value
// negative; the digits that follow are read up to the first non-digit. No digits: zero.
TFGInt BigFromDecimal(const std::string& text);
// Decimal text with a leading '-' for negative values.
std::string BigToDecimal(const TFGInt& value);
TFGInt BigFromU64(std::uint64_t value);
// The number of significant bits of the magnitude; 0 for zero.
std::size_t BigBitLength(const TFGInt& value);

// ---- Arithmetic ----

enum class BigOrder { Smaller, Equal, Larger };

// Compares magnitudes only: is |a| smaller than, equal to or larger than |b|.
BigOrder BigCompareAbs(const TFGInt& a, const TFGInt& b);
TFGInt BigAdd(const TFGInt& a, const TFGInt& b);
TFGInt BigSub(const TFGInt& a, const TFGInt& b);
TFGInt BigMul(const TFGInt& a, const TFGInt& b);
// a squared (never negative).
TFGInt BigSquare(const TFGInt& a);
// Quotient and remainder with 0 <= remainder < |b| (also for negative a): a = q*b + r. A zero
// divisor gives false and leaves the outputs unchanged.
bool BigDivMod(const TFGInt& a, const TFGInt& b, TFGInt& quotient, TFGInt& remainder);
// The remainder of BigDivMod, in 0..|m|-1; zero for a zero modulus.
TFGInt BigMod(const TFGInt& a, const TFGInt& m);
// (a*b) mod m and a^2 mod m, in 0..|m|-1; zero for a zero modulus.
TFGInt BigModMul(const TFGInt& a, const TFGInt& b, const TFGInt& m);
TFGInt BigModSquare(const TFGInt& a, const TFGInt& m);
// a^|e| mod |m|. Fails (false, output unchanged) for a zero or even modulus, except that a base
// which is a multiple of the modulus gives 0 for every modulus but zero. Runs MessagePump once
// per character of BigToBits(e) (once for e = 0), unless the base is 0 mod m.
bool BigModExp(const TFGInt& a, const TFGInt& e, const TFGInt& m, TFGInt& result);
// Greatest common divisor of the magnitudes; gcd(0, 0) is 0.
TFGInt BigGcd(const TFGInt& a, const TFGInt& b);
// x with a*x = 1 (mod |m|) and 0 <= x < |m|; false (output unchanged) when gcd(a, m) != 1 or
// m is zero.
bool BigModInverse(const TFGInt& a, const TFGInt& m, TFGInt& inverse);
// Halves the magnitude in place (rounding toward zero).
void BigShiftRight1(TFGInt& a);
// |a| mod k; 0 for k = 0.
std::uint32_t BigModSmall(const TFGInt& a, std::uint32_t k);

// ---- Primes ----

// True when x is odd, above 1, divisible by no entry of SmallPrimes (so the table's primes
// themselves are rejected) and passes `rounds` Miller-Rabin rounds with bases drawn from the
// table. Reseeds the process-wide base generator from the high-resolution counter first.
bool IsProbablePrime(const TFGInt& x, int rounds);
// The Miller-Rabin rounds of IsProbablePrime alone, for callers that have done the trial
// division another way; false for anything but an odd value above 1.
bool MillerRabinTest(const TFGInt& x, int rounds);

// ---- Message pump ----

// Dispatches what is queued for the calling thread's owner queue; the long computations of
// this unit and of RSA call it between steps so the thread stays responsive.
void MessagePump();
// How many times MessagePump has run on the calling thread; lets callers and tests see that
// a computation kept the thread responsive.
std::uint64_t MessagePumpRuns();

}  // namespace qm
