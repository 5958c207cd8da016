// The library's RSA scheme: key pairs, key texts, fingerprints and the bit-string block format.
//
// The scheme is textbook RSA with the fixed public exponent 65537 and no standard padding:
// the plaintext's bits, headed by the marker bits 111, are cut into blocks one bit shorter
// than the modulus and each block is raised to the exponent. Both ends of a session use it, so
// EncryptWithPublicKey and DecryptWithPrivateKey produce and read the block format bit for bit.
//
// Forms:
// - Key bytes: a public key is the modulus n, a private key the private exponent d alone, each
//   big-endian without a leading zero byte. Every private-key operation also takes the public
//   key bytes, for n.
// - Key texts: Base64 of the key bytes. A fingerprint text: Base64 of the MD5 digest of the
//   public key bytes as decoded from its text (24 characters ending in "==").
//
// Contract:
// - Free functions without state of their own; byte strings are std::string used as 8-bit
//   containers, never converted between character sets.
// - Threads and re-entrance: every call runs on the calling thread and dispatches that thread's
//   queued messages (MessagePump) once per exponent bit and once per prime candidate, so the
//   caller's own handlers may run nested inside any of these calls, and may call them again.
//   The functions copy what they need first and keep all working state local.
// - Bad input never crashes and never throws to the caller: a malformed key text gives an empty
//   fingerprint; a modulus with fewer than two significant bits, or an even one, makes the
//   block operations fail (false, and no output); a wrong private key deciphers to other
//   bytes (usually empty), which the session's challenge then exposes.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "crypto/bigint.h"

namespace qm {

// The fixed message that proves a freshly made key pair works (45 bytes, one a backslash).
inline constexpr char kKeyTestMessage[] = "1234567890-=qwertyuiop[]\\asdfghjkl;zxcvbnm,./";
// The marker bits that head every plaintext bit string.
inline constexpr char kMarkerBits[] = "111";
inline constexpr std::uint32_t kPublicExponent = 65537;

// 64 unpredictable bytes: four fresh random GUIDs, each in its structure's memory order.
std::string GuidRandomBytes();

// Moves x to the next probable prime: an even x is first made odd, then x advances by 2 and is
// tested (trial division by SmallPrimes, then 4 Miller-Rabin rounds) until a test passes. The
// start value itself is never tested. The message pump runs after every candidate, and
// `afterCandidate` (if given) is called there too, for progress displays.
void NextProbablePrime(TFGInt& x, const std::function<void()>& afterCandidate = {});

// Which prime a key generation is searching for (0 for p, 1 for q) and how many candidates it
// has tried for it so far.
using KeygenProgress = std::function<void(int prime, std::uint32_t candidates)>;

// Makes a key pair from fresh random bytes and answers whether it passed KeypairSelfTest. Both
// texts are set (Base64 of the key bytes) whenever a key pair was made, even if the self-test
// failed; when no pair could be made (65537 shares a factor with (p-1)(q-1), or a fault) the
// answer is false and both texts are empty.
bool GenerateKeypair(std::string& publicKeyText, std::string& privateKeyText,
                     const KeygenProgress& progress = {});

// Base64 of the MD5 digest of the key bytes that `publicKeyText` decodes to; empty for an empty
// text or one that does not decode.
std::string TakeFingerprint(const std::string& publicKeyText);

// Enciphers `plain` under the public key bytes. False (and `cipher` emptied) when the modulus
// has fewer than two significant bits or is even; a successful cipher is never empty.
bool EncryptWithPublicKey(const std::string& publicKey, const std::string& plain, std::string& cipher);
std::string EncryptWithPublicKey(const std::string& publicKey, const std::string& plain);

// Deciphers `cipher` with the key pair. False (and `plain` emptied) when the modulus cannot
// carry a block or a block cannot be raised under it; the empty cipher always gives the empty
// plaintext.
bool DecryptWithPrivateKey(const std::string& publicKey, const std::string& privateKey,
                           const std::string& cipher, std::string& plain);
std::string DecryptWithPrivateKey(const std::string& publicKey, const std::string& privateKey,
                                  const std::string& cipher);

// True when kKeyTestMessage survives enciphering and deciphering with the key bytes.
bool KeypairSelfTest(const std::string& publicKey, const std::string& privateKey);

}  // namespace qm
