// Comma text: the list format of LocalIPList and Fingerprints.
//
// Contract:
// - CommaTextOf joins items with ","; an item holding a space, a control character (bytes 0..32), a comma
//   or a double quote is written in double quotes with inner quotes doubled; a list of exactly one empty
//   item is written as two double quotes; an empty list is the empty text.
// - ParseCommaText accepts any bytes (embedded zero bytes included) and never reads past the end of its
//   input: blanks (bytes 1..32) around items are skipped, an item is a quoted text or the bytes up to the
//   next blank or comma, an unterminated quote takes the rest of the text, and a comma as the last
//   character adds one empty item.
// - Pure functions, no state: callable from any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qm {

std::string CommaTextOf(const std::vector<std::string>& items);
std::vector<std::string> ParseCommaText(std::string_view text);

}  // namespace qm
