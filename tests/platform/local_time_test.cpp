// Local time texts: the day-count format of the handshake and the log's time of day.
#include "platform/local_time.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <string>

namespace qm::platform {
namespace {

TEST(LocalTime, DayCountTextIsShortestGeneralFormWith15Digits) {
    struct Case {
        double days;
        char sep;
        const char* text;
    } cases[] = {
        {46367.626041666664, '.', "46367.6260416667"},  // 15 significant digits, rounded
        {46367.5, ',', "46367,5"},                      // trailing zeros dropped, locale separator
        {46367.0, '.', "46367"},                        // midnight: no separator at all
        {0.25, '.', "0.25"},
        {-1.5, '.', "-1.5"},  // before 1899-12-30
    };
    for (const Case& c : cases) EXPECT_EQ(DayCountText(c.days, c.sep), c.text) << c.days;
}

TEST(LocalTime, LocalDateTimeTextIsTodaysDayCount) {
    std::string text = LocalDateTimeText();
    ASSERT_FALSE(text.empty());
    // Accept the locale's separator whatever it is, then read the number back.
    std::string normal = text;
    for (char& c : normal) {
        if (!std::isdigit(static_cast<unsigned char>(c))) c = '.';
    }
    double days = std::strtod(normal.c_str(), nullptr);
    // 2024-01-01 is day 45292; 2100-01-01 is day 73051.
    EXPECT_GT(days, 45292.0) << text;
    EXPECT_LT(days, 73051.0) << text;
    EXPECT_LE(text.size(), 16u) << "five integer digits and at most ten decimals";
}

TEST(LocalTime, TimeOfDayTextHasHoursMinutesSeconds) {
    std::string text = LocalTimeOfDayText();
    ASSERT_GE(text.size(), 7u) << text;
    int colons = 0;
    for (char c : text) colons += c == ':';
    EXPECT_EQ(colons, 2) << text;
}

}  // namespace
}  // namespace qm::platform
