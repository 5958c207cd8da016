// Dotted-quad test (see address.h).
#include "mill/address.h"

namespace qm {

bool IsDottedQuad(std::string_view text) {
    size_t i = 0;
    const size_t n = text.size();
    while (i < n && text[i] == ' ') ++i;
    if (i < n && text[i] == '.') return false;
    int dots = 0;
    unsigned value = 0;
    for (; i < n; ++i) {
        const char c = text[i];
        if (c == '.') {
            ++dots;
            if (dots > 3 || value > 255) return false;
            if (i + 1 == n || text[i + 1] < '0' || text[i + 1] > '9') return false;
            value = 0;
        } else if (c >= '0' && c <= '9') {
            // Saturate: any number above 255 fails anyway, and a long run of digits must not overflow.
            value = value > 255 ? 256 : value * 10 + static_cast<unsigned>(c - '0');
        } else {
            if (c != ' ') return false;
            for (; i < n; ++i) {
                if (text[i] != ' ') return false;
            }
            break;
        }
    }
    return dots == 3 && value <= 255;
}

}  // namespace qm
