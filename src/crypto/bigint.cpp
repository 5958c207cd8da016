// TFGInt arithmetic. The public values keep base 2^31 digits; the modular exponentiation
// repacks its operands into machine-word limbs (64-bit where the compiler has a 128-bit
// product, 32-bit otherwise) for Montgomery multiplication, and repacks the result. The answer
// is the same number either way; only the inner loop is wider.
#include "crypto/bigint.h"

#include <algorithm>
#include <atomic>
#include <utility>

#include "platform/owner_queue.h"
#include "platform/ticks.h"

namespace qm {

namespace {

using Mag = std::vector<std::uint32_t>;

constexpr std::uint32_t kBase = 0x80000000u;

void Trim(Mag& m) {
    while (m.size() > 1 && m.back() == 0) m.pop_back();
}

bool MagIsZero(const Mag& m) {
    return m.size() == 1 && m[0] == 0;
}

TFGInt Make(Mag mag, bool negative) {
    Trim(mag);
    TFGInt r;
    r.digits = std::move(mag);
    r.sign = (negative && !MagIsZero(r.digits)) ? TFGInt::Sign::Negative : TFGInt::Sign::Positive;
    return r;
}

int CmpMag(const Mag& a, const Mag& b) {
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    for (std::size_t i = a.size(); i-- > 0;) {
        if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    }
    return 0;
}

Mag AddMag(const Mag& a, const Mag& b) {
    const Mag& big = a.size() >= b.size() ? a : b;
    const Mag& small = a.size() >= b.size() ? b : a;
    Mag r(big.size() + 1);
    std::uint32_t carry = 0;
    for (std::size_t i = 0; i < big.size(); ++i) {
        // Two 31-bit digits and a carry fit in 32 bits; bit 31 is the next carry.
        std::uint32_t s = big[i] + (i < small.size() ? small[i] : 0) + carry;
        r[i] = s & kFGIntDigitMask;
        carry = s >> 31;
    }
    r[big.size()] = carry;
    Trim(r);
    return r;
}

// a - b for |a| >= |b|.
Mag SubMag(const Mag& a, const Mag& b) {
    Mag r(a.size());
    std::uint32_t borrow = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        std::uint32_t s = a[i] - (i < b.size() ? b[i] : 0) - borrow;
        r[i] = s & kFGIntDigitMask;
        borrow = s >> 31;
    }
    Trim(r);
    return r;
}

Mag MulMag(const Mag& a, const Mag& b) {
    if (MagIsZero(a) || MagIsZero(b)) return Mag{0};
    Mag r(a.size() + b.size(), 0);
    for (std::size_t i = 0; i < a.size(); ++i) {
        std::uint64_t carry = 0;
        const std::uint64_t ai = a[i];
        for (std::size_t j = 0; j < b.size(); ++j) {
            // < 2^62 + 2^31 + 2^33: no overflow.
            std::uint64_t t = ai * b[j] + r[i + j] + carry;
            r[i + j] = static_cast<std::uint32_t>(t & kFGIntDigitMask);
            carry = t >> 31;
        }
        std::size_t k = i + b.size();
        while (carry != 0) {
            std::uint64_t t = r[k] + carry;
            r[k] = static_cast<std::uint32_t>(t & kFGIntDigitMask);
            carry = t >> 31;
            ++k;
        }
    }
    Trim(r);
    return r;
}

Mag SqrMag(const Mag& a) {
    if (MagIsZero(a)) return Mag{0};
    const std::size_t n = a.size();
    // Cross products once each, doubled afterwards, then the squares on the diagonal.
    Mag r(2 * n, 0);
    for (std::size_t i = 0; i < n; ++i) {
        std::uint64_t carry = 0;
        const std::uint64_t ai = a[i];
        for (std::size_t j = i + 1; j < n; ++j) {
            std::uint64_t t = ai * a[j] + r[i + j] + carry;
            r[i + j] = static_cast<std::uint32_t>(t & kFGIntDigitMask);
            carry = t >> 31;
        }
        std::size_t k = i + n;
        while (carry != 0) {
            std::uint64_t t = r[k] + carry;
            r[k] = static_cast<std::uint32_t>(t & kFGIntDigitMask);
            carry = t >> 31;
            ++k;
        }
    }
    std::uint32_t top = 0;
    for (std::size_t i = 0; i < 2 * n; ++i) {
        std::uint32_t d = r[i];
        r[i] = ((d << 1) | top) & kFGIntDigitMask;
        top = d >> 30;
    }
    std::uint64_t carry = 0;
    for (std::size_t i = 0; i < n; ++i) {
        std::uint64_t t = static_cast<std::uint64_t>(a[i]) * a[i] + r[2 * i] + carry;
        r[2 * i] = static_cast<std::uint32_t>(t & kFGIntDigitMask);
        t = (t >> 31) + r[2 * i + 1];
        r[2 * i + 1] = static_cast<std::uint32_t>(t & kFGIntDigitMask);
        carry = t >> 31;
    }
    Trim(r);
    return r;
}

// Remainder of |a| by a non-zero single digit-sized divisor; fills the quotient when asked.
std::uint32_t DivSmall(const Mag& a, std::uint32_t k, Mag* quotient) {
    std::uint64_t rem = 0;
    if (quotient != nullptr) quotient->assign(a.size(), 0);
    for (std::size_t i = a.size(); i-- > 0;) {
        std::uint64_t cur = (rem << 31) | a[i];  // rem < k < 2^32: fits in 63 bits
        if (quotient != nullptr) (*quotient)[i] = static_cast<std::uint32_t>(cur / k);
        rem = cur % k;
    }
    if (quotient != nullptr) Trim(*quotient);
    return static_cast<std::uint32_t>(rem);
}

// Long division of magnitudes, one base-2^31 quotient digit per step. The divisor is first
// scaled so that its top digit has bit 30 set; the estimate from the top two remainder digits
// is then at most two too large, and the add-back step fixes the rare remaining excess.
void DivModMag(const Mag& a, const Mag& b, Mag& q, Mag& r) {
    if (CmpMag(a, b) < 0) {
        q = Mag{0};
        r = a;
        return;
    }
    if (b.size() == 1) {
        Mag quot;
        std::uint32_t rem = DivSmall(a, b[0], &quot);
        q = std::move(quot);
        r = Mag{rem};
        return;
    }
    const std::size_t n = b.size();
    const std::size_t m = a.size() - n;
    unsigned shift = 0;
    while (((b[n - 1] << shift) & 0x40000000u) == 0) ++shift;

    Mag v(n);
    Mag u(a.size() + 1);
    {
        std::uint32_t carry = 0;
        for (std::size_t i = 0; i < n; ++i) {
            std::uint64_t t = (static_cast<std::uint64_t>(b[i]) << shift) | carry;
            v[i] = static_cast<std::uint32_t>(t & kFGIntDigitMask);
            carry = static_cast<std::uint32_t>(t >> 31);
        }
        carry = 0;
        for (std::size_t i = 0; i < a.size(); ++i) {
            std::uint64_t t = (static_cast<std::uint64_t>(a[i]) << shift) | carry;
            u[i] = static_cast<std::uint32_t>(t & kFGIntDigitMask);
            carry = static_cast<std::uint32_t>(t >> 31);
        }
        u[a.size()] = carry;
    }

    Mag quot(m + 1, 0);
    const std::uint64_t vtop = v[n - 1];
    const std::uint64_t vnext = v[n - 2];
    for (std::size_t j = m + 1; j-- > 0;) {
        std::uint64_t num = (static_cast<std::uint64_t>(u[j + n]) << 31) | u[j + n - 1];
        std::uint64_t qhat = num / vtop;
        std::uint64_t rhat = num % vtop;
        while (qhat >= kBase || qhat * vnext > ((rhat << 31) | u[j + n - 2])) {
            --qhat;
            rhat += vtop;
            if (rhat >= kBase) break;
        }
        // u[j..j+n] -= qhat * v
        std::int64_t borrow = 0;
        std::uint64_t carry = 0;
        for (std::size_t i = 0; i < n; ++i) {
            std::uint64_t p = qhat * v[i] + carry;
            carry = p >> 31;
            std::int64_t t =
                static_cast<std::int64_t>(u[i + j]) - static_cast<std::int64_t>(p & kFGIntDigitMask) + borrow;
            u[i + j] = static_cast<std::uint32_t>(t & kFGIntDigitMask);
            borrow = t >> 31;
        }
        std::int64_t t = static_cast<std::int64_t>(u[j + n]) - static_cast<std::int64_t>(carry) + borrow;
        u[j + n] = static_cast<std::uint32_t>(t & kFGIntDigitMask);
        if (t < 0) {
            // The estimate was one too large: add the divisor back once.
            --qhat;
            std::uint32_t c = 0;
            for (std::size_t i = 0; i < n; ++i) {
                std::uint32_t s = u[i + j] + v[i] + c;
                u[i + j] = s & kFGIntDigitMask;
                c = s >> 31;
            }
            u[j + n] = (u[j + n] + c) & kFGIntDigitMask;
        }
        quot[j] = static_cast<std::uint32_t>(qhat);
    }
    // Undo the scaling on the remainder.
    Mag rem(n);
    for (std::size_t i = 0; i < n; ++i) {
        std::uint64_t hi = (i + 1 < n) ? u[i + 1] : 0;
        std::uint64_t t = ((hi << 31) | u[i]) >> shift;
        rem[i] = static_cast<std::uint32_t>(t & kFGIntDigitMask);
    }
    Trim(quot);
    Trim(rem);
    q = std::move(quot);
    r = std::move(rem);
}

Mag MagFromU64(std::uint64_t v) {
    Mag m;
    do {
        m.push_back(static_cast<std::uint32_t>(v & kFGIntDigitMask));
        v >>= 31;
    } while (v != 0);
    return m;
}

std::size_t MagBitLength(const Mag& m) {
    if (MagIsZero(m)) return 0;
    std::uint32_t top = m.back();
    std::size_t bits = 0;
    while (top != 0) {
        ++bits;
        top >>= 1;
    }
    return (m.size() - 1) * kFGIntDigitBits + bits;
}

bool MagBit(const Mag& m, std::size_t bit) {
    std::size_t d = bit / kFGIntDigitBits;
    return d < m.size() && ((m[d] >> (bit % kFGIntDigitBits)) & 1u) != 0;
}

Mag MagPow2(std::size_t bit) {
    Mag m(bit / kFGIntDigitBits + 1, 0);
    m.back() = 1u << (bit % kFGIntDigitBits);
    return m;
}

// ---- Montgomery arithmetic on machine words ----

// QM_BIGINT_NARROW_WORDS forces the 32-bit words of the i686 build, so that path is also
// checked against GMP on machines that cannot run 32-bit code.
#if defined(__SIZEOF_INT128__) && !defined(QM_BIGINT_NARROW_WORDS)
using Limb = std::uint64_t;
__extension__ typedef unsigned __int128 Wide;
#else
using Limb = std::uint32_t;
using Wide = std::uint64_t;
#endif
constexpr unsigned kLimbBits = sizeof(Limb) * 8;
using Limbs = std::vector<Limb>;

// Repacks base-2^31 digits into `count` limbs (the value must fit).
Limbs ToLimbs(const Mag& m, std::size_t count) {
    Limbs out(count, 0);
    Wide acc = 0;
    unsigned accBits = 0;
    std::size_t k = 0;
    for (std::uint32_t d : m) {
        acc |= static_cast<Wide>(d) << accBits;
        accBits += kFGIntDigitBits;
        if (accBits >= kLimbBits) {
            if (k < count) out[k++] = static_cast<Limb>(acc);
            acc >>= kLimbBits;
            accBits -= kLimbBits;
        }
    }
    if (accBits > 0 && k < count) out[k] = static_cast<Limb>(acc);
    return out;
}

Mag FromLimbs(const Limbs& l) {
    Mag out;
    out.reserve(l.size() * kLimbBits / kFGIntDigitBits + 2);
    Wide acc = 0;
    unsigned accBits = 0;
    for (Limb x : l) {
        acc |= static_cast<Wide>(x) << accBits;
        accBits += kLimbBits;
        while (accBits >= kFGIntDigitBits) {
            out.push_back(static_cast<std::uint32_t>(acc & kFGIntDigitMask));
            acc >>= kFGIntDigitBits;
            accBits -= kFGIntDigitBits;
        }
    }
    if (accBits > 0) out.push_back(static_cast<std::uint32_t>(acc & kFGIntDigitMask));
    if (out.empty()) out.push_back(0);
    Trim(out);
    return out;
}

// Modulus, its word count and -m^-1 mod 2^kLimbBits; R = 2^(kLimbBits * n).
struct Montgomery {
    std::size_t n = 0;
    Limbs m;
    Limb minv = 0;
    Limbs r2;  // R^2 mod m, to enter Montgomery form

    explicit Montgomery(const Mag& modulus) {
        n = (MagBitLength(modulus) + kLimbBits - 1) / kLimbBits;
        m = ToLimbs(modulus, n);
        // Newton's iteration doubles the correct low bits of the inverse of an odd m[0].
        Limb inv = m[0];
        for (int i = 0; i < 6; ++i) inv *= 2 - m[0] * inv;
        minv = static_cast<Limb>(0) - inv;
        Mag q, rem;
        DivModMag(MagPow2(2 * kLimbBits * n), modulus, q, rem);
        r2 = ToLimbs(rem, n);
    }
};

// The word kernels. N > 0 fixes the word count at compile time, so the compiler can unroll
// the inner loops for the common key sizes; N == 0 takes it from the context at run time.
template <std::size_t N>
struct Kernel {
    // t holds n + 1 words below 2m: subtract m once if needed and store n words.
    static void Finish(const Montgomery& ctx, Limb* out, const Limb* t) {
        const std::size_t n = N ? N : ctx.n;
        const Limb* m = ctx.m.data();
        bool ge = t[n] != 0;
        if (!ge) {
            ge = true;
            for (std::size_t i = n; i-- > 0;) {
                if (t[i] != m[i]) {
                    ge = t[i] > m[i];
                    break;
                }
            }
        }
        if (ge) {
            Limb borrow = 0;
            for (std::size_t i = 0; i < n; ++i) {
                const Wide d = static_cast<Wide>(t[i]) - m[i] - borrow;
                out[i] = static_cast<Limb>(d);
                borrow = static_cast<Limb>(d >> (2 * kLimbBits - 1));
            }
        } else {
            std::copy(t, t + n, out);
        }
    }

    // A three-word column accumulator for product scanning: word products of one column of
    // the result are summed here before a single word of it is stored.
    struct Column {
        Wide low = 0;  // the lower two words
        Limb high = 0;

        void Add(Limb x, Limb y) {
            const Wide p = static_cast<Wide>(x) * y;
            low += p;
            high += low < p ? 1 : 0;
        }
        void Add(const Column& c) {
            low += c.low;
            high += c.high + (low < c.low ? 1 : 0);
        }
        void Double() {
            high = (high << 1) | static_cast<Limb>(low >> (2 * kLimbBits - 1));
            low <<= 1;
        }
        Limb Word() const { return static_cast<Limb>(low); }
        void Shift() {
            low = (low >> kLimbBits) | (static_cast<Wide>(high) << kLimbBits);
            high = 0;
        }
    };

    // out = a * b / R mod m, for a, b < m, column by column: each column takes its products
    // of a and b and of the reduction words u and m, so the word u[i] is known when column i
    // is complete. `u` is scratch of n + 1 words; out may alias a or b.
    static void Mul(const Montgomery& ctx, Limb* out, const Limb* a, const Limb* b, Limb* u) {
        const std::size_t n = N ? N : ctx.n;
        const Limb* m = ctx.m.data();
        Column acc;
        for (std::size_t i = 0; i < n; ++i) {
            for (std::size_t j = 0; j < i; ++j) {
                acc.Add(a[j], b[i - j]);
                acc.Add(u[j], m[i - j]);
            }
            acc.Add(a[i], b[0]);
            u[i] = acc.Word() * ctx.minv;
            acc.Add(u[i], m[0]);  // clears the column's low word
            acc.Shift();
        }
        Limb* t = u + n + 1;
        for (std::size_t i = n; i < 2 * n; ++i) {
            for (std::size_t j = i - n + 1; j < n; ++j) {
                acc.Add(a[j], b[i - j]);
                acc.Add(u[j], m[i - j]);
            }
            t[i - n] = acc.Word();
            acc.Shift();
        }
        t[n] = acc.Word();
        Finish(ctx, out, t);
    }

    // out = a * a / R mod m: each cross product of a column is taken once and doubled, which
    // saves about a quarter of the word products of Mul. Scratch as for Mul.
    static void Sqr(const Montgomery& ctx, Limb* out, const Limb* a, Limb* u) {
        const std::size_t n = N ? N : ctx.n;
        const Limb* m = ctx.m.data();
        Column acc;
        for (std::size_t i = 0; i < n; ++i) {
            Column cross;
            for (std::size_t j = 0; 2 * j < i; ++j) cross.Add(a[j], a[i - j]);
            cross.Double();
            acc.Add(cross);
            if (i % 2 == 0) acc.Add(a[i / 2], a[i / 2]);
            for (std::size_t j = 0; j < i; ++j) acc.Add(u[j], m[i - j]);
            u[i] = acc.Word() * ctx.minv;
            acc.Add(u[i], m[0]);
            acc.Shift();
        }
        Limb* t = u + n + 1;
        for (std::size_t i = n; i < 2 * n; ++i) {
            Column cross;
            for (std::size_t j = i - n + 1; 2 * j < i; ++j) cross.Add(a[j], a[i - j]);
            cross.Double();
            acc.Add(cross);
            if (i % 2 == 0) acc.Add(a[i / 2], a[i / 2]);
            for (std::size_t j = i - n + 1; j < n; ++j) acc.Add(u[j], m[i - j]);
            t[i - n] = acc.Word();
            acc.Shift();
        }
        t[n] = acc.Word();
        Finish(ctx, out, t);
    }
};

unsigned WindowBits(std::size_t exponentBits) {
    if (exponentBits > 671) return 6;
    if (exponentBits > 239) return 5;
    if (exponentBits > 79) return 4;
    if (exponentBits > 23) return 3;
    return 1;
}

// x^e mod m for 0 < x < m, m odd and above 1, e > 0, by left-to-right sliding windows. The
// pump runs once for every exponent bit consumed, so it runs BigBitLength(e) times.
template <std::size_t N>
Mag MontgomeryPower(const Montgomery& mont, const Mag& x, const Mag& e) {
    using K = Kernel<N>;
    const std::size_t n = mont.n;
    const std::size_t bits = MagBitLength(e);
    const unsigned w = WindowBits(bits);

    Limbs t(2 * n + 2);  // scratch of the kernels
    // Odd powers x, x^3, ..., x^(2^w - 1) in Montgomery form.
    std::vector<Limbs> table(std::size_t{1} << (w - 1), Limbs(n));
    const Limbs base = ToLimbs(x, n);
    K::Mul(mont, table[0].data(), base.data(), mont.r2.data(), t.data());
    if (table.size() > 1) {
        Limbs x2(n);
        K::Sqr(mont, x2.data(), table[0].data(), t.data());
        for (std::size_t i = 1; i < table.size(); ++i) {
            K::Mul(mont, table[i].data(), table[i - 1].data(), x2.data(), t.data());
        }
    }

    Limbs acc(n);
    bool started = false;
    std::size_t i = bits;  // bits still to consume, from the top
    while (i > 0) {
        const std::size_t top = i - 1;
        if (!MagBit(e, top)) {
            if (started) K::Sqr(mont, acc.data(), acc.data(), t.data());
            MessagePump();
            i = top;
            continue;
        }
        // The longest window of at most w bits that starts at `top` and ends in a 1 bit.
        std::size_t low = top + 1 >= w ? top + 1 - w : 0;
        while (!MagBit(e, low)) ++low;
        std::size_t value = 0;
        for (std::size_t b = top + 1; b-- > low;) value = (value << 1) | (MagBit(e, b) ? 1u : 0u);
        const std::size_t len = top - low + 1;
        if (started) {
            for (std::size_t k = 0; k < len; ++k) {
                K::Sqr(mont, acc.data(), acc.data(), t.data());
                MessagePump();
            }
            K::Mul(mont, acc.data(), acc.data(), table[value >> 1].data(), t.data());
        } else {
            acc = table[value >> 1];
            started = true;
            for (std::size_t k = 0; k < len; ++k) MessagePump();
        }
        i = low;
    }
    // Leave Montgomery form: multiply by 1.
    Limbs one(n, 0);
    one[0] = 1;
    K::Mul(mont, acc.data(), acc.data(), one.data(), t.data());
    return FromLimbs(acc);
}

Mag MontgomeryPower(const Mag& x, const Mag& e, const Mag& modulus) {
    const Montgomery mont(modulus);
    // Word counts of the usual key sizes: 512- and 1024-bit moduli (and 2048 for keys that
    // hosts bring), in 64-bit or 32-bit words.
    switch (mont.n * kLimbBits) {
        case 512:
            return MontgomeryPower<512 / kLimbBits>(mont, x, e);
        case 1024:
            return MontgomeryPower<1024 / kLimbBits>(mont, x, e);
        case 2048:
            return MontgomeryPower<2048 / kLimbBits>(mont, x, e);
        default:
            return MontgomeryPower<0>(mont, x, e);
    }
}

// The process-wide generator that picks Miller-Rabin bases. An atomic state keeps concurrent
// callers free of data races; the quality needed is only a uniform index.
std::atomic<std::uint64_t> g_baseState{0x853c49e6748fea9bULL};

std::uint64_t NextBaseRandom() {
    std::uint64_t z =
        g_baseState.fetch_add(0x9e3779b97f4a7c15ULL, std::memory_order_relaxed) + 0x9e3779b97f4a7c15ULL;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

void ReseedBaseRandom() {
    const std::uint64_t seed = platform::HighResCounter();
    g_baseState.store(seed * 0x2545F4914F6CDD1DULL + 1, std::memory_order_relaxed);
}

thread_local std::uint64_t t_pumpRuns = 0;

}  // namespace

// ---- Conversions ----

std::string BytesToBits(const std::string& bytes) {
    std::string bits;
    bits.reserve(bytes.size() * 8);
    for (unsigned char c : bytes) {
        for (int b = 7; b >= 0; --b) bits.push_back(((c >> b) & 1) ? '1' : '0');
    }
    return bits;
}

std::string BitsToBytes(const std::string& bits) {
    const std::size_t pad = (8 - bits.size() % 8) % 8;
    std::string bytes((bits.size() + pad) / 8, '\0');
    for (std::size_t i = 0; i < bits.size(); ++i) {
        if (bits[i] == '1') {
            std::size_t pos = i + pad;
            bytes[pos / 8] =
                static_cast<char>(static_cast<unsigned char>(bytes[pos / 8]) | (0x80u >> (pos % 8)));
        }
    }
    return bytes;
}

std::string BigToBits(const TFGInt& value) {
    const std::size_t len = MagBitLength(value.digits);
    if (len == 0) return "0";
    std::string bits(len, '0');
    for (std::size_t i = 0; i < len; ++i) {
        if (MagBit(value.digits, i)) bits[len - 1 - i] = '1';
    }
    return bits;
}

TFGInt BigFromBits(const std::string& bits) {
    Mag m(bits.size() / kFGIntDigitBits + 1, 0);
    for (std::size_t i = 0; i < bits.size(); ++i) {
        if (bits[bits.size() - 1 - i] == '1') m[i / kFGIntDigitBits] |= 1u << (i % kFGIntDigitBits);
    }
    return Make(std::move(m), false);
}

std::string BigToBytes(const TFGInt& value) {
    const std::size_t len = MagBitLength(value.digits);
    const std::size_t count = len == 0 ? 1 : (len + 7) / 8;
    std::string bytes(count, '\0');
    for (std::size_t i = 0; i < len; ++i) {
        if (MagBit(value.digits, i)) {
            std::size_t byte = count - 1 - i / 8;
            bytes[byte] = static_cast<char>(static_cast<unsigned char>(bytes[byte]) | (1u << (i % 8)));
        }
    }
    return bytes;
}

TFGInt BigFromBytes(const std::string& bytes) {
    const std::size_t bitCount = bytes.size() * 8;
    Mag m(bitCount / kFGIntDigitBits + 1, 0);
    for (std::size_t i = 0; i < bitCount; ++i) {
        unsigned char c = static_cast<unsigned char>(bytes[bytes.size() - 1 - i / 8]);
        if ((c >> (i % 8)) & 1u) m[i / kFGIntDigitBits] |= 1u << (i % kFGIntDigitBits);
    }
    return Make(std::move(m), false);
}

TFGInt BigFromDecimal(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && text[i] != '-' && (text[i] < '0' || text[i] > '9')) ++i;
    bool negative = false;
    if (i < text.size() && text[i] == '-') {
        negative = true;
        ++i;
    }
    Mag m{0};
    // Nine decimal digits at a time: multiply by 10^k and add, in base 2^31.
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        std::uint32_t chunk = 0, scale = 1;
        for (int k = 0; k < 9 && i < text.size() && text[i] >= '0' && text[i] <= '9'; ++k, ++i) {
            chunk = chunk * 10 + static_cast<std::uint32_t>(text[i] - '0');
            scale *= 10;
        }
        std::uint64_t carry = chunk;
        for (auto& d : m) {
            std::uint64_t t = static_cast<std::uint64_t>(d) * scale + carry;
            d = static_cast<std::uint32_t>(t & kFGIntDigitMask);
            carry = t >> 31;
        }
        while (carry != 0) {
            m.push_back(static_cast<std::uint32_t>(carry & kFGIntDigitMask));
            carry >>= 31;
        }
    }
    return Make(std::move(m), negative);
}

std::string BigToDecimal(const TFGInt& value) {
    Mag m = value.digits;
    std::string out;
    do {
        Mag q;
        std::uint32_t rem = DivSmall(m, 1000000000u, &q);
        m = std::move(q);
        for (int k = 0; k < 9; ++k) {
            out.push_back(static_cast<char>('0' + rem % 10));
            rem /= 10;
            if (MagIsZero(m) && rem == 0) break;
        }
    } while (!MagIsZero(m));
    if (value.IsNegative()) out.push_back('-');
    std::reverse(out.begin(), out.end());
    return out;
}

TFGInt BigFromU64(std::uint64_t value) {
    return Make(MagFromU64(value), false);
}

std::size_t BigBitLength(const TFGInt& value) {
    return MagBitLength(value.digits);
}

// ---- Arithmetic ----

BigOrder BigCompareAbs(const TFGInt& a, const TFGInt& b) {
    int c = CmpMag(a.digits, b.digits);
    return c < 0 ? BigOrder::Smaller : (c > 0 ? BigOrder::Larger : BigOrder::Equal);
}

TFGInt BigAdd(const TFGInt& a, const TFGInt& b) {
    if (a.sign == b.sign) return Make(AddMag(a.digits, b.digits), a.IsNegative());
    // Opposite signs: the larger magnitude gives the sign.
    if (CmpMag(a.digits, b.digits) >= 0) return Make(SubMag(a.digits, b.digits), a.IsNegative());
    return Make(SubMag(b.digits, a.digits), b.IsNegative());
}

TFGInt BigSub(const TFGInt& a, const TFGInt& b) {
    TFGInt negB = b;
    if (!negB.IsZero()) {
        negB.sign = b.IsNegative() ? TFGInt::Sign::Positive : TFGInt::Sign::Negative;
    }
    return BigAdd(a, negB);
}

TFGInt BigMul(const TFGInt& a, const TFGInt& b) {
    return Make(MulMag(a.digits, b.digits), a.sign != b.sign);
}

TFGInt BigSquare(const TFGInt& a) {
    return Make(SqrMag(a.digits), false);
}

bool BigDivMod(const TFGInt& a, const TFGInt& b, TFGInt& quotient, TFGInt& remainder) {
    if (b.IsZero()) return false;
    Mag q, r;
    DivModMag(a.digits, b.digits, q, r);
    if (a.IsNegative() && !MagIsZero(r)) {
        // Round the quotient away from zero so the remainder becomes |b| - r, non-negative.
        q = AddMag(q, Mag{1});
        r = SubMag(b.digits, r);
    }
    const bool negativeQuotient = a.sign != b.sign;
    quotient = Make(std::move(q), negativeQuotient);
    remainder = Make(std::move(r), false);
    return true;
}

TFGInt BigMod(const TFGInt& a, const TFGInt& m) {
    TFGInt q, r;
    if (!BigDivMod(a, m, q, r)) return TFGInt{};
    return r;
}

TFGInt BigModMul(const TFGInt& a, const TFGInt& b, const TFGInt& m) {
    return BigMod(BigMul(a, b), m);
}

TFGInt BigModSquare(const TFGInt& a, const TFGInt& m) {
    return BigMod(BigSquare(a), m);
}

bool BigModExp(const TFGInt& a, const TFGInt& e, const TFGInt& m, TFGInt& result) {
    if (m.IsZero()) return false;
    TFGInt r0 = BigMod(a, m);
    if (r0.IsZero()) {
        result = TFGInt{};
        return true;
    }
    if (!m.IsOdd()) return false;
    // m > 1 here: for m = 1 every base is 0 mod m.
    if (e.IsZero()) {
        MessagePump();
        result = BigFromU64(1);
        return true;
    }
    // The exponent is read bit by bit between pump runs, and nested work may change the
    // caller's value meanwhile: work on a copy.
    const Mag exponent = e.digits;
    Mag power = MontgomeryPower(r0.digits, exponent, m.digits);
    result = Make(std::move(power), false);
    return true;
}

TFGInt BigGcd(const TFGInt& a, const TFGInt& b) {
    Mag x = a.digits, y = b.digits;
    while (!MagIsZero(y)) {
        Mag q, r;
        DivModMag(x, y, q, r);
        x = std::move(y);
        y = std::move(r);
    }
    return Make(std::move(x), false);
}

bool BigModInverse(const TFGInt& a, const TFGInt& m, TFGInt& inverse) {
    if (m.IsZero()) return false;
    const TFGInt modulus = Make(m.digits, false);
    // Reducing a first keeps the extended Euclid on non-negative remainders; the inverse
    // of a and of a mod m is the same number.
    const TFGInt reduced = BigMod(a, modulus);
    const TFGInt g = BigGcd(reduced, modulus);
    if (!(g.digits.size() == 1 && g.digits[0] == 1)) return false;
    TFGInt r0 = modulus, r1 = reduced;
    TFGInt s0 = BigFromU64(0), s1 = BigFromU64(1);
    while (!r1.IsZero()) {
        TFGInt q, r;
        BigDivMod(r0, r1, q, r);
        r0 = std::move(r1);
        r1 = std::move(r);
        TFGInt s = BigSub(s0, BigMul(q, s1));
        s0 = std::move(s1);
        s1 = std::move(s);
    }
    if (s0.IsNegative()) s0 = BigAdd(s0, modulus);
    inverse = std::move(s0);
    return true;
}

void BigShiftRight1(TFGInt& a) {
    Mag& d = a.digits;
    for (std::size_t i = 0; i < d.size(); ++i) {
        std::uint32_t next = i + 1 < d.size() ? d[i + 1] : 0;
        d[i] = ((d[i] >> 1) | (next << 30)) & kFGIntDigitMask;
    }
    Trim(d);
    if (MagIsZero(d)) a.sign = TFGInt::Sign::Positive;
}

std::uint32_t BigModSmall(const TFGInt& a, std::uint32_t k) {
    if (k == 0) return 0;
    return DivSmall(a.digits, k, nullptr);
}

// ---- Primes ----

bool MillerRabinTest(const TFGInt& candidate, int rounds) {
    // Every round pumps messages, and nested work may change the caller's value: test a copy.
    const TFGInt x = candidate;
    if (x.IsNegative() || !x.IsOdd() || (x.digits.size() == 1 && x.digits[0] == 1)) return false;
    ReseedBaseRandom();
    const TFGInt one = BigFromU64(1);
    const TFGInt xMinus1 = BigSub(x, one);
    TFGInt t = xMinus1;
    std::size_t s = 0;
    while (!t.IsOdd()) {
        BigShiftRight1(t);
        ++s;
    }
    for (int round = 0; round < rounds; ++round) {
        // Uniform over the first 1227 entries; the last, 9973, is never a base.
        const std::uint64_t index = NextBaseRandom() % (SmallPrimes.size() - 1);
        TFGInt z;
        if (!BigModExp(BigFromU64(SmallPrimes[index]), t, x, z)) return false;
        if (z == one || z == xMinus1) continue;
        bool passed = false;
        for (std::size_t k = 0; k + 1 < s; ++k) {
            z = BigModSquare(z, x);
            if (z == xMinus1) {
                passed = true;
                break;
            }
            if (z == one) return false;
        }
        if (!passed) return false;
    }
    return true;
}

bool IsProbablePrime(const TFGInt& x, int rounds) {
    if (x.IsNegative() || !x.IsOdd()) return false;
    // 1 has no Miller-Rabin decomposition (x - 1 = 0) and is no prime.
    if (x.digits.size() == 1 && x.digits[0] == 1) return false;
    for (std::uint16_t p : SmallPrimes) {
        if (DivSmall(x.digits, p, nullptr) == 0) return false;
    }
    return MillerRabinTest(x, rounds);
}

// ---- Message pump ----

void MessagePump() {
    ++t_pumpRuns;
    platform::PumpMessages();
}

std::uint64_t MessagePumpRuns() {
    return t_pumpRuns;
}

}  // namespace qm
