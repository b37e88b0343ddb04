// The POSIX ANSI code page is Latin-1: these hold there and nowhere else.
#include <gtest/gtest.h>

#include "host_strings.h"

using namespace tarn::host;

namespace {

TEST(HostCodePage, EveryByteRoundTripsThroughText) {
    AnsiString all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    const UnicodeString text = AnsiToUnicode(all);
    ASSERT_EQ(text.size(), 256u);
    for (int b = 0; b < 256; ++b) EXPECT_EQ(static_cast<int>(text[b]), b);
    EXPECT_EQ(UnicodeToAnsi(text), all);
}

TEST(HostCodePage, CharactersBeyondLatin1BecomeQuestionMarks) {
    EXPECT_EQ(UnicodeToAnsi(u"\u00e9\u20ac\U0001F600x"), "\xe9???x");
}

}  // namespace
