// Address texts of the session manager: the dotted-quad test that decides whether a host text is
// converted directly or goes to the name resolver.
//
// Contract: pure function over any bytes of any length; never reads past the end; callable from any
// thread.
#pragma once

#include <string_view>

namespace qm {

// True for four decimal numbers of at most 255 joined by single dots, with spaces allowed before the
// first digit and after the last one. Two dots in a row, a leading or trailing dot, a number above 255,
// fewer or more than four numbers, and any other character make it false.
bool IsDottedQuad(std::string_view text);

}  // namespace qm
