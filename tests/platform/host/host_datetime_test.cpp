#include "host_datetime.h"

#include <gtest/gtest.h>

#include <cmath>
#include <ctime>

#include "host_exception.h"

using namespace tarn::host;

namespace {

TEST(HostDateTime, DayCountStartsOn18991230) {
    EXPECT_EQ(EncodeDate(1899, 12, 30), 0.0);
    EXPECT_EQ(EncodeDate(1900, 1, 1), 2.0);
    EXPECT_EQ(EncodeDate(1970, 1, 1), 25569.0);
    EXPECT_EQ(EncodeDate(2000, 3, 1), 36586.0);  // after a leap day in a 400-year
    EXPECT_EQ(EncodeDate(1899, 12, 29), -1.0);
    EXPECT_DOUBLE_EQ(EncodeTime(6, 0, 0, 0), 0.25);
    EXPECT_DOUBLE_EQ(EncodeTime(23, 59, 59, 999), 86399999.0 / 86400000.0);
}

TEST(HostDateTime, DecodeInvertsEncodeAcrossCalendarEdges) {
    const int dates[][3] = {{1, 1, 1},     {1600, 2, 29},  {1899, 12, 31}, {1900, 2, 28},
                            {2000, 2, 29}, {2024, 12, 31}, {2100, 3, 1},   {9999, 12, 31}};
    for (const auto& d : dates) {
        // Before day 0 the time of day is subtracted (see the header).
        const double date = EncodeDate(d[0], d[1], d[2]);
        const double value = date < 0 ? date - 0.75 : date + 0.75;
        int y = 0, m = 0, day = 0, h = 0, n = 0, s = 0, ms = 0;
        DecodeDate(value, y, m, day);
        DecodeTime(value, h, n, s, ms);
        EXPECT_EQ(y, d[0]);
        EXPECT_EQ(m, d[1]);
        EXPECT_EQ(day, d[2]);
        EXPECT_EQ(h, 18);
    }
    int h = 0, n = 0, s = 0, ms = 0;
    DecodeTime(EncodeDate(2024, 3, 5) + EncodeTime(13, 7, 9, 250), h, n, s, ms);
    EXPECT_EQ(h, 13);
    EXPECT_EQ(n, 7);
    EXPECT_EQ(s, 9);
    EXPECT_EQ(ms, 250);
}

TEST(HostDateTime, NegativeValuesCountTheTimeForwardFromMidnight) {
    int y = 0, m = 0, d = 0, h = 0, n = 0, s = 0, ms = 0;
    DecodeDate(-1.25, y, m, d);
    DecodeTime(-1.25, h, n, s, ms);
    EXPECT_EQ(d, 29);
    EXPECT_EQ(m, 12);
    EXPECT_EQ(y, 1899);
    EXPECT_EQ(h, 6);
}

TEST(HostDateTime, TimeRoundingUpToMidnightMovesToTheNextDay) {
    const double almost = EncodeDate(2023, 12, 31) + 0.99999999999;
    int y = 0, m = 0, d = 0, h = 0, n = 0, s = 0, ms = 0;
    DecodeDate(almost, y, m, d);
    DecodeTime(almost, h, n, s, ms);
    EXPECT_EQ(y, 2024);
    EXPECT_EQ(m, 1);
    EXPECT_EQ(d, 1);
    EXPECT_EQ(h, 0);
}

TEST(HostDateTime, ImpossibleDatesAndTimesAreRefused) {
    EXPECT_THROW(EncodeDate(2023, 2, 29), EConvertError);
    EXPECT_THROW(EncodeDate(1900, 2, 29), EConvertError);
    EXPECT_THROW(EncodeDate(0, 1, 1), EConvertError);
    EXPECT_THROW(EncodeDate(2024, 13, 1), EConvertError);
    EXPECT_THROW(EncodeTime(24, 0, 0, 0), EConvertError);
    EXPECT_THROW(EncodeTime(0, 0, 0, 1000), EConvertError);
    int y = 0, m = 0, d = 0;
    EXPECT_THROW(DecodeDate(std::nan(""), y, m, d), EConvertError);
}

TEST(HostDateTime, NowAgreesWithTheCLibrarysLocalTime) {
    const std::time_t seconds = std::time(nullptr);
    const std::tm local = *std::localtime(&seconds);
    const double expected = EncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday) +
                            EncodeTime(local.tm_hour, local.tm_min, local.tm_sec, 0);
    // A generous minute: the two clocks are read one after the other on a
    // machine that may be busy.
    EXPECT_NEAR(Now(), expected, 60.0 / 86400.0);
}

TEST(HostDateTime, DateTimeTextIsDateBlankTime) {
    const double value = EncodeDate(2024, 3, 5) + EncodeTime(14, 5, 6, 0);
    EXPECT_EQ(DateTimeToStr(value), DateToStr(value) + u" " + TimeToStr(value));
    EXPECT_FALSE(DateToStr(value).empty());
    EXPECT_FALSE(TimeToStr(value).empty());
}

}  // namespace
