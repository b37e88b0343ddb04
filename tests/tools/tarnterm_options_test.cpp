// tarnterm's command line: every setting read as meant, and every mistake
// caught before a port is touched, with a line that says what to do.
#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "options.h"

namespace {

using tarnterm::Flow;
using tarnterm::Mode;
using tarnterm::ParseCommandLine;
using tarnterm::Step;

TEST(TarntermOptions, ReadsEverySettingInBothSpellings) {
    const auto parsed = ParseCommandLine({"/dev/ttyUSB0", "-b", "250000", "--data=7", "--parity",
                                          "even", "--stop=2", "--flow", "rtscts", "--delay", "20",
                                          "--enter", "lf", "--display=hex", "--echo", "--log",
                                          "t.log", "--timestamps", "--reconnect"});
    ASSERT_TRUE(parsed.ok) << parsed.error;
    const tarnterm::Options& o = parsed.options;
    EXPECT_EQ(o.mode, Mode::kConnect);
    EXPECT_EQ(o.port, "/dev/ttyUSB0");
    EXPECT_EQ(o.line.baud, 250000);
    EXPECT_EQ(o.line.dataBits, dw7Bits);
    EXPECT_EQ(o.line.parity, pbEven);
    EXPECT_EQ(o.line.stopBits, sb2Bits);
    EXPECT_EQ(o.line.flow, Flow::kRtsCts);
    EXPECT_EQ(o.line.delayMs, 20u);
    EXPECT_EQ(o.enter, tarnterm::EnterKey::kLf);
    EXPECT_EQ(o.display, tarnterm::DisplayMode::kHex);
    EXPECT_TRUE(o.echo && o.reconnect);
    EXPECT_EQ(o.timestamps, tarnterm::StampKind::kAbsolute);
    EXPECT_EQ(o.logFile, "t.log");
    EXPECT_EQ(tarnterm::DescribeLineSettings(o.line), "250000 7E2, flow rtscts");

    EXPECT_EQ(ParseCommandLine({"COM3", "--timestamps=delta"}).options.timestamps,
              tarnterm::StampKind::kDelta);
    const auto mapped = ParseCommandLine({"COM3", "--map", "icrnl,inlcrlf,onlcrnl"});
    ASSERT_TRUE(mapped.ok) << mapped.error;
    EXPECT_EQ(tarnterm::ApplyMap(mapped.options.map.in, "a\rb\nc"), "a\nb\r\nc");
    EXPECT_EQ(tarnterm::ApplyMap(mapped.options.map.out, "a\rb\nc"), "a\rb\r\nc");
    // A short option takes its value attached, too.
    const auto attached = ParseCommandLine({"COM3", "-b9600"});
    ASSERT_TRUE(attached.ok) << attached.error;
    EXPECT_EQ(attached.options.line.baud, 9600);

    const auto defaults = ParseCommandLine({"COM3"});
    ASSERT_TRUE(defaults.ok);
    EXPECT_EQ(tarnterm::DescribeLineSettings(defaults.options.line), "115200 8N1, flow none");
    EXPECT_EQ(defaults.options.line.delayMs, 50u);
    EXPECT_EQ(defaults.options.enter, tarnterm::EnterKey::kCrLf);
}

TEST(TarntermOptions, KeepsScriptStepsInOrderWithEscapesDecoded) {
    const auto parsed =
        ParseCommandLine({"COM3", "--send", "*IDN?\\r\\n", "--expect", "\\x06OK", "--read-line",
                          "--send-file", "fw.bin", "--timeout", "0.5"});
    ASSERT_TRUE(parsed.ok) << parsed.error;
    const std::vector<Step>& steps = parsed.options.steps;
    ASSERT_EQ(steps.size(), 4u);
    EXPECT_EQ(steps[0].kind, Step::Kind::kSend);
    EXPECT_EQ(steps[0].text, "*IDN?\r\n");
    EXPECT_EQ(steps[1].kind, Step::Kind::kExpect);
    EXPECT_EQ(steps[1].text, "\x06OK");
    EXPECT_EQ(steps[2].kind, Step::Kind::kReadLine);
    EXPECT_EQ(steps[3].kind, Step::Kind::kSendFile);
    EXPECT_EQ(steps[3].text, "fw.bin");
    EXPECT_DOUBLE_EQ(parsed.options.timeoutSeconds, 0.5);
}

TEST(TarntermOptions, DecodesEveryEscapeAndRefusesBrokenOnes) {
    std::string bytes;
    std::string error;
    ASSERT_TRUE(tarnterm::DecodeEscapes("a\\t\\e\\0\\\\\\xfFz", bytes, error));
    EXPECT_EQ(bytes, std::string("a\t\x1b\0\\\xff"
                                 "z",
                                 7));
    EXPECT_FALSE(tarnterm::DecodeEscapes("\\q", bytes, error));
    EXPECT_NE(error.find("\\xHH"), std::string::npos);
    EXPECT_FALSE(tarnterm::DecodeEscapes("\\x4", bytes, error));
    EXPECT_FALSE(tarnterm::DecodeEscapes("end\\", bytes, error));
}

TEST(TarntermOptions, ModesWithoutAPort) {
    EXPECT_EQ(ParseCommandLine({"--list", "--json"}).options.mode, Mode::kList);
    EXPECT_EQ(ParseCommandLine({"-h"}).options.mode, Mode::kHelp);
    EXPECT_EQ(ParseCommandLine({"--version"}).options.mode, Mode::kVersion);
    const auto demo = ParseCommandLine({"--demo", "--send", "x"});
    ASSERT_TRUE(demo.ok);
    EXPECT_TRUE(demo.options.demo);
}

// Each mistake is refused with a line that names the fix.
TEST(TarntermOptions, RefusesEachMistakeWithAHint) {
    const struct {
        std::vector<std::string> args;
        const char* hint;
    } cases[] = {
        {{"COM1", "--baud", "fast"}, "such as 9600"},
        {{"COM1", "--baud", "0"}, "such as 9600"},
        {{"COM1", "--baud", "49"}, "below the lowest rate, 50 bit/s"},
        {{"COM1", "--data", "9"}, "5, 6, 7 or 8"},
        {{"COM1", "--parity", "x"}, "none, odd, even, mark or space"},
        {{"COM1", "--stop", "3"}, "1, 1.5 or 2"},
        {{"COM1", "--flow", "cts"}, "rtscts"},
        {{"COM1", "--delay", "0"}, "1 to 10000"},
        {{"COM1", "--enter", "crcr"}, "cr, lf or crlf"},
        {{"COM1", "--display", "ascii"}, "raw, names or hex"},
        {{"COM1", "--timeout", "-1", "--read-line"}, "above 0"},
        {{"COM1", "--send", ""}, "at least one"},
        {{"COM1", "--baud"}, "--baud 115200"},
        {{"COM1", "--bogus"}, "--help"},
        {{"COM1", "--echo=yes"}, "takes no value"},
        {{"-lx"}, "--list takes no value"},
        {{"COM1", "-b96x"}, "--baud '96x' is not a rate"},
        {{"COM1", "COM2"}, "only one port"},
        {{}, "tarnterm --list"},
        {{"--demo", "COM1"}, "leave out the port"},
        {{"--list", "COM1"}, "takes no port"},
        {{"COM1", "--json"}, "--list --json"},
        {{"COM1", "--send", "x", "--timestamps"}, "--log FILE"},
        {{"COM1", "--timestamps=later"}, "--timestamps=delta"},
        {{"COM1", "--map", "icrnl,crlf"}, "'crlf' is not a rule"},
        {{"COM1", "--color", "blue"}, "auto, always or never"},
        {{"--demo", "--serve", "::1"}, "such as [::1]:4000"},
        {{"COM1", "--map", "icrnl,igncr"}, "icrnl and igncr both change CR received"},
        {{"COM1", "--map", "igncr", "--send", "x"}, "interactive terminal"},
        {{"COM1", "--timeout", "3"}, "--expect, --read-line"},
        {{"COM1", "--send", "x", "--timeout", "3"}, "a script's --reconnect"},
        {{"COM1", "--plot", "--send", "x"}, "--plot-out FILE.svg"},
        {{"COM1", "--plot=big"}, "--plot or --plot=only"},
        {{"COM1", "--plot", "--plot-columns", "1,0"}, "'0', which is no place"},
        {{"COM1", "--plot", "--plot-columns", "2,x"}, "such as --plot-columns 1,3"},
        {{"COM1", "--plot", "--plot-columns", "3,3"}, "names 3 twice"},
        {{"COM1", "--plot", "--plot-columns", "1,2,3,4,5,6,7,8,9"}, "too many"},
        {{"COM1", "--plot-columns", "1"}, "add one of them"},
        {{"COM1", "--plot", "--plot-scale", "log"}, "shared or each"},
        {{"COM1", "--stop", "1.5"}, "only with --data 5"},
        {{"COM1", "--data", "5", "--stop", "2"}, "--stop 1 or 1.5"},
        {{"COM1", "--frame", "bogus"}, "is not a framing; use delimiter[:TEXT], fixed:N"},
        {{"COM1", "--frame", "fixed:0"}, "such as fixed:8"},
        {{"COM1", "--frame", "length:3"}, "length:1, length:2be"},
        {{"COM1", "--frame", "delimiter:"}, "no delimiter after its colon"},
        {{"COM1", "--frame", "silence:60001"}, "0 to 60000"},
        {{"COM1", "--frame", "cobs", "--max-frame", "0"}, "such as 1024"},
        {{"COM1", "--max-frame", "10"}, "add --frame KIND"},
        {{"COM1", "--expect-frame"}, "add it, such as --frame cobs"},
        {{"COM1", "--send-frame", "x"}, "add it, such as --frame cobs"},
    };
    for (const auto& c : cases) {
        const auto parsed = ParseCommandLine(c.args);
        std::string line;
        for (const std::string& arg : c.args) line += arg + " ";
        EXPECT_FALSE(parsed.ok) << line;
        EXPECT_NE(parsed.error.find(c.hint), std::string::npos) << line << "-> " << parsed.error;
        EXPECT_EQ(parsed.error.find('\n'), std::string::npos) << line;
    }
    // The framings that do exist are taken.
    EXPECT_TRUE(ParseCommandLine({"COM1", "--data", "5", "--stop", "1.5"}).ok);
    EXPECT_TRUE(ParseCommandLine({"COM1", "--reconnect", "--send", "x", "--timeout", "3"}).ok);
    const auto dashed = ParseCommandLine({"--baud", "9600", "--", "-odd-name"});
    ASSERT_TRUE(dashed.ok) << dashed.error;
    EXPECT_EQ(dashed.options.port, "-odd-name");
}

// Each framing with its argument; frames of the binary framings show in
// hexadecimal unless --display is given.
TEST(TarntermOptions, ReadsEachFramingAndShowsBinaryFramesInHex) {
    using tarnterm::DisplayMode;
    const auto text = ParseCommandLine({"COM1", "--frame", "delimiter"}).options;
    EXPECT_EQ(text.frame.framing, frDelimiter);
    EXPECT_EQ(text.display, DisplayMode::kRaw);
    EXPECT_EQ(ParseCommandLine({"COM1", "--frame", "cobs"}).options.display, DisplayMode::kHex);
    const auto given = ParseCommandLine({"COM1", "--display", "raw", "--frame", "fixed:8"}).options;
    EXPECT_EQ(given.display, DisplayMode::kRaw);
    EXPECT_EQ(given.frame.length, 8u);
    EXPECT_EQ(ParseCommandLine({"COM1", "--frame=length:4le"}).options.frame.lengthField,
              lf32BitLE);
    EXPECT_EQ(ParseCommandLine({"COM1", "--frame=silence:5"}).options.frame.gapMs, 5u);

    const auto steps = ParseCommandLine({"COM1", "--max-frame", "512", "--frame=delimiter:\\x03;",
                                         "--send-frame", "", "--expect-frame=\\x06"});
    ASSERT_TRUE(steps.ok) << steps.error;
    EXPECT_EQ(steps.options.frame.delimiter, "\x03;");
    EXPECT_EQ(steps.options.frame.maxLength, 512u);
    ASSERT_EQ(steps.options.steps.size(), 2u);
    EXPECT_EQ(steps.options.steps[0].kind, Step::Kind::kSendFrame);
    EXPECT_EQ(steps.options.steps[1].text, "\x06");
}

// The usage text and the parser come from one table: every option that the
// text names is taken as the text spells it, and once only; the value that
// the hint for a missing value suggests is one that the option accepts.
TEST(TarntermOptions, EveryOptionOfTheUsageTextIsTakenAsShown) {
    std::map<std::string, int> shown;
    std::istringstream usage(tarnterm::UsageText());
    for (std::string line; std::getline(usage, line);) {
        if (line.compare(0, 3, "  -") != 0) continue;
        // "  -b, --baud N          bits per second ..."
        std::string spelling = line.substr(2, line.find("  ", 2) - 2);
        std::string alias;
        if (spelling.compare(0, 2, "--") != 0) {
            alias = spelling.substr(0, spelling.find(", "));
            spelling.erase(0, alias.size() + 2);
        }
        // "--timestamps[=delta]": a value that may follow '='.
        const std::size_t optional = spelling.find("[=");
        const std::string name = spelling.substr(0, spelling.find_first_of(" ["));
        const bool takesValue = spelling.find(' ') != std::string::npos;
        ++shown[name];
        SCOPED_TRACE(line);
        if (!alias.empty()) {
            EXPECT_EQ(ParseCommandLine({alias}).error, ParseCommandLine({name}).error);
            EXPECT_EQ(ParseCommandLine({alias}).options.mode,
                      ParseCommandLine({name}).options.mode);
        }
        if (optional != std::string::npos) {
            const std::string value =
                spelling.substr(optional + 2, spelling.find(']') - optional - 2);
            // With a framing, for the frame steps.
            EXPECT_TRUE(ParseCommandLine({"--demo", "--frame=cobs", name}).ok);
            EXPECT_TRUE(ParseCommandLine({"--demo", "--frame=cobs", name + "=" + value}).ok);
            continue;
        }
        if (!takesValue) {
            EXPECT_EQ(ParseCommandLine({"--demo", name + "=1"}).error,
                      name + " takes no value; write it alone");
            EXPECT_EQ(ParseCommandLine({"--demo", name}).error.find("unknown"), std::string::npos);
            continue;
        }
        const std::string missing = ParseCommandLine({"--demo", name}).error;
        const std::string hint = name + " needs a value, such as " + name + " ";
        ASSERT_EQ(missing.compare(0, hint.size(), hint), 0) << missing;
        std::string example = missing.substr(hint.size());
        if (example.front() == '\'') example = example.substr(1, example.size() - 2);
        // Whatever else the line lacks, the value itself is not refused.
        const std::string error = ParseCommandLine({"--demo", name, example}).error;
        EXPECT_NE(error.compare(0, name.size() + 2, name + " '"), 0) << error;
        EXPECT_NE(error.compare(0, name.size() + 6, name + " needs"), 0) << error;
    }
    EXPECT_EQ(shown.count("--baud"), 1u);
    for (const auto& option : shown) EXPECT_EQ(option.second, 1) << option.first;
}

}  // namespace
