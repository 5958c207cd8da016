// Conversion between UTF-16 text and the "system ANSI code page".
//
// Contract:
// - Wide text is UTF-16 in std::u16string; 8-bit text is bytes in std::string.
//   Lengths are explicit: embedded zero bytes / zero code units are converted like
//   any other character and never end the text.
// - On Windows the code page is the system's ANSI code page (CP_ACP) and the
//   conversion is the system's own (MultiByteToWideChar / WideCharToMultiByte with
//   no flags), unless a host chose another one with SetAnsiCodePage.
// - On POSIX the default is Windows-1252, converted exactly as Windows converts it:
//   the five bytes 1252 leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) widen to the
//   code units of the same value and narrow back; a character the code page lacks
//   narrows to the byte of a related one where Windows' default "best fit" does
//   (U+0100 to 'A', U+2212 to '-', fullwidth letters to ASCII), else to '?' (each
//   half of a surrogate pair on its own). This matters on the wire: in security
//   mode 2 both ends widen 16 random bytes through this code page before the
//   challenge, and in mode 1 both narrow the secret key text, so any other rule
//   breaks sessions with Windows peers.
// - SetAnsiCodePage(cp) chooses another single-byte Windows code page for the whole
//   process; 0 restores the default. POSIX knows 1250, 1251 and 1252; Windows
//   accepts any code page the system has. The answer is false (and nothing changes)
//   for an unknown or multi-byte code page. Choose it before sessions start: the
//   setting is read without a lock by every conversion.
// - AnsiCodePage() answers the code page in use (on Windows the real number behind
//   CP_ACP when the default is in force).
// - All functions may be called from any thread; they never fail: bad input yields
//   '?' (narrowing) and every byte has a wide form (widening).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qm::platform {

std::u16string AnsiToWide(std::string_view text);
std::string WideToAnsi(std::u16string_view text);

bool SetAnsiCodePage(uint32_t codePage);
uint32_t AnsiCodePage();

}  // namespace qm::platform
