#include "host_datetime.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

#include "host_exception.h"

namespace tarn::host {

namespace {

constexpr std::int64_t kMsPerDay = 86400000;
// Days from 1899-12-30 (day 0 of the host's count) to 1970-01-01.
constexpr std::int64_t kUnixEpochDay = 25569;

// Days since 1970-01-01 of a proleptic Gregorian date.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, int& year, int& month, int& day) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2);
    year = static_cast<int>(y);
    month = static_cast<int>(m);
    day = static_cast<int>(d);
}

bool IsLeapYear(int year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

int DaysInMonth(int year, int month) {
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Splits a value into its day number and the milliseconds of its time of
// day. Rounding can reach a full day; that belongs to the next day.
void Split(TDateTime value, std::int64_t& days, std::int64_t& ms) {
    if (!std::isfinite(value) || std::fabs(value) > 3.0e6) {
        throw EConvertError(u"Invalid date and time value");
    }
    const double whole = std::trunc(value);
    days = static_cast<std::int64_t>(whole);
    ms = std::llround(std::fabs(value - whole) * static_cast<double>(kMsPerDay));
    if (ms >= kMsPerDay) {
        ms -= kMsPerDay;
        days += 1;
    }
}

UnicodeString Digits(int value, int width) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%0*d", width, value);
    return AnsiToUnicode(buffer);
}

}  // namespace

TDateTime EncodeDate(int year, int month, int day) {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
        day > DaysInMonth(year, month)) {
        throw EConvertError(u"Invalid argument to date encode");
    }
    return static_cast<double>(
        DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) +
        kUnixEpochDay);
}

TDateTime EncodeTime(int hour, int minute, int second, int millisecond) {
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 ||
        millisecond < 0 || millisecond > 999) {
        throw EConvertError(u"Invalid argument to time encode");
    }
    const std::int64_t ms = ((hour * 60LL + minute) * 60 + second) * 1000 + millisecond;
    return static_cast<double>(ms) / static_cast<double>(kMsPerDay);
}

void DecodeDate(TDateTime value, int& year, int& month, int& day) {
    std::int64_t days = 0;
    std::int64_t ms = 0;
    Split(value, days, ms);
    CivilFromDays(days - kUnixEpochDay, year, month, day);
}

void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& millisecond) {
    std::int64_t days = 0;
    std::int64_t ms = 0;
    Split(value, days, ms);
    millisecond = static_cast<int>(ms % 1000);
    second = static_cast<int>(ms / 1000 % 60);
    minute = static_cast<int>(ms / 60000 % 60);
    hour = static_cast<int>(ms / 3600000);
}

UnicodeString DateTimeToStr(TDateTime value) { return DateToStr(value) + u" " + TimeToStr(value); }

namespace detail {

UnicodeString IsoDateText(int year, int month, int day) {
    return Digits(year, 4) + u"-" + Digits(month, 2) + u"-" + Digits(day, 2);
}

UnicodeString IsoTimeText(int hour, int minute, int second) {
    return Digits(hour, 2) + u":" + Digits(minute, 2) + u":" + Digits(second, 2);
}

}  // namespace detail

}  // namespace tarn::host
