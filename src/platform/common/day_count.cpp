// Day counts and their text, shared by both platforms' local_time.cpp.
#include "platform/common/day_count.h"

#include <cstdio>
#include <string>

#include "platform/local_time.h"

namespace qm::platform {
namespace detail {
namespace {

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
long DaysFromCivil(long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long>(doe) - 719468;
}

}  // namespace

double DayCount(int year, int month, int day, int hour, int minute, int second, int millisecond) {
    const long days = DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) -
                      DaysFromCivil(1899, 12, 30);
    const double ms = ((hour * 60.0 + minute) * 60.0 + second) * 1000.0 + millisecond;
    return static_cast<double>(days) + ms / 86400000.0;
}

}  // namespace detail

std::string DayCountText(double days, char decimalSeparator) {
    // 15 significant digits, trailing zeros dropped: the general format of the
    // locale services for a double.
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15g", days);
    std::string text(buf);
    for (char& c : text) {
        if (c == '.') c = decimalSeparator;
    }
    return text;
}

}  // namespace qm::platform
