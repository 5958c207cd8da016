// CAES: key and vector derivation, the frame around each body, and the choice between the
// table-driven and the instruction-based block code.
#include "crypto/aes.h"

#include <cstring>
#include <stdexcept>

#include "crypto/md5.h"
#include "platform/random.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#define QM_AES_HAVE_NI 1
#else
#define QM_AES_HAVE_NI 0
#endif

namespace qm {
namespace aes {

bool AesInstructionsAvailable() {
#if QM_AES_HAVE_NI
    static const bool available = [] {
        unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
        if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
        return (ecx & bit_AES) != 0 && (ecx & bit_SSE4_1) != 0;
    }();
    return available;
#else
    return false;
#endif
}

}  // namespace aes

namespace {

inline std::uint32_t LoadLE(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

inline void StoreLE(std::uint8_t* p, std::uint32_t v) {
    p[0] = std::uint8_t(v);
    p[1] = std::uint8_t(v >> 8);
    p[2] = std::uint8_t(v >> 16);
    p[3] = std::uint8_t(v >> 24);
}

// Check word, pad count and nonce take 9 bytes beyond the body.
constexpr std::size_t kFrameOverhead = 9;

}  // namespace

CAES::CAES(std::string_view keyText, AesStrategy strategy) {
    if (keyText.empty()) throw std::invalid_argument(kMissingKey);
    MD5OfBuffer(kIvSeedText.data(), kIvSeedText.size(), iv_);
    std::uint8_t key[kMD5DigestSize];
    MD5OfBuffer(keyText.data(), keyText.size(), key);
    aes::ExpandKey(key, schedule_);
    volatile std::uint8_t* wipe = key;
    for (std::size_t i = 0; i < sizeof key; ++i) wipe[i] = 0;

    const bool instructions = aes::AesInstructionsAvailable();
    strategy_ =
        (strategy != AesStrategy::Tables && instructions) ? AesStrategy::Instructions : AesStrategy::Tables;
    platform::RandomBytes(&frameNonce_, sizeof frameNonce_);
}

std::unique_ptr<CAES> CAES::Create(std::string_view keyText, AesStrategy strategy) {
    if (keyText.empty()) return nullptr;
    return std::make_unique<CAES>(keyText, strategy);
}

CAES::~CAES() {
    // The schedules are the session key in another form; do not leave them in freed memory.
    volatile std::uint8_t* wipe = reinterpret_cast<volatile std::uint8_t*>(&schedule_);
    for (std::size_t i = 0; i < sizeof schedule_; ++i) wipe[i] = 0;
}

bool CAES::InstructionsAvailable() {
    return aes::AesInstructionsAvailable();
}

std::size_t CAES::FrameLength(std::size_t bodyLength) {
    return (bodyLength + kFrameOverhead + 15) & ~std::size_t(15);
}

std::uint32_t CAES::NextNonce() {
    // A fresh random nonce per frame. The receiver only checks that the trailer word is the
    // head word plus one, so any value is compatible; repeating the previous nonce is not, as
    // equal bodies would then encipher to equal bytes.
    if (noncePoolUsed_ == sizeof noncePool_ / sizeof noncePool_[0]) {
        platform::RandomBytes(noncePool_, sizeof noncePool_);
        noncePoolUsed_ = 0;
    }
    std::uint32_t nonce = noncePool_[noncePoolUsed_];
    ++noncePoolUsed_;
    // A repeat is rare from a sound source, but stepping past it costs nothing and holds even
    // for a source that repeats itself.
    if (nonce == frameNonce_) ++nonce;
    frameNonce_ = nonce;
    return nonce;
}

void CAES::EncryptFrame(std::uint8_t* buffer, std::size_t bodyLength) {
    const std::size_t frame = FrameLength(bodyLength);
    const std::size_t pad = frame - bodyLength - kFrameOverhead;
    std::memmove(buffer + 4, buffer, bodyLength);
    std::memset(buffer + 4 + bodyLength, 0, pad);
    const std::uint32_t nonce = NextNonce();
    StoreLE(buffer, nonce);
    StoreLE(buffer + frame - 5, nonce + 1);
    buffer[frame - 1] = std::uint8_t(pad);
    const std::size_t blocks = frame / 16;
#if QM_AES_HAVE_NI
    if (strategy_ == AesStrategy::Instructions) {
        aes::NiCbcEncrypt(schedule_.encByteKeys, iv_, buffer, blocks);
        return;
    }
#endif
    aes::TablesCbcEncrypt(schedule_, iv_, buffer, blocks);
}

std::ptrdiff_t CAES::DecryptFrame(std::uint8_t* buffer, std::size_t length) const {
    if (length == 0 || length % 16 != 0) return -1;
    const std::size_t blocks = length / 16;
#if QM_AES_HAVE_NI
    if (strategy_ == AesStrategy::Instructions)
        aes::NiCbcDecrypt(schedule_.decByteKeys, iv_, buffer, blocks);
    else
#endif
        aes::TablesCbcDecrypt(schedule_, iv_, buffer, blocks);
    if (LoadLE(buffer + length - 5) != std::uint32_t(LoadLE(buffer) + 1)) return -1;
    const std::size_t pad = buffer[length - 1];
    // The pad count is trusted as long as the body length it implies is not negative.
    if (pad + kFrameOverhead > length) return -1;
    const std::size_t bodyLength = length - kFrameOverhead - pad;
    std::memmove(buffer, buffer + 4, bodyLength);
    return static_cast<std::ptrdiff_t>(bodyLength);
}

void CAES::EncryptBuffer(std::vector<std::uint8_t>& buffer) {
    const std::size_t body = buffer.size();
    buffer.resize(FrameLength(body));
    EncryptFrame(buffer.data(), body);
}

void CAES::EncryptBuffer(std::string& buffer) {
    const std::size_t body = buffer.size();
    buffer.resize(FrameLength(body));
    EncryptFrame(reinterpret_cast<std::uint8_t*>(buffer.data()), body);
}

bool CAES::DecryptBuffer(std::vector<std::uint8_t>& buffer) {
    const std::ptrdiff_t body = DecryptFrame(buffer.data(), buffer.size());
    if (body < 0) return false;
    buffer.resize(static_cast<std::size_t>(body));
    return true;
}

bool CAES::DecryptBuffer(std::string& buffer) {
    const std::ptrdiff_t body = DecryptFrame(reinterpret_cast<std::uint8_t*>(buffer.data()), buffer.size());
    if (body < 0) return false;
    buffer.resize(static_cast<std::size_t>(body));
    return true;
}

}  // namespace qm
