// CAES: the session cipher of a secure pipe. It frames each packet body with a nonce, a check
// word and a pad count and enciphers the frame with AES-128-CBC under a key and a vector both
// derived with MD5. The frame is a wire format shared with every peer:
//
//   offset 0        4 bytes   nonce N, little-endian
//   offset 4        L bytes   the body
//   offset 4+L      z bytes   zeros, z = 0..15, so that the frame is a multiple of 16 bytes
//   offset 4+L+z    4 bytes   N + 1 (mod 2^32), little-endian
//   offset 8+L+z    1 byte    z
//
// Every frame is enciphered from the same fixed vector; the fresh nonce in the first block is
// what makes equal bodies encipher to different bytes. Each frame takes new random bytes as
// its nonce, always different from the nonce of the frame before.
//
// Contract:
// - Ownership: a CAES owns its key schedules and nothing else; it belongs to one pipe.
// - Threads: one thread at a time per object (EncryptBuffer advances the nonce; no locks).
//   Distinct objects may be used on distinct threads.
// - Bad input: an empty key text is a caller fault and throws std::invalid_argument with the
//   message "Missing key" (Create answers nullptr instead). DecryptBuffer accepts arrays of any
//   length and answers false for every unsound frame: a length of 0 or not a multiple of 16
//   (the array is then untouched), a failed check word or a pad count larger than the frame
//   (the array then holds the deciphered frame). EncryptBuffer cannot fail; bodies are limited
//   to what a packet may carry (below 2^31 bytes).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "crypto/aes_block.h"

namespace qm {

// Which block implementation a CAES object runs. Both give the same bytes.
enum class AesStrategy {
    Automatic,     // the CPU's AES instructions where present, else the tables
    Tables,        // portable table-driven code
    Instructions,  // AES-NI; falls back to Tables on a CPU without it
};

class CAES {
  public:
    static constexpr const char* kMissingKey = "Missing key";
    // The vector is MD5 of this fixed text, the same in every object and on every peer.
    static constexpr std::string_view kIvSeedText = "tovelanurim";

    // The key is MD5 of all bytes of `keyText`. Throws std::invalid_argument(kMissingKey) for an
    // empty key text.
    explicit CAES(std::string_view keyText, AesStrategy strategy = AesStrategy::Automatic);
    // As the constructor, but answers nullptr for an empty key text.
    static std::unique_ptr<CAES> Create(std::string_view keyText,
                                        AesStrategy strategy = AesStrategy::Automatic);
    ~CAES();
    CAES(const CAES&) = delete;
    CAES& operator=(const CAES&) = delete;

    // Replaces the contents with the enciphered frame of the old contents.
    void EncryptBuffer(std::vector<std::uint8_t>& buffer);
    void EncryptBuffer(std::string& buffer);
    // Deciphers and checks; when the frame is sound, leaves just the body and answers true.
    bool DecryptBuffer(std::vector<std::uint8_t>& buffer);
    bool DecryptBuffer(std::string& buffer);

    // In-place forms for callers with their own byte containers.
    // Frame length T for a body of `bodyLength` bytes: the smallest multiple of 16 >= L + 9.
    static std::size_t FrameLength(std::size_t bodyLength);
    // `buffer` holds FrameLength(bodyLength) bytes with the body at its start; on return it
    // holds the enciphered frame.
    void EncryptFrame(std::uint8_t* buffer, std::size_t bodyLength);
    // Deciphers `length` bytes in place; when sound, moves the body to the start and answers its
    // length, otherwise answers -1.
    std::ptrdiff_t DecryptFrame(std::uint8_t* buffer, std::size_t length) const;

    // The nonce of the last frame enciphered (a random start value before the first).
    std::uint32_t FrameNonce() const { return frameNonce_; }
    AesStrategy Strategy() const { return strategy_; }
    static bool InstructionsAvailable();

  private:
    std::uint32_t NextNonce();

    std::uint32_t frameNonce_ = 0;
    AesStrategy strategy_ = AesStrategy::Tables;
    std::uint8_t iv_[16] = {};
    aes::KeySchedule schedule_{};
    // Random bytes are drawn from the system a few frames at a time, not once per frame.
    std::uint32_t noncePool_[16] = {};
    unsigned noncePoolUsed_ = 16;
};

}  // namespace qm
