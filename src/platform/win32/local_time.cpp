// Windows local time texts from the locale services. See local_time.h.
#include "platform/local_time.h"

#include <windows.h>

#include <cstdio>

#include "platform/common/day_count.h"

namespace qm::platform {

std::string LocalDateTimeText() {
    SYSTEMTIME st{};
    GetLocalTime(&st);
    char sep[8] = {};
    if (GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, sep, sizeof sep) <= 0 || sep[0] == '\0')
        sep[0] = '.';
    return DayCountText(
        detail::DayCount(st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds),
        sep[0]);
}

std::string LocalTimeOfDayText() {
    SYSTEMTIME st{};
    GetLocalTime(&st);
    char buf[80] = {};
    // Flags 0 and no picture: the user locale's long time format.
    if (GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &st, nullptr, buf, sizeof buf) > 0) return buf;
    std::snprintf(buf, sizeof buf, "%02u:%02u:%02u", unsigned{st.wHour}, unsigned{st.wMinute},
                  unsigned{st.wSecond});
    return buf;
}

}  // namespace qm::platform
