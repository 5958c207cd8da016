// Fuzzes CAES::DecryptBuffer with frames as a peer could send them. The first input byte picks
// what the rest is:
// - even: bytes as they arrive on the wire, handed to DecryptBuffer as they are;
// - odd: a plain frame that is enciphered under the session key first, so the fuzzer reaches
//   the check word, the pad count and the body length, which random cipher text almost never
//   gets past.
// Checks: a refused frame of undecipherable length is untouched; an accepted frame leaves a
// body no longer than the frame minus its overhead, equal to the bytes after the nonce; both
// block strategies give the same answer; and any accepted body enciphers and deciphers back
// to itself.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "crypto/aes.h"
#include "crypto/aes_block.h"
#include "crypto/md5.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

constexpr char kKey[] = "fuzz session key";

struct Ciphers {
    qm::CAES automatic{kKey};
    qm::CAES tables{kKey, qm::AesStrategy::Tables};
    qm::aes::KeySchedule schedule{};
    std::uint8_t iv[16] = {};
    Ciphers() {
        std::uint8_t key[16];
        qm::MD5OfBuffer(kKey, sizeof kKey - 1, key);
        qm::aes::ExpandKey(key, schedule);
        qm::MD5OfBuffer("tovelanurim", 11, iv);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Ciphers ciphers;
    if (size == 0) return 0;
    const bool encipherFirst = data[0] & 1;
    std::vector<std::uint8_t> wire(data + 1, data + size);
    const std::vector<std::uint8_t> plain = wire;
    if (encipherFirst && !wire.empty() && wire.size() % 16 == 0)
        qm::aes::TablesCbcEncrypt(ciphers.schedule, ciphers.iv, wire.data(), wire.size() / 16);

    std::vector<std::uint8_t> a = wire, b = wire;
    const bool soundA = ciphers.automatic.DecryptBuffer(a);
    const bool soundB = ciphers.tables.DecryptBuffer(b);
    Check(soundA == soundB && a == b);
    if (wire.empty() || wire.size() % 16 != 0) {
        Check(!soundA && a == wire);
        return 0;
    }
    if (!soundA) {
        Check(a.size() == wire.size());
        return 0;
    }
    Check(a.size() + 9 <= wire.size());
    if (encipherFirst) Check(std::memcmp(a.data(), plain.data() + 4, a.size()) == 0);

    std::vector<std::uint8_t> again = a;
    ciphers.automatic.EncryptBuffer(again);
    Check(again.size() == qm::CAES::FrameLength(a.size()));
    Check(ciphers.tables.DecryptBuffer(again) && again == a);
    return 0;
}
