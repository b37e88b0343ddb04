// Dates and times on POSIX: the local clock through localtime_r, and the
// fixed "yyyy-mm-dd" and "hh:nn:ss" formats documented in the header.
#include <time.h>

#include "host_datetime.h"

namespace tarn::host {

TDateTime Now() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    // A leap second reads as second 60; the host's time has no room for it.
    const int second = local.tm_sec > 59 ? 59 : local.tm_sec;
    return EncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday) +
           EncodeTime(local.tm_hour, local.tm_min, second, static_cast<int>(now.tv_nsec / 1000000));
}

UnicodeString DateToStr(TDateTime value) {
    int year = 0, month = 0, day = 0;
    DecodeDate(value, year, month, day);
    return detail::IsoDateText(year, month, day);
}

UnicodeString TimeToStr(TDateTime value) {
    int hour = 0, minute = 0, second = 0, ms = 0;
    DecodeTime(value, hour, minute, second, ms);
    return detail::IsoTimeText(hour, minute, second);
}

}  // namespace tarn::host
