// tarnterm with --frame: the frame steps of a script on both kinds of line,
// against the demo, a text the framing refuses, and the terminal showing
// frames one to a line.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "connection.h"
#include "demo_instrument.h"
#include "exit_status.h"
#include "fake_console.h"
#include "frames.h"
#include "program.h"
#include "serialport/component_test_support.h"
#include "terminal.h"
#include "test_line.h"
#include "virtual_port.h"

namespace {

using tarn::test::FakeConsole;
using tarn::test::LineKind;

class TarntermFrames : public ::testing::TestWithParam<LineKind> {};

// --send-frame encodes for the framing; --expect-frame=TEXT passes over
// other frames and a frame error to the one awaited, and --expect-frame
// prints the next as the framing's display shows it. The answer comes
// before the first wait, and waits in the driver for the framing.
TEST_P(TarntermFrames, SendAndAwaitFramesOfTheFraming) {
    const struct {
        const char* framing;
        std::string sent;
        std::string answer;
        const char* printed;
        const char* error;
    } cases[] = {
        {"cobs",
         std::string("\x02"
                     "a\x02"
                     "b\0",
                     5),
         std::string("\x03no\0\x05\x41\0\x03ok\0\x02z\0", 14), "7A\n",
         "tarnterm: frame error, bad COBS code: "},
        {"delimiter", std::string("a\0b\r\n", 5), "no\r\nok\r\nz\r\n", "z\n", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.framing);
        std::string whyNot;
        const auto line = tarn::test::TestLine::Create(GetParam(), "TTFRAME1", &whyNot);
        ASSERT_TRUE(line) << whyNot;
        std::string got;
        std::thread device([&] {
            got = line->ReadPeer(c.sent.size(), tarn::test::kEventLimit);
            line->Inject(c.answer);
        });
        FakeConsole console;
        const int status =
            tarnterm::RunProgram({line->Name(), "--frame", c.framing, "--send-frame", "a\\0b",
                                  "--expect-frame=ok", "--expect-frame", "--timeout", "30"},
                                 console);
        device.join();
        EXPECT_EQ(status, tarnterm::kExitOk) << console.Err();
        EXPECT_EQ(got, c.sent);
        EXPECT_EQ(console.Out(), c.printed);
        EXPECT_EQ(console.Err().rfind(c.error, 0), 0u) << console.Err();
        EXPECT_EQ(console.Err().empty(), *c.error == '\0') << console.Err();
    }
}

INSTANTIATE_TEST_SUITE_P(Lines, TarntermFrames, tarn::test::kLineKinds,
                         [](const auto& info) { return tarn::test::LineKindName(info.param); });

// The demo answers lines, which --frame delimiter makes frames; a text that
// the framing cannot carry ends the script with the component's words.
TEST(TarntermScript, FramesOfTheDemoAndATextTheFramingRefuses) {
    FakeConsole console;
    EXPECT_EQ(tarnterm::RunProgram({"--demo", "--frame", "delimiter", "--send-frame", "*IDN?",
                                    "--expect-frame", "--timeout", "30"},
                                   console),
              tarnterm::kExitOk)
        << console.Err();
    EXPECT_EQ(console.Out(), std::string(tarnterm::DemoInstrument::kIdentity) + "\n");

    const std::vector<std::string> refused[] = {
        {"--demo", "--frame", "delimiter", "--send-frame", "a\\r\\nb"},
        {"--demo", "--frame", "fixed:4", "--send-frame", "abc"},
        // Nothing to send: the framing adds no bytes to an empty text.
        {"--demo", "--frame", "silence", "--send-frame", ""},
    };
    for (const auto& args : refused) {
        FakeConsole bad;
        EXPECT_EQ(tarnterm::RunProgram(args, bad), tarnterm::kExitUsage) << args[4];
        const std::string err = bad.Err();
        EXPECT_EQ(err.rfind("tarnterm: --send-frame '", 0), 0u) << err;
        EXPECT_NE(err.find("' cannot be sent as a frame: "), std::string::npos) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    }
}

// Each frame stands on a line of its own, in the display's form; what
// cannot be a frame is a status line, and the raw bytes are not shown.
TEST(TarntermTerminal, ShowsFramesOneToALineAndFrameErrorsAsStatus) {
    tarn::driver::VirtualPort device("TTTERMF1");
    TTarnSerialPort port;
    tarnterm::SelectPort(port, device.Name());
    tarnterm::TerminalSettings settings;
    tarnterm::ApplyLineSettings(port, settings.line);
    tarnterm::FrameSettings frame;
    frame.framing = frCobs;
    tarnterm::ApplyFraming(port, frame);
    settings.portName = device.Name();
    settings.display = tarnterm::DisplayMode::kHex;
    settings.frames = true;
    FakeConsole console(true);
    tarnterm::Terminal terminal(port, console, settings);
    ASSERT_EQ(terminal.Connect().status, tarnterm::kExitOk);
    device.Inject(std::string("\x03no\0\x05\x41\0\x02z\0", 10));
    const std::string shown = "\n6E 6F\n[tarnterm] frame error, bad COBS code: 05 41\n7A\n";
    EXPECT_TRUE(terminal.RunUntil([&] { return console.Out().find(shown) != std::string::npos; },
                                  tarn::test::kEventLimit))
        << console.Out();
    EXPECT_EQ(console.Out().find("03"), std::string::npos) << console.Out();
    terminal.Close();
}

}  // namespace
