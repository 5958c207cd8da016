// Windows code page conversion: the system's own MultiByteToWideChar and
// WideCharToMultiByte, by default on CP_ACP. See codepage.h.
#include "platform/codepage.h"

#include <windows.h>

#include <atomic>
#include <climits>

namespace qm::platform {
namespace {

// 0 means CP_ACP, the system's ANSI code page.
std::atomic<UINT> g_codePage{CP_ACP};

// The system calls take int lengths; longer texts go through in pieces. A piece
// boundary could split a double-byte character, but only on multi-byte system code
// pages and only beyond 1 GiB of text.
constexpr size_t kPiece = 1u << 30;

}  // namespace

std::u16string AnsiToWide(std::string_view text) {
    const UINT cp = g_codePage.load(std::memory_order_acquire);
    std::u16string out;
    for (size_t pos = 0; pos < text.size(); pos += kPiece) {
        const std::string_view piece = text.substr(pos, kPiece);
        const int len = static_cast<int>(piece.size());
        int need = MultiByteToWideChar(cp, 0, piece.data(), len, nullptr, 0);
        if (need <= 0) continue;
        const size_t at = out.size();
        out.resize(at + static_cast<size_t>(need));
        int got = MultiByteToWideChar(cp, 0, piece.data(), len, reinterpret_cast<wchar_t*>(&out[at]), need);
        out.resize(at + static_cast<size_t>(got > 0 ? got : 0));
    }
    return out;
}

std::string WideToAnsi(std::u16string_view text) {
    const UINT cp = g_codePage.load(std::memory_order_acquire);
    std::string out;
    for (size_t pos = 0; pos < text.size(); pos += kPiece) {
        const std::u16string_view piece = text.substr(pos, kPiece);
        const auto* src = reinterpret_cast<const wchar_t*>(piece.data());
        const int len = static_cast<int>(piece.size());
        int need = WideCharToMultiByte(cp, 0, src, len, nullptr, 0, nullptr, nullptr);
        if (need <= 0) continue;
        const size_t at = out.size();
        out.resize(at + static_cast<size_t>(need));
        int got = WideCharToMultiByte(cp, 0, src, len, &out[at], need, nullptr, nullptr);
        out.resize(at + static_cast<size_t>(got > 0 ? got : 0));
    }
    return out;
}

bool SetAnsiCodePage(uint32_t codePage) {
    if (codePage == 0) {
        g_codePage.store(CP_ACP, std::memory_order_release);
        return true;
    }
    // The pseudo code pages (OEM, Mac, thread, symbol) name no fixed table.
    if (codePage == CP_OEMCP || codePage == CP_MACCP || codePage == CP_THREAD_ACP || codePage == CP_SYMBOL)
        return false;
    CPINFO info{};
    if (!GetCPInfo(codePage, &info) || info.MaxCharSize != 1) return false;
    g_codePage.store(codePage, std::memory_order_release);
    return true;
}

uint32_t AnsiCodePage() {
    const UINT cp = g_codePage.load(std::memory_order_acquire);
    return cp == CP_ACP ? GetACP() : cp;
}

}  // namespace qm::platform
