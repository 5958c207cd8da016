// POSIX code page conversion from embedded tables of the Windows code pages; see
// codepage.h for the contract and why the default must be 1252.
#include "platform/codepage.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <utility>

#include "platform/common/bestfit_tables.h"
#include "platform/common/codepage_tables.h"

namespace qm::platform {
namespace {

struct CodePage {
    uint32_t number;
    const char16_t* high;            // 128 code units for bytes 0x80..0xFF
    const detail::BestFit* bestFit;  // sorted by unit
    size_t bestFitCount;
    // (code unit, byte) for the upper half, sorted by code unit, for narrowing.
    std::array<std::pair<char16_t, uint8_t>, 128> reverse;
};

template <size_t N>
CodePage MakeCodePage(uint32_t number, const char16_t* high, const detail::BestFit (&bestFit)[N]) {
    CodePage cp{number, high, bestFit, N, {}};
    for (int i = 0; i < 128; ++i) cp.reverse[i] = {high[i], static_cast<uint8_t>(0x80 + i)};
    std::sort(cp.reverse.begin(), cp.reverse.end());
    return cp;
}

const CodePage* FindCodePage(uint32_t number) {
    static const std::array<CodePage, 3> pages = {
        MakeCodePage(1250, detail::kCodePage1250High, detail::kBestFit1250),
        MakeCodePage(1251, detail::kCodePage1251High, detail::kBestFit1251),
        MakeCodePage(1252, detail::kCodePage1252High, detail::kBestFit1252),
    };
    for (const CodePage& cp : pages) {
        if (cp.number == number) return &cp;
    }
    return nullptr;
}

constexpr uint32_t kDefaultCodePage = 1252;
std::atomic<const CodePage*> g_current{nullptr};

const CodePage& Current() {
    const CodePage* cp = g_current.load(std::memory_order_acquire);
    return cp ? *cp : *FindCodePage(kDefaultCodePage);
}

// The byte Windows gives a code unit: its own byte, else the byte of a related
// character (WideCharToMultiByte's best fit, on by default), else '?'. Each half of
// a surrogate pair is a unit of its own and becomes '?', as it does there.
uint8_t Narrow(const CodePage& cp, char16_t u) {
    auto exact = std::lower_bound(cp.reverse.begin(), cp.reverse.end(), std::make_pair(u, uint8_t{0}));
    if (exact != cp.reverse.end() && exact->first == u) return exact->second;
    const detail::BestFit* end = cp.bestFit + cp.bestFitCount;
    const detail::BestFit* fit =
        std::lower_bound(cp.bestFit, end, u, [](const detail::BestFit& f, char16_t v) { return f.unit < v; });
    if (fit != end && fit->unit == u) return fit->byte;
    return '?';
}

}  // namespace

std::u16string AnsiToWide(std::string_view text) {
    const CodePage& cp = Current();
    std::u16string out;
    out.reserve(text.size());
    for (char c : text) {
        auto b = static_cast<uint8_t>(c);
        out.push_back(b < 0x80 ? static_cast<char16_t>(b) : cp.high[b - 0x80]);
    }
    return out;
}

std::string WideToAnsi(std::u16string_view text) {
    const CodePage& cp = Current();
    std::string out;
    out.reserve(text.size());
    for (char16_t u : text) {
        if (u < 0x80) {
            out.push_back(static_cast<char>(u));
            continue;
        }
        out.push_back(static_cast<char>(Narrow(cp, u)));
    }
    return out;
}

bool SetAnsiCodePage(uint32_t codePage) {
    if (codePage == 0) {
        g_current.store(nullptr, std::memory_order_release);
        return true;
    }
    const CodePage* cp = FindCodePage(codePage);
    if (!cp) return false;
    g_current.store(cp, std::memory_order_release);
    return true;
}

uint32_t AnsiCodePage() {
    return Current().number;
}

}  // namespace qm::platform
