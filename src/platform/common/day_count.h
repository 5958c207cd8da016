// The day count of a local calendar time: days since 1899-12-30, time of day as
// the fraction (the automation date of Windows hosts).
#pragma once

namespace qm::platform::detail {

double DayCount(int year, int month, int day, int hour, int minute, int second, int millisecond);

}  // namespace qm::platform::detail
