// Conversions through the ANSI code page of Windows.
#include <gtest/gtest.h>
#include "host_windows.h"

#include "host_strings.h"

using namespace tarn::host;

namespace {

TEST(HostCodePage, WesternCodePageMapsItsOwnCharacters) {
    if (GetACP() != 1252) {
        GTEST_SKIP() << "the expectations are those of code page 1252, this system uses "
                     << GetACP();
    }
    // 0x80 is the euro sign in 1252, where Latin-1 has a control code.
    EXPECT_EQ(AnsiToUnicode("\x80\xe9"), u"\u20ac\u00e9");
    EXPECT_EQ(UnicodeToAnsi(u"\u20ac\u00e9"), "\x80\xe9");
    // A character the code page lacks has no byte of its own.
    EXPECT_EQ(UnicodeToAnsi(u"\u4e2d").size(), 1u);
    EXPECT_NE(UnicodeToAnsi(u"\u4e2d"), "\xe9");
}

}  // namespace
