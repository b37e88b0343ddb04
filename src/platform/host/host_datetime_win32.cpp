// Dates and times on Windows: the local clock, and the user locale's short
// date and long time formats, which are the host runtime's defaults.
#include "host_windows.h"

#include "host_datetime.h"

namespace tarn::host {

namespace {

SYSTEMTIME ToSystemTime(TDateTime value) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, ms = 0;
    DecodeDate(value, year, month, day);
    DecodeTime(value, hour, minute, second, ms);
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(year);
    st.wMonth = static_cast<WORD>(month);
    st.wDay = static_cast<WORD>(day);
    st.wHour = static_cast<WORD>(hour);
    st.wMinute = static_cast<WORD>(minute);
    st.wSecond = static_cast<WORD>(second);
    st.wMilliseconds = static_cast<WORD>(ms);
    // Day 0, 1899-12-30, was a Saturday; a format with the weekday needs it.
    if (year >= 1 && year <= 9999) {
        const long long days = static_cast<long long>(EncodeDate(year, month, day));
        st.wDayOfWeek = static_cast<WORD>(((days % 7) + 7 + 6) % 7);
    }
    return st;
}

UnicodeString FromWide(const wchar_t* text) {
    const std::wstring wide(text);
    return UnicodeString(wide.begin(), wide.end());
}

}  // namespace

TDateTime Now() {
    SYSTEMTIME st{};
    GetLocalTime(&st);
    return EncodeDate(st.wYear, st.wMonth, st.wDay) +
           EncodeTime(st.wHour, st.wMinute, st.wSecond, st.wMilliseconds);
}

UnicodeString DateToStr(TDateTime value) {
    const SYSTEMTIME st = ToSystemTime(value);
    wchar_t buffer[128];
    // GetDateFormatW refuses years before 1601; those fall back to the
    // fixed format rather than to an empty text.
    if (GetDateFormatW(LOCALE_USER_DEFAULT, 0, &st, nullptr, buffer, 128) > 0) {
        return FromWide(buffer);
    }
    return detail::IsoDateText(st.wYear, st.wMonth, st.wDay);
}

UnicodeString TimeToStr(TDateTime value) {
    const SYSTEMTIME st = ToSystemTime(value);
    wchar_t buffer[128];
    if (GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &st, nullptr, buffer, 128) > 0) {
        return FromWide(buffer);
    }
    return detail::IsoTimeText(st.wHour, st.wMinute, st.wSecond);
}

}  // namespace tarn::host
