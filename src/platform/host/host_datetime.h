// Date and time as the host runtime keeps them: a day count since
// 1899-12-30 with the time of day as the fraction. A negative value counts
// days back from 1899-12-30 and its fraction is still the time forward from
// that day's midnight, so -1.25 is 1899-12-29 06:00.
//
// Texts use the process's default formats. On Windows these are the user
// locale's short date and long time formats. Elsewhere there is no such
// setting to follow, so the formats are fixed: "yyyy-mm-dd" for the date and
// "hh:nn:ss" on a 24-hour clock for the time.
//
// Every function is safe on any thread.
#pragma once

#include "host_strings.h"

namespace tarn::host {

using TDateTime = double;

// The current local date and time, to the millisecond where the system
// provides it.
TDateTime Now();

// Raise EConvertError for an impossible date (years 1 to 9999) or time.
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int minute, int second, int millisecond);

void DecodeDate(TDateTime value, int& year, int& month, int& day);
void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& millisecond);

UnicodeString DateToStr(TDateTime value);
UnicodeString TimeToStr(TDateTime value);
// The date, one blank, then the time.
UnicodeString DateTimeToStr(TDateTime value);

namespace detail {

// The fixed formats, also the fallback of a locale that cannot format.
UnicodeString IsoDateText(int year, int month, int day);
UnicodeString IsoTimeText(int hour, int minute, int second);

}  // namespace detail

}  // namespace tarn::host
