// AES-128-CBC with the CPU's AES instructions. This file alone is compiled with -maes
// -msse4.1, and it is entered only after AesInstructionsAvailable() has seen the instructions.
// It deliberately includes no standard-library header with inline code: an inline function
// compiled here could be merged by the linker into callers that run on CPUs without these
// instructions.
#include <immintrin.h>

#include "crypto/aes_block.h"

// Round keys are loaded with unaligned loads: a 32-bit Windows heap gives 8-byte aligned blocks
// and its stacks 4-byte alignment, so a CAES and its key bytes may sit at any multiple of 4. On
// these CPUs an unaligned load of aligned data costs the same as an aligned one.
//
// On i686 Windows the incoming stack is only 4-byte aligned; realign it where 16-byte vector
// values may be spilled.
#if defined(__i386__)
#define QM_ALIGN_STACK __attribute__((force_align_arg_pointer))
#else
#define QM_ALIGN_STACK
#endif

namespace qm::aes {

QM_ALIGN_STACK void NiCbcEncrypt(const std::uint8_t* encByteKeys, const std::uint8_t iv[16],
                                 std::uint8_t* data, std::size_t blocks) {
    const __m128i* k = reinterpret_cast<const __m128i*>(encByteKeys);
    const __m128i k0 = _mm_loadu_si128(k + 0), k1 = _mm_loadu_si128(k + 1), k2 = _mm_loadu_si128(k + 2),
                  k3 = _mm_loadu_si128(k + 3), k4 = _mm_loadu_si128(k + 4), k5 = _mm_loadu_si128(k + 5),
                  k6 = _mm_loadu_si128(k + 6), k7 = _mm_loadu_si128(k + 7), k8 = _mm_loadu_si128(k + 8),
                  k9 = _mm_loadu_si128(k + 9), k10 = _mm_loadu_si128(k + 10);
    __m128i chain = _mm_loadu_si128(reinterpret_cast<const __m128i*>(iv));
    __m128i* p = reinterpret_cast<__m128i*>(data);
    // CBC encryption is a chain: each block waits for the one before, so the loop is bound by
    // the latency of the ten rounds, not by throughput.
    for (std::size_t b = 0; b < blocks; ++b) {
        __m128i s = _mm_xor_si128(_mm_loadu_si128(p + b), chain);
        s = _mm_xor_si128(s, k0);
        s = _mm_aesenc_si128(s, k1);
        s = _mm_aesenc_si128(s, k2);
        s = _mm_aesenc_si128(s, k3);
        s = _mm_aesenc_si128(s, k4);
        s = _mm_aesenc_si128(s, k5);
        s = _mm_aesenc_si128(s, k6);
        s = _mm_aesenc_si128(s, k7);
        s = _mm_aesenc_si128(s, k8);
        s = _mm_aesenc_si128(s, k9);
        chain = _mm_aesenclast_si128(s, k10);
        _mm_storeu_si128(p + b, chain);
    }
}

QM_ALIGN_STACK void NiCbcDecrypt(const std::uint8_t* decByteKeys, const std::uint8_t iv[16],
                                 std::uint8_t* data, std::size_t blocks) {
    const __m128i* k = reinterpret_cast<const __m128i*>(decByteKeys);
    __m128i chain = _mm_loadu_si128(reinterpret_cast<const __m128i*>(iv));
    __m128i* p = reinterpret_cast<__m128i*>(data);
    std::size_t b = 0;
    // Blocks decipher independently, so eight are kept in flight to hide the instruction
    // latency; the chaining XOR uses the enciphered blocks saved before they are overwritten.
    for (; b + 8 <= blocks; b += 8) {
        __m128i e[8], s[8];
        for (int i = 0; i < 8; ++i) {
            e[i] = _mm_loadu_si128(p + b + i);
            s[i] = _mm_xor_si128(e[i], _mm_loadu_si128(k));
        }
        for (int r = 1; r < 10; ++r) {
            const __m128i key = _mm_loadu_si128(k + r);
            for (int i = 0; i < 8; ++i) s[i] = _mm_aesdec_si128(s[i], key);
        }
        const __m128i last = _mm_loadu_si128(k + 10);
        for (int i = 0; i < 8; ++i) {
            s[i] = _mm_aesdeclast_si128(s[i], last);
            _mm_storeu_si128(p + b + i, _mm_xor_si128(s[i], i == 0 ? chain : e[i - 1]));
        }
        chain = e[7];
    }
    for (; b < blocks; ++b) {
        const __m128i e = _mm_loadu_si128(p + b);
        __m128i s = _mm_xor_si128(e, _mm_loadu_si128(k));
        for (int r = 1; r < 10; ++r) s = _mm_aesdec_si128(s, _mm_loadu_si128(k + r));
        s = _mm_aesdeclast_si128(s, _mm_loadu_si128(k + 10));
        _mm_storeu_si128(p + b, _mm_xor_si128(s, chain));
        chain = e;
    }
}

}  // namespace qm::aes
