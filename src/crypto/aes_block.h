// The AES-128 block layer behind CAES: key expansion and CBC over whole blocks, in two
// strategies that give the same bytes.
//
// Contract (internal to qm_crypto):
// - Round keys follow FIPS-197: 44 words, each holding four consecutive key bytes, the first
//   byte most significant. The decryption schedule is the same expansion with InvMixColumns
//   applied to round keys 1 to 9, for the equivalent inverse cipher; it is used from the last
//   round key to the first.
// - The table strategy is portable and not constant-time: its table lookups depend on key and
//   data. The instruction strategy uses the CPU's AES instructions and exists only on x86
//   builds; call it only when AesInstructionsAvailable() says so.
// - CBC functions work in place on `blocks` whole 16-byte blocks, starting from a copy of `iv`
//   (the vector itself is never written). No allocation, no shared state: any thread may run
//   them on its own data.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qm::aes {

inline constexpr int kRoundKeyWords = 44;

struct KeySchedule {
    std::uint32_t enc[kRoundKeyWords];
    std::uint32_t dec[kRoundKeyWords];
    // The same round keys as bytes, in the order the AES instructions take them: encByteKeys
    // holds round keys 0..10, decByteKeys holds the decryption round keys 10..0. No alignment
    // is asked of them, so neither a CAES nor anything that holds one is over-aligned.
    std::uint8_t encByteKeys[16 * 11];
    std::uint8_t decByteKeys[16 * 11];
};

void ExpandKey(const std::uint8_t key[16], KeySchedule& schedule);

void TablesCbcEncrypt(const KeySchedule& schedule, const std::uint8_t iv[16], std::uint8_t* data,
                      std::size_t blocks);
void TablesCbcDecrypt(const KeySchedule& schedule, const std::uint8_t iv[16], std::uint8_t* data,
                      std::size_t blocks);

bool AesInstructionsAvailable();

// Defined only where the build has the instruction strategy (x86 and x86_64).
void NiCbcEncrypt(const std::uint8_t* encByteKeys, const std::uint8_t iv[16], std::uint8_t* data,
                  std::size_t blocks);
void NiCbcDecrypt(const std::uint8_t* decByteKeys, const std::uint8_t iv[16], std::uint8_t* data,
                  std::size_t blocks);

}  // namespace qm::aes
