// POSIX local time texts; see local_time.h for the contract.
#include "platform/local_time.h"

#include <time.h>

#include <cstdio>

#include "platform/common/day_count.h"

namespace qm::platform {
namespace {

bool LocalNow(tm& out, int& millisecond) {
    timespec ts{};
    if (clock_gettime(CLOCK_REALTIME, &ts) != 0) return false;
    millisecond = static_cast<int>(ts.tv_nsec / 1000000);
    return localtime_r(&ts.tv_sec, &out) != nullptr;
}

}  // namespace

std::string LocalDateTimeText() {
    tm t{};
    int ms = 0;
    if (!LocalNow(t, ms)) return DayCountText(0.0, '.');
    return DayCountText(
        detail::DayCount(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, ms), '.');
}

std::string LocalTimeOfDayText() {
    tm t{};
    int ms = 0;
    if (!LocalNow(t, ms)) return "00:00:00";
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", t.tm_hour, t.tm_min, t.tm_sec);
    return buf;
}

}  // namespace qm::platform
