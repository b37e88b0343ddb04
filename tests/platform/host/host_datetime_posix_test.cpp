// The fixed date and time formats of the POSIX build.
#include <gtest/gtest.h>

#include "host_datetime.h"

using namespace tarn::host;

namespace {

TEST(HostDateTimeText, FixedFormatsPadEveryField) {
    const double value = EncodeDate(2024, 3, 5) + EncodeTime(4, 5, 6, 700);
    EXPECT_EQ(DateToStr(value), u"2024-03-05");
    EXPECT_EQ(TimeToStr(value), u"04:05:06");
    EXPECT_EQ(DateTimeToStr(value), u"2024-03-05 04:05:06");
    EXPECT_EQ(TimeToStr(EncodeTime(23, 59, 59, 0)), u"23:59:59");
    EXPECT_EQ(DateToStr(EncodeDate(7, 1, 2)), u"0007-01-02");
}

}  // namespace
