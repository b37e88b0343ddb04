// Dates and times in the user locale's default formats on Windows.
#include <gtest/gtest.h>

#include "host_datetime.h"

using namespace tarn::host;

namespace {

bool Contains(const UnicodeString& text, const char16_t* part) {
    return text.find(part) != UnicodeString::npos;
}

TEST(HostDateTimeText, LocaleFormatsShowEveryField) {
    // Fields chosen so that no locale can confuse them: day 25, month 11,
    // minute 47, second 59. The year may be shown with two digits.
    const double value = EncodeDate(2031, 11, 25) + EncodeTime(13, 47, 59, 0);
    const UnicodeString date = DateToStr(value);
    const UnicodeString time = TimeToStr(value);
    EXPECT_TRUE(Contains(date, u"25")) << UnicodeToUtf8(date);
    EXPECT_TRUE(Contains(date, u"31")) << UnicodeToUtf8(date);
    EXPECT_TRUE(Contains(time, u"47")) << UnicodeToUtf8(time);
    EXPECT_TRUE(Contains(time, u"59")) << "the long time format has seconds";
    EXPECT_EQ(DateTimeToStr(value), date + u" " + time);
}

TEST(HostDateTimeText, DatesTheSystemCannotFormatFallBackToTheFixedFormat) {
    // Windows formats no date before 1601.
    EXPECT_EQ(DateToStr(EncodeDate(1500, 6, 15)), u"1500-06-15");
}

}  // namespace
