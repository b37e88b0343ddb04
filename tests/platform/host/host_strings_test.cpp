#include "host_strings.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "host_exception.h"
#include "host_format.h"
#include "serial_driver.h"

using namespace tarn::host;

namespace {

TEST(HostStrings, AsciiSurvivesTheAnsiCodePageBothWays) {
    const AnsiString bytes = "COM3 \t~!";
    EXPECT_EQ(AnsiToUnicode(bytes), u"COM3 \t~!");
    EXPECT_EQ(UnicodeToAnsi(AnsiToUnicode(bytes)), bytes);
    EXPECT_EQ(AnsiToUnicode(""), u"");
    EXPECT_EQ(UnicodeToAnsi(u""), "");
}

TEST(HostStrings, Utf8RoundTripIncludingSurrogatePairs) {
    const UnicodeString text = u"A\u00e9\u20ac\U0001F600z";
    const std::string utf8 = UnicodeToUtf8(text);
    EXPECT_EQ(utf8, "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z");
    EXPECT_EQ(Utf8ToUnicode(utf8), text);
}

TEST(HostStrings, Utf8DecodingReplacesMalformedInput) {
    // A stray continuation byte, an over-long '/', a truncated sequence.
    EXPECT_EQ(Utf8ToUnicode("a\x80"
                            "b"),
              u"a\uFFFDb");
    EXPECT_EQ(Utf8ToUnicode("\xC0\xAF"), u"\uFFFD\uFFFD");
    EXPECT_EQ(Utf8ToUnicode("x\xE2\x82"), u"x\uFFFD");
    // An encoded surrogate is not a character.
    EXPECT_EQ(Utf8ToUnicode("\xED\xA0\x80"), u"\uFFFD");
    // A lone surrogate cannot be encoded and becomes U+FFFD.
    EXPECT_EQ(UnicodeToUtf8(UnicodeString(1, u'\xD800')), "\xEF\xBF\xBD");
}

TEST(HostStrings, TrimRemovesControlCharactersAndBlanksAtBothEnds) {
    EXPECT_EQ(Trim(AnsiString("\r\n\t COM1 \x01\x1f")), "COM1");
    EXPECT_EQ(Trim(UnicodeString(u"  a b  ")), u"a b");
    EXPECT_EQ(Trim(AnsiString(" \t\r\n")), "");
    // Bytes above 127 are characters, not control codes, even where char
    // is signed.
    EXPECT_EQ(Trim(AnsiString("\xA0x\xFF")), "\xA0x\xFF");
    EXPECT_EQ(Trim(UnicodeString(u"\u00A0x")), u"\u00A0x");
    EXPECT_EQ(Trim(AnsiString(std::string("\0a\0", 3))), "a");
}

TEST(HostStrings, UpperCaseAndSameTextTouchOnlyAsciiLetters) {
    EXPECT_EQ(UpperCaseAscii(AnsiString("com3-\xe9z")), "COM3-\xe9Z");
    EXPECT_EQ(UpperCaseAscii(UnicodeString(u"vcom\u00e9")), u"VCOM\u00e9");
    EXPECT_TRUE(SameTextAscii(AnsiString("Com3"), AnsiString("cOM3")));
    EXPECT_FALSE(SameTextAscii(AnsiString("COM3"), AnsiString("COM30")));
    EXPECT_TRUE(SameTextAscii(UnicodeString(u"Port"), UnicodeString(u"PORT")));
    EXPECT_FALSE(SameTextAscii(UnicodeString(u"\u00e9"), UnicodeString(u"\u00c9")));
    EXPECT_LT(CompareTextAscii(u"abc", u"ABD"), 0);
    EXPECT_GT(CompareTextAscii(u"abcd", u"ABC"), 0);
    EXPECT_EQ(CompareTextAscii(u"Abc", u"aBC"), 0);
}

TEST(HostStrings, IntToStrCoversTheWholeRange) {
    EXPECT_EQ(IntToStr(0), u"0");
    EXPECT_EQ(IntToStr(-42), u"-42");
    EXPECT_EQ(IntToStr(INT64_MIN), u"-9223372036854775808");
}

TEST(HostFormat, FillsPlaceholdersInOrder) {
    EXPECT_EQ(Format(UnicodeString(u"Cannot connect to %s. %s"), {u"COM3", u"Access is denied."}),
              u"Cannot connect to COM3. Access is denied.");
    EXPECT_EQ(Format(UnicodeString(u"100%% of %s"), {u"x"}), u"100% of x");
    EXPECT_EQ(Format(AnsiString("%s is not open."), {"COM9"}), "COM9 is not open.");
    // An argument's own '%' is not read as a placeholder.
    EXPECT_EQ(Format(UnicodeString(u"[%s]"), {u"%s"}), u"[%s]");
    // Surplus arguments are ignored.
    EXPECT_EQ(Format(UnicodeString(u"%s"), {u"a", u"b"}), u"a");
}

TEST(HostFormat, MismatchedFormatsRaiseConvertError) {
    EXPECT_THROW(Format(UnicodeString(u"%s and %s"), {u"one"}), EConvertError);
    EXPECT_THROW(Format(UnicodeString(u"%d"), {u"1"}), EConvertError);
    EXPECT_THROW(Format(UnicodeString(u"50%"), {}), EConvertError);
    try {
        Format(AnsiString("%s %s"), {"x"});
        FAIL() << "no exception";
    } catch (const EConvertError& e) {
        EXPECT_NE(e.Message().find(u"%s %s"), UnicodeString::npos) << e.what();
    }
}

TEST(HostException, MessageAndWhatCarryTheSameText) {
    const EConvertError e(UnicodeString(u"Wert \u00fcberschritten"));
    EXPECT_EQ(e.Message(), u"Wert \u00fcberschritten");
    EXPECT_STREQ(e.what(),
                 "Wert \xC3\xBC"
                 "berschritten");
    const Exception& base = e;
    EXPECT_EQ(base.Message(), e.Message());
    const EThreadError fromUtf8("caf\xC3\xA9");
    EXPECT_EQ(fromUtf8.Message(), u"caf\u00e9");
}

TEST(HostException, SysErrorMessageIsTheDriversText) {
    // Whatever the system's wording, the text is the driver's, converted,
    // and not empty for a well-known code.
    const UnicodeString text = SysErrorMessage(5);
    EXPECT_FALSE(text.empty());
    EXPECT_EQ(text, AnsiToUnicode(tarn::host::SystemErrorText(5)));
}

}  // namespace
