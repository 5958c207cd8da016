// Local date and time texts of the locale services.
//
// Contract:
// - Any thread; no failure: on a system error the text falls back to the portable
//   form described below.
// - LocalDateTimeText: the current local time as a day count since 1899-12-30 with
//   the time of day as the fraction, in the shortest general form with 15
//   significant digits and the locale's decimal separator (Windows: the user
//   locale's; POSIX: "."). Example: "46367.6260416667".
// - DayCountText formats a given day count that way (the pure half, for tests).
// - LocalTimeOfDayText: the local time of day in the platform's long time format
//   (Windows: GetTimeFormatA for the user locale; POSIX: "HH:MM:SS").
#pragma once

#include <string>

namespace qm::platform {

std::string LocalDateTimeText();
std::string DayCountText(double days, char decimalSeparator);
std::string LocalTimeOfDayText();

}  // namespace qm::platform
