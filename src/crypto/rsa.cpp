// RSA key pairs, key texts, fingerprints and the block format. The block operations work on
// texts of '0' and '1' exactly as the format is defined, which keeps every produced byte
// traceable to the definition; the cost is negligible beside the exponentiations.
#include "crypto/rsa.h"

#include <array>
#include <cstring>
#include <vector>

#include "crypto/base64.h"
#include "crypto/md5.h"
#include "platform/random.h"

namespace qm {

namespace {

constexpr int kPrimeRounds = 4;

const std::string& TestMessage() {
    static const std::string message(kKeyTestMessage);
    return message;
}

// Puts '0' characters in front of `bits` until its length is a multiple of `unit`.
void PadFront(std::string& bits, std::size_t unit) {
    const std::size_t rem = bits.size() % unit;
    if (rem != 0) bits.insert(0, unit - rem, '0');
}

// The number of significant bits of n, as the length of its bit text (1 for zero).
std::size_t KeyBits(const TFGInt& n) {
    return BigToBits(n).size();
}

}  // namespace

std::string GuidRandomBytes() {
    std::string bytes;
    bytes.reserve(64);
    for (int i = 0; i < 4; ++i) {
        std::uint8_t guid[16];
        platform::NewGuidBytes(guid);
        bytes.append(reinterpret_cast<const char*>(guid), sizeof(guid));
    }
    return bytes;
}

void NextProbablePrime(TFGInt& x, const std::function<void()>& afterCandidate) {
    TFGInt candidate = x;
    if (!candidate.IsOdd()) candidate = BigAdd(candidate, BigFromU64(1));
    const TFGInt two = BigFromU64(2);

    // Residues of the candidate modulo every table prime, advanced by 2 with each step: the
    // same verdict as dividing every candidate afresh, at a fraction of the cost.
    std::array<std::uint16_t, SmallPrimes.size()> residues{};
    {
        const TFGInt start = candidate;
        for (std::size_t i = 0; i < SmallPrimes.size(); ++i) {
            const TFGInt r = BigMod(start, BigFromU64(SmallPrimes[i]));
            residues[i] = static_cast<std::uint16_t>(r.digits[0]);
        }
    }
    for (;;) {
        candidate = BigAdd(candidate, two);
        bool divisible = false;
        for (std::size_t i = 0; i < SmallPrimes.size(); ++i) {
            std::uint32_t r = residues[i] + 2u;
            if (r >= SmallPrimes[i]) r -= SmallPrimes[i];
            residues[i] = static_cast<std::uint16_t>(r);
            divisible = divisible || r == 0;
        }
        // MillerRabinTest answers false for anything at or below 1 (a negative start climbs
        // through those values).
        const bool passed = !divisible && MillerRabinTest(candidate, kPrimeRounds);
        MessagePump();
        if (afterCandidate) afterCandidate();
        if (passed) break;
    }
    x = std::move(candidate);
}

bool GenerateKeypair(std::string& publicKeyText, std::string& privateKeyText,
                     const KeygenProgress& progress) {
    publicKeyText.clear();
    privateKeyText.clear();
    // A fault anywhere below (memory, or a nested handler run by the pump that throws) ends
    // the generation with a plain false: callers only ever see the answer.
    try {
        const std::string sp = GuidRandomBytes();
        const std::string sq = GuidRandomBytes();
        TFGInt p = BigFromBytes(sp);
        TFGInt q = BigFromBytes(sq);
        for (int which = 0; which < 2; ++which) {
            std::uint32_t candidates = 0;
            NextProbablePrime(which == 0 ? p : q, [&] {
                ++candidates;
                if (progress) progress(which, candidates);
            });
        }
        const TFGInt one = BigFromU64(1);
        const TFGInt n = BigMul(p, q);
        const TFGInt phi = BigMul(BigSub(p, one), BigSub(q, one));
        TFGInt d;
        if (!BigModInverse(BigFromU64(kPublicExponent), phi, d)) return false;
        const std::string publicKey = BigToBytes(n);
        const std::string privateKey = BigToBytes(d);
        const bool ok = KeypairSelfTest(publicKey, privateKey);
        publicKeyText = Base64Encode(publicKey);
        privateKeyText = Base64Encode(privateKey);
        return ok;
    } catch (...) {
        publicKeyText.clear();
        privateKeyText.clear();
        return false;
    }
}

std::string TakeFingerprint(const std::string& publicKeyText) {
    if (publicKeyText.empty()) return {};
    const std::string bytes = Base64Decode(publicKeyText);
    if (bytes.empty()) return {};
    return Base64Encode(MD5OfText(bytes));
}

bool EncryptWithPublicKey(const std::string& publicKey, const std::string& plain, std::string& cipher) {
    cipher.clear();
    const TFGInt n = BigFromBytes(publicKey);
    const std::size_t k = KeyBits(n);
    if (k < 2) return false;
    const TFGInt e = BigFromU64(kPublicExponent);

    std::string bits = std::string(kMarkerBits) + BytesToBits(plain);
    PadFront(bits, k - 1);
    std::string out;
    out.reserve(bits.size() / (k - 1) * k);
    for (std::size_t at = 0; at < bits.size(); at += k - 1) {
        const TFGInt v = BigFromBits(bits.substr(at, k - 1));
        TFGInt c;
        if (!v.IsZero() && !BigModExp(v, e, n, c)) return false;
        std::string block = BigToBits(c);
        PadFront(block, k);
        out += block;
    }
    const std::size_t firstOne = out.find('1');
    out.erase(0, firstOne == std::string::npos ? out.size() - 1 : firstOne);
    cipher = BitsToBytes(out);
    return true;
}

std::string EncryptWithPublicKey(const std::string& publicKey, const std::string& plain) {
    std::string cipher;
    EncryptWithPublicKey(publicKey, plain, cipher);
    return cipher;
}

bool DecryptWithPrivateKey(const std::string& publicKey, const std::string& privateKey,
                           const std::string& cipher, std::string& plain) {
    plain.clear();
    const TFGInt n = BigFromBytes(publicKey);
    const TFGInt d = BigFromBytes(privateKey);
    const std::size_t k = KeyBits(n);

    std::string bits = BytesToBits(cipher);
    const std::size_t firstOne = bits.find('1');
    bits.erase(0, firstOne == std::string::npos ? bits.size() : firstOne);
    if (bits.empty()) return true;  // no blocks: the plaintext is empty
    if (k < 2) return false;
    PadFront(bits, k);

    std::string out;
    for (std::size_t at = 0; at < bits.size(); at += k) {
        const TFGInt v = BigFromBits(bits.substr(at, k));
        TFGInt m;
        if (!v.IsZero() && !BigModExp(v, d, n, m)) return false;
        std::string block = BigToBits(m);
        PadFront(block, k - 1);
        out += block;
    }
    // The first marker ends the padding; without one nothing is left.
    const std::size_t marker = out.find(kMarkerBits);
    out.erase(0, marker == std::string::npos ? out.size() : marker + 3);
    plain = BitsToBytes(out);
    return true;
}

std::string DecryptWithPrivateKey(const std::string& publicKey, const std::string& privateKey,
                                  const std::string& cipher) {
    std::string plain;
    DecryptWithPrivateKey(publicKey, privateKey, cipher, plain);
    return plain;
}

bool KeypairSelfTest(const std::string& publicKey, const std::string& privateKey) {
    std::string cipher, plain;
    if (!EncryptWithPublicKey(publicKey, TestMessage(), cipher)) return false;
    if (!DecryptWithPrivateKey(publicKey, privateKey, cipher, plain)) return false;
    return plain == TestMessage();
}

}  // namespace qm
