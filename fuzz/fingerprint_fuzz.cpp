// Fuzzes the key texts a peer or a host hands over: Base64Decode and TakeFingerprint on the
// input as text, then the decoded bytes used as a public key (as the handshake uses a peer's
// key) for enciphering a short secret and deciphering it again.
// Checks: a fingerprint is empty or 24 characters ending in "=="; decoded text is never longer
// than three quarters of it; a modulus can encipher exactly when it is odd with at least two
// significant bits, and then a cipher is never empty and deciphers without failing.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "crypto/base64.h"
#include "crypto/bigint.h"
#include "crypto/rsa.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

// Keys above this size only make the exponentiations slow, not the parsing more interesting.
constexpr std::size_t kMaxKeyBytes = 96;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    const std::string fingerprint = qm::TakeFingerprint(text);
    Check(fingerprint.empty() || (fingerprint.size() == 24 && fingerprint.substr(22) == "=="));

    const std::string key = qm::Base64Decode(text);
    Check(key.size() <= text.size() / 4 * 3);
    Check(fingerprint.empty() == key.empty());
    if (key.empty() || key.size() > kMaxKeyBytes) return 0;

    const qm::TFGInt n = qm::BigFromBytes(key);
    const bool usable = n.IsOdd() && qm::BigBitLength(n) >= 2;
    const std::string secret("\x00\x01\x7f\x80\xfe\xff\x00\x42", 8);
    std::string cipher = "stale";
    const bool enciphered = qm::EncryptWithPublicKey(key, secret, cipher);
    Check(enciphered == usable);
    Check(enciphered != cipher.empty());
    if (enciphered) {
        // The key bytes stand in for a private exponent: the answer is noise, but defined.
        std::string plain;
        Check(qm::DecryptWithPrivateKey(key, key, cipher, plain));
    }
    return 0;
}
