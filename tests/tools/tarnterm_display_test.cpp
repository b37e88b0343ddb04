// What tarnterm shows: data in its three forms, status lines that never run
// into the data, the progress bar and the port list.
#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <string>

#include "Tarnserialport.h"
#include "connection.h"
#include "display.h"
#include "watch.h"

namespace {

using tarnterm::Display;
using tarnterm::DisplayMode;

struct Screen {
    TTarnSerialPort namer;
    std::string text;
    Display display{[this](const std::string& s) { text += s; },
                    [this](const std::string& s) { return namer.ReplaceControlChars(s); },
                    DisplayMode::kRaw};
};

TEST(TarntermDisplay, StatusLinesStandOnTheirOwnLine) {
    Screen screen;
    screen.display.Data("12.5 V");
    screen.display.Status("DTR off");
    screen.display.Data("\r\n13.0 V\r\n");
    screen.display.Status("RTS off");
    EXPECT_EQ(screen.text, "12.5 V\n[tarnterm] DTR off\n\r\n13.0 V\r\n[tarnterm] RTS off\n");
}

// Status lines in colour on a terminal, unless NO_COLOR holds anything;
// --color always and never decide alone. The colour ends before the line
// break.
TEST(TarntermDisplay, StatusLinesInColourWhenWanted) {
    using tarnterm::ColorChoice;
    const struct {
        ColorChoice choice;
        bool terminal;
        const char* noColor;
        bool wanted;
    } cases[] = {
        {ColorChoice::kAuto, true, nullptr, true}, {ColorChoice::kAuto, true, "", true},
        {ColorChoice::kAuto, true, "1", false},    {ColorChoice::kAuto, false, nullptr, false},
        {ColorChoice::kAlways, false, "1", true},  {ColorChoice::kNever, true, nullptr, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(tarnterm::ColorWanted(c.choice, c.terminal, c.noColor), c.wanted)
            << static_cast<int>(c.choice) << " " << c.terminal << " "
            << (c.noColor ? c.noColor : "unset");
    }
    Screen screen;
    screen.display.SetColor(true);
    screen.display.Data("12.5");
    screen.display.Status("DTR off");
    screen.display.Prompt("rate: ");
    EXPECT_EQ(screen.text,
              "12.5\n\x1b[36m[tarnterm] DTR off\x1b[0m\n\x1b[36m[tarnterm] rate: \x1b[0m");
}

// A device's strings and a peer's words reach the terminal escaped, in the
// port list, the watch and the status lines; the program's colours do not.
TEST(TarntermDisplay, TextFromOutsideIsShownEscaped) {
    EXPECT_EQ(tarnterm::TerminalSafe("A\x1b]0;x\x07\x7f\xc2\x9b[2J\xff\xc3\xa9"),
              "A<ESC>]0;x<BEL><DEL><U+009B>[2J\xef\xbf\xbd\xc3\xa9");
    Screen screen;
    screen.display.SetColor(true);
    screen.display.Status("connected to \x1b[2J");
    EXPECT_EQ(screen.text, "\x1b[36m[tarnterm] connected to <ESC>[2J\x1b[0m\n");

    tarnterm::PortEntry entry{"spCustom", {}};
    entry.details.name = "ttyUSB0";
    entry.details.description = "FT\x1b[31m";
    entry.details.serialNumber = "A\r6";
    EXPECT_EQ(tarnterm::FormatPortList({entry}, false),
              "NAME     PATH  DESCRIPTION  USB ID  SERIAL\n"
              "ttyUSB0  -     FT<ESC>[31m  -       A<CR>6\n");
    EXPECT_EQ(tarnterm::FormatPortChange(true, "ttyUSB0", &entry.details),
              "+ ttyUSB0  FT<ESC>[31m  A<CR>6\n");
}

TEST(TarntermDisplay, NamesControlCharactersAndKeepsLines) {
    Screen screen;
    screen.display.SetMode(DisplayMode::kNames);
    screen.display.Data(std::string("a\tb\0\r\nc", 7));
    EXPECT_EQ(screen.text, "a<TAB>b<NUL><CR><LF>\nc");
}

TEST(TarntermDisplay, HexRunsOnAcrossChunksAndBreaksLines) {
    Screen screen;
    screen.display.SetMode(DisplayMode::kHex);
    screen.display.Data("AB");
    screen.display.Data("C\n");
    screen.display.Data(std::string(17, 'x'));
    screen.display.Status("done");
    EXPECT_EQ(screen.text,
              "41 42 43 0A\n"
              "78 78 78 78 78 78 78 78 78 78 78 78 78 78 78 78\n"
              "78\n[tarnterm] done\n");
    // A change of form starts on a fresh line.
    screen.text.clear();
    screen.display.Data("A");
    screen.display.SetMode(DisplayMode::kRaw);
    screen.display.Data("ok");
    EXPECT_EQ(screen.text, "41\nok");
}

// Each received line gets one stamp, however the data is cut into chunks;
// status lines get none. The clock is the test's.
TEST(TarntermDisplay, StampsEachReceivedLineOnce) {
    using Clock = tarnterm::LineStamper::Clock;
    Clock::time_point now = Clock::from_time_t(1700000000) + std::chrono::milliseconds(45);
    tarnterm::LineStamper delta(tarnterm::StampKind::kDelta, false, [&] { return now; });
    Screen screen;
    screen.display.SetStamper(&delta);
    screen.display.Data("a\r\nb");
    now += std::chrono::milliseconds(1250);
    screen.display.Data("c\r\n");
    screen.display.Status("s");
    screen.display.SetMode(DisplayMode::kHex);
    screen.display.Data("d\n");
    EXPECT_EQ(screen.text, "[+0.000] a\r\n[+0.000] bc\r\n[tarnterm] s\n[+1.250] 64 0A\n");

    // The local time to the millisecond; the log's with the date.
    for (const bool withDate : {false, true}) {
        tarnterm::LineStamper absolute(tarnterm::StampKind::kAbsolute, withDate,
                                       [&] { return now; });
        bool atLineStart = true;
        const std::string date = withDate ? R"(\d{4}-\d\d-\d\d )" : "";
        const std::string stamp = R"(\[)" + date + R"(\d\d:\d\d:\d\d\.295\] )";
        EXPECT_TRUE(std::regex_match(absolute.Stamp("x\ny", atLineStart),
                                     std::regex(stamp + "x\n" + stamp + "y")));
        EXPECT_FALSE(atLineStart);
    }
}

TEST(TarntermDisplay, ProgressShowsShareAmountAndRate) {
    EXPECT_EQ(tarnterm::FormatProgress(0, 2048, 0.0),
              "[------------------------]   0%  0 B of 2.0 KiB");
    EXPECT_EQ(tarnterm::FormatProgress(1024, 2048, 1.0),
              "[############------------]  50%  1.0 KiB of 2.0 KiB  1.0 KiB/s");
    EXPECT_EQ(tarnterm::FormatProgress(3 << 20, 3 << 20, 2.0),
              "[########################] 100%  3.0 MiB of 3.0 MiB  1.5 MiB/s");
    EXPECT_EQ(tarnterm::FormatProgress(0, 0, 0.0).substr(0, 31), "[########################] 100%");
}

TEST(TarntermDisplay, ModemLinesAndPortListForPeopleAndScripts) {
    EXPECT_EQ(tarnterm::DescribeModemLines(TLineStatusSet{lsCTS, lsDCD}),
              "CTS=on DSR=off RING=off DCD=on");
    EXPECT_EQ(tarnterm::DescribeModemLines(TLineStatusSet{lsCTS}, false),
              "CTS=? DSR=? RING=? DCD=?");
    tarnterm::PortEntry usb{"spCOM3", {}};
    usb.details.name = "COM3";
    usb.details.path = "\\\\.\\COM3";
    usb.details.description = "USB Serial Port";
    usb.details.kind = tarn::PortKind::Usb;
    usb.details.vendorId = "0403";
    usb.details.productId = "6001";
    usb.details.serialNumber = "A5\"1";
    tarnterm::PortEntry plain{"spCustom", {}};
    plain.details.name = "ttyS0";
    plain.details.path = "/dev/ttyS0";
    // The table for people: unknown fields read "-", the last column is not
    // padded.
    EXPECT_EQ(tarnterm::FormatPortList({usb, plain}, false),
              "NAME   PATH        DESCRIPTION      USB ID     SERIAL\n"
              "COM3   \\\\.\\COM3    USB Serial Port  0403:6001  A5\"1\n"
              "ttyS0  /dev/ttyS0  -                -          -\n");
    // JSON for scripts: every field, escaped, unknown ones empty.
    const std::string json = tarnterm::FormatPortList({usb, plain}, true);
    EXPECT_EQ(json.substr(0, 4), "[\n  ");
    EXPECT_NE(json.find("{\"name\": \"COM3\", \"identifier\": \"spCOM3\", \"path\": "
                        "\"\\\\\\\\.\\\\COM3\", \"stablePath\": \"\", \"description\": "
                        "\"USB Serial Port\", \"kind\": \"usb\", \"vendorId\": \"0403\", "
                        "\"productId\": \"6001\", \"serialNumber\": \"A5\\\"1\", "
                        "\"manufacturer\": \"\", \"product\": \"\", \"interfaceNumber\": \"\", "
                        "\"location\": \"\"},\n"),
              std::string::npos)
        << json;
    EXPECT_NE(json.find("\"name\": \"ttyS0\", \"identifier\": \"spCustom\""), std::string::npos);
    EXPECT_EQ(tarnterm::FormatPortList({}, true), "[]\n");
}

}  // namespace
