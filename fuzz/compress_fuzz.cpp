// TQMDefObj under libFuzzer. The first byte picks the mode:
//   0: the rest as a whole compressed form (framing, markers, trailers, bodies);
//   1: the rest as one compressed chunk body, framed here so every input reaches the
//      Huffman decoder;
//   2: compress the rest, then decompress: the bytes must come back, and compressing again
//      must give the same form.
// A failed decode must leave its input untouched.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "compress/defobj.h"

namespace {
qm::TQMDefObj& Coder() {
    static qm::TQMDefObj def;  // one object for all runs, as the core keeps one
    return def;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::vector<std::uint8_t> rest(data + 1, data + size);
    qm::TQMDefObj& def = Coder();
    switch (data[0] % 3) {
        case 0: {
            std::vector<std::uint8_t> form = rest;
            if (!def.DecompressBlock(form) && form != rest) std::abort();
            break;
        }
        case 1: {
            if (rest.size() > 65533) return 0;
            const std::size_t m = rest.size() + 2;
            std::vector<std::uint8_t> form = {static_cast<std::uint8_t>(m), static_cast<std::uint8_t>(m >> 8),
                                              0xCD};
            form.insert(form.end(), rest.begin(), rest.end());
            form.push_back(0x47);
            const std::vector<std::uint8_t> copy = form;
            if (def.DecompressBlock(form)) {
                if (form.size() > 32768) std::abort();  // one chunk never holds more
            } else if (form != copy) {
                std::abort();
            }
            break;
        }
        default: {
            std::vector<std::uint8_t> form = rest;
            def.CompressBlock(form);
            std::vector<std::uint8_t> again = rest;
            def.CompressBlock(again);
            if (again != form) std::abort();
            if (!def.DecompressBlock(form) || form != rest) std::abort();
            break;
        }
    }
    return 0;
}
