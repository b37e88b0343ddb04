// The interactive terminal in-process, on virtual ports: keys out, data and
// status lines in, the menu on the port's lines and rate, a pulled adapter
// with and without --reconnect, the demo instrument and its scripted tour.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "Tarnserialport.h"
#include "demo_instrument.h"
#include "exit_status.h"
#include "fake_console.h"
#include "program.h"
#include "script.h"
#include "serial_driver.h"
#include "serialport/component_test_support.h"
#include "terminal.h"
#include "traffic_meter.h"
#include "virtual_port.h"

namespace {

namespace drv = tarn::driver;
using namespace std::chrono_literals;
using tarn::test::FakeConsole;
using tarnterm::Terminal;

const std::string kMenu(1, Terminal::kMenuKey);

// A terminal connected to a virtual port, as the program sets one up.
struct Session {
    explicit Session(const std::string& name, tarnterm::TerminalSettings settings = {})
        : device(name) {
        settings.portName = name;
        tarnterm::SelectPort(port, name);
        tarnterm::ApplyLineSettings(port, settings.line);
        terminal = std::make_unique<Terminal>(port, console, settings);
        const tarnterm::OpenOutcome opened = terminal->Connect();
        EXPECT_EQ(opened.status, tarnterm::kExitOk) << opened.message;
    }
    ~Session() { terminal->Close(); }

    bool ScreenShows(const std::string& text) {
        return terminal->RunUntil([&] { return console.Out().find(text) != std::string::npos; },
                                  tarn::test::kEventLimit);
    }
    bool Until(const std::function<bool()>& done) {
        return terminal->RunUntil(done, tarn::test::kEventLimit);
    }
    // Runs the script of `arguments` on the device after the terminal has
    // let it go, on scriptPort, which stays open; the elapsed time in `took`.
    int RunScript(const std::vector<std::string>& arguments,
                  std::chrono::steady_clock::duration& took) {
        terminal->Close();
        const auto parsed = tarnterm::ParseCommandLine(arguments);
        EXPECT_TRUE(parsed.ok) << parsed.error;
        tarnterm::SelectPort(scriptPort, device.Name());
        scriptPort.Open();
        FakeConsole script;
        const auto started = std::chrono::steady_clock::now();
        const int status = tarnterm::RunScript(scriptPort, parsed.options, device.Name(), script);
        took = std::chrono::steady_clock::now() - started;
        EXPECT_EQ(status, tarnterm::kExitOk) << script.Err();
        return status;
    }

    drv::VirtualPort device;
    FakeConsole console{true};
    TTarnSerialPort port;
    std::unique_ptr<Terminal> terminal;
    TTarnSerialPort scriptPort;
};

TEST(TarntermTerminal, SendsTypedKeysWithTheChosenEnter) {
    tarnterm::TerminalSettings settings;
    settings.enter = tarnterm::EnterKey::kLf;
    settings.echo = true;
    Session s("TTTERM1", settings);
    ASSERT_TRUE(s.ScreenShows("connected to TTTERM1 at 115200 8N1, flow none"));
    s.terminal->HandleKeys("ab\rc");
    EXPECT_EQ(s.device.WaitWritten(4, tarn::test::kEventLimit), "ab\nc");
    EXPECT_NE(s.console.Out().find("ab\nc"), std::string::npos);
    // The menu key twice sends it; the Enter key changes from the menu.
    s.terminal->HandleKeys(kMenu + kMenu + kMenu + "e\r");
    EXPECT_EQ(s.device.WaitWritten(3, tarn::test::kEventLimit), "\x14\r\n");
    EXPECT_NE(s.console.Out().find("[tarnterm] Enter sends CR LF\n\n"), std::string::npos);
    s.terminal->HandleKeys(kMenu + "e" + "x\r");
    EXPECT_EQ(s.device.WaitWritten(2, tarn::test::kEventLimit), "x\r");
    EXPECT_NE(s.console.Out().find("[tarnterm] Enter sends CR\nx\n"), std::string::npos);
}

// --map changes CR and LF on the screen and on their way out, after the
// Enter key has become its bytes.
TEST(TarntermTerminal, MapsLineEndsBothWays) {
    tarnterm::TerminalSettings settings;
    settings.enter = tarnterm::EnterKey::kCr;
    settings.map.in.cr = "";
    settings.map.out.cr = "\n";
    settings.map.out.lf = "\r\n";
    Session s("TTTERM11", settings);
    s.device.Inject("one\r\ntwo\r\n");
    EXPECT_TRUE(s.ScreenShows("\none\ntwo\n")) << s.console.Out();
    s.terminal->HandleKeys("a\rb\n");
    EXPECT_EQ(s.device.WaitWritten(5, tarn::test::kEventLimit), "a\nb\r\n");
}

TEST(TarntermTerminal, ShowsDataInEachFormAndStatusOnItsOwnLine) {
    Session s("TTTERM2");
    s.device.Inject("12.5");
    ASSERT_TRUE(s.ScreenShows("12.5"));
    s.device.SetModemStatus(drv::MS_CTS_ON | drv::MS_RLSD_ON);
    ASSERT_TRUE(s.ScreenShows("12.5\n[tarnterm] modem lines CTS=on DSR=off RING=off DCD=on\n"));
    EXPECT_TRUE(s.terminal->LineStatus().Contains(lsDCD));

    s.terminal->HandleKeys(kMenu + "v");
    s.device.Inject("x\ty\r\n");
    EXPECT_TRUE(s.ScreenShows("[tarnterm] display control characters named\nx<TAB>y<CR><LF>\n"));
    s.terminal->HandleKeys(kMenu + "v");
    s.device.Inject("AB");
    EXPECT_TRUE(s.ScreenShows("[tarnterm] display hexadecimal\n41 42"));

    // With --timestamps=delta each line starts with the time since the one
    // before, the first with none.
    tarnterm::TerminalSettings stamped;
    stamped.timestamps = tarnterm::StampKind::kDelta;
    Session t("TTTERM2S", stamped);
    t.device.Inject("12.5\r\n");
    EXPECT_TRUE(t.ScreenShows("\n[+0.000] 12.5\r\n")) << t.console.Out();
}

TEST(TarntermTerminal, MenuDrivesTheLinesAndTheRate) {
    Session s("TTTERM3");
    ASSERT_TRUE(s.device.Dtr() && s.device.Rts());
    s.terminal->HandleKeys(kMenu + "d" + kMenu + "r" + kMenu + "b");
    EXPECT_FALSE(s.device.Dtr());
    EXPECT_FALSE(s.device.Rts());
    EXPECT_TRUE(s.device.BreakOn());
    s.terminal->HandleKeys(kMenu + "b" + kMenu + "l");
    EXPECT_FALSE(s.device.BreakOn());
    EXPECT_NE(s.console.Out().find("[tarnterm] DTR off\n[tarnterm] RTS off\n[tarnterm] break on\n"
                                   "[tarnterm] break off\n[tarnterm] DTR=off RTS=off break=off; "),
              std::string::npos)
        << s.console.Out();

    s.terminal->HandleKeys(kMenu + "+");
    EXPECT_EQ(s.device.AppliedStates().back().BaudRate, 230400u);
    s.terminal->HandleKeys(kMenu +
                           "s2500x0\x7f"
                           "0\r");
    EXPECT_EQ(s.device.AppliedStates().back().BaudRate, 25000u);
    EXPECT_NE(s.console.Out().find("[tarnterm] rate 25000 8N1, flow none"), std::string::npos);

    // A rate that the device refuses: back to the last one, still connected.
    s.device.RefuseNextCommState();
    s.terminal->HandleKeys(kMenu + "-");
    EXPECT_TRUE(s.terminal->Connected());
    EXPECT_EQ(s.device.AppliedStates().back().BaudRate, 25000u);
    EXPECT_NE(s.console.Out().find("TTTERM3 refused 19200 bit/s; back to 25000"),
              std::string::npos);
    EXPECT_FALSE(s.terminal->Finished());
}

// The component hands the driver its whole block again for a new rate, and
// a new connection opens with the block's lines: what the user set from the
// menu is kept through both, and the screen says what the lines are.
TEST(TarntermTerminal, KeepsTheLinesTheUserSetAcrossRateChangesAndReconnects) {
    tarnterm::TerminalSettings settings;
    settings.reconnect = true;
    Session s("TTTERM6", settings);
    s.terminal->HandleKeys(kMenu + "d" + kMenu + "r");
    const struct {
        const char* what;
        std::function<bool()> happen;
    } events[] = {
        {"a new rate", [&] { return s.terminal->HandleKeys(kMenu + "+"), true; }},
        {"a refused rate",
         [&] {
             s.device.RefuseNextCommState();
             s.terminal->HandleKeys(kMenu + "+");
             return s.terminal->Connected();
         }},
        {"a reconnection",
         [&] {
             s.device.Remove();
             if (!s.Until([&] { return s.terminal->WaitingForDevice(); })) return false;
             s.device.Plug();
             return s.Until(
                 [&] { return s.terminal->Connected() && !s.terminal->WaitingForDevice(); });
         }},
    };
    for (const auto& event : events) {
        SCOPED_TRACE(event.what);
        ASSERT_TRUE(event.happen());
        EXPECT_FALSE(s.device.Dtr());
        EXPECT_FALSE(s.device.Rts());
        const std::size_t shownFrom = s.console.Out().size();
        s.terminal->HandleKeys(kMenu + "l");
        EXPECT_EQ(s.console.Out().find("[tarnterm] DTR=off RTS=off break=off; ", shownFrom),
                  shownFrom)
            << s.console.Out().substr(shownFrom);
    }
    s.terminal->HandleKeys(kMenu + "d");
    EXPECT_TRUE(s.device.Dtr());

    // A line that flow control drives is shown as such, and left to it.
    settings.line.flow = tarnterm::Flow::kRtsCts;
    Session flow("TTTERM7", settings);
    flow.terminal->HandleKeys(kMenu + "l" + kMenu + "r");
    EXPECT_NE(flow.console.Out().find("[tarnterm] DTR=on RTS=flow break=off; "), std::string::npos)
        << flow.console.Out();
    EXPECT_NE(flow.console.Out().find("[tarnterm] RTS could not be changed: the rtscts flow "
                                      "control drives it\n"),
              std::string::npos)
        << flow.console.Out();
}

// A timed break, from the menu or as a script step, holds the line in the
// break state for its length and then lets it go.
TEST(TarntermTerminal, ATimedBreakHoldsTheLineForItsLength) {
    const std::vector<std::uint32_t> setAndClear = {drv::SETBREAK, drv::CLRBREAK};
    Session s("TTTERM10");
    auto started = std::chrono::steady_clock::now();
    s.terminal->HandleKeys(kMenu + "t");
    EXPECT_GE(std::chrono::steady_clock::now() - started, 250ms);
    EXPECT_EQ(s.device.Escapes(), setAndClear);
    EXPECT_TRUE(s.ScreenShows("[tarnterm] break sent, 250 ms\n"));
    std::chrono::steady_clock::duration took{};
    s.RunScript({"TTTERM10", "--break-ms", "40", "--send-break"}, took);
    EXPECT_GE(took, 40ms);
    EXPECT_EQ(s.device.Escapes(), std::vector<std::uint32_t>({drv::SETBREAK, drv::CLRBREAK,
                                                              drv::SETBREAK, drv::CLRBREAK}));
}

// A file sent from the menu leaves whole, with the bar at 100 % once it has
// left the port; one that cannot be read says why and sends nothing.
TEST(TarntermTerminal, SendsAFileFromTheMenu) {
    const std::filesystem::path path = std::filesystem::temp_directory_path() / "tarnterm_f.bin";
    std::string content;
    for (int i = 0; i < 5000; ++i) content += static_cast<char>(i * 7);
    std::ofstream(path, std::ios::binary) << content;
    tarnterm::TerminalSettings settings;
    settings.line.baud = 9600;
    Session s("TTFILE1", settings);
    s.terminal->HandleKeys(kMenu + "f" + path.u8string() + "\r");
    ASSERT_TRUE(s.Until([&] { return !s.terminal->SendingFile(); }));
    EXPECT_EQ(s.device.TakeWritten(), content);
    EXPECT_TRUE(s.ScreenShows("100%  4.9 KiB of 4.9 KiB")) << s.console.Out();
    EXPECT_TRUE(s.ScreenShows("\n[tarnterm] sent " + path.u8string() + ", 5000 bytes\n"));
    const std::string folder = std::filesystem::temp_directory_path().u8string();
    s.terminal->HandleKeys(kMenu + "f" + folder + "\r");
    EXPECT_TRUE(s.ScreenShows("cannot read " + folder +
                              "; it is a folder, name a file in it; "
                              "nothing sent\n"));
    EXPECT_FALSE(s.terminal->SendingFile());
    std::filesystem::remove(path);
}

// While a file goes out, what arrives is shown and typed keys are not sent;
// the menu key ends the send and drops what the driver still holds, and a
// port that goes ends it with a word.
TEST(TarntermTerminal, AFileSendShowsWhatArrivesAndTheMenuKeyCancelsIt) {
    const std::filesystem::path path = std::filesystem::temp_directory_path() / "tarnterm_c.bin";
    std::ofstream(path, std::ios::binary) << std::string(3000, 'c');
    tarnterm::TerminalSettings settings;
    settings.line.baud = 300;
    Session s("TTFILE2", settings);
    s.device.HoldOutput(true);
    s.terminal->HandleKeys(kMenu + "f" + path.u8string() + "\r" + "typed");
    s.device.Inject("arrived");
    EXPECT_TRUE(s.ScreenShows("arrived"));
    EXPECT_TRUE(s.terminal->SendingFile());
    EXPECT_TRUE(s.ScreenShows("typed keys are not sent while a file is; Ctrl-T cancels"));
    s.terminal->HandleKeys(kMenu);
    EXPECT_FALSE(s.terminal->SendingFile());
    EXPECT_TRUE(s.ScreenShows("[tarnterm] sending " + path.u8string() + " cancelled after "));
    s.device.HoldOutput(false);
    EXPECT_EQ(s.device.TakeWritten(), "");
    // A port that goes ends the send too, and says so.
    s.device.HoldOutput(true);
    s.terminal->HandleKeys(kMenu + "f" + path.u8string() + "\r");
    s.device.Remove();
    EXPECT_TRUE(s.ScreenShows(" bytes: the port closed while sending\n")) << s.console.Out();
    EXPECT_FALSE(s.terminal->SendingFile());
    std::filesystem::remove(path);
}

// A pulse, from the menu or as a script step, turns DTR or RTS from its
// state for the pulse's length and back; a line that flow control drives is
// not pulsed.
TEST(TarntermTerminal, APulseInvertsALineForItsLength) {
    tarnterm::TerminalSettings settings;
    settings.pulseMs = 40;
    Session s("TTPULSE1", settings);
    s.terminal->HandleKeys(kMenu + "d");
    auto started = std::chrono::steady_clock::now();
    s.terminal->HandleKeys(kMenu + "uD");
    EXPECT_GE(std::chrono::steady_clock::now() - started, 40ms);
    s.terminal->HandleKeys(kMenu + "ur");
    EXPECT_EQ(s.device.Escapes(), std::vector<std::uint32_t>({drv::CLRDTR, drv::SETDTR, drv::CLRDTR,
                                                              drv::CLRRTS, drv::SETRTS}));
    EXPECT_TRUE(s.ScreenShows("[tarnterm] DTR on for 40 ms, then off again\n"));
    std::chrono::steady_clock::duration took{};
    s.RunScript({"TTPULSE1", "--pulse", "dtr:30"}, took);
    EXPECT_GE(took, 30ms);
    EXPECT_EQ(s.device.Escapes().size(), 7u);
    EXPECT_EQ(s.device.Escapes().back(), drv::SETDTR);
    s.scriptPort.Close();

    settings.line.flow = tarnterm::Flow::kRtsCts;
    Session flow("TTPULSE2", settings);
    flow.terminal->HandleKeys(kMenu + "ur");
    EXPECT_TRUE(flow.ScreenShows("RTS could not be pulsed: the rtscts flow control drives it\n"));
    EXPECT_TRUE(flow.device.Escapes().empty());
    for (const char* refused : {"rts:0", "cts"}) {
        EXPECT_FALSE(tarnterm::ParseCommandLine({"COM1", "--pulse", refused}).ok) << refused;
    }
    EXPECT_FALSE(tarnterm::ParseCommandLine({"COM1", "--flow", "rtscts", "--pulse", "rts"}).ok);
}

// The counters take what the terminal received and sent; the rate is that
// of the last two seconds, or of the time since the connection before.
TEST(TarntermTerminal, CountsTheBytesEachWayAndTheirRate) {
    Session s("TTCOUNT1");
    s.device.Inject("12345");
    ASSERT_TRUE(s.ScreenShows("12345"));
    s.terminal->HandleKeys("abc");
    s.terminal->HandleKeys(kMenu + "n");
    EXPECT_TRUE(s.ScreenShows("[tarnterm] received 5 bytes (")) << s.console.Out();
    EXPECT_TRUE(s.ScreenShows(" B/s), sent 3 bytes (")) << s.console.Out();

    tarnterm::TrafficMeter meter;
    const auto start = tarnterm::TrafficMeter::Clock::now();
    meter.Reset(start);
    meter.Add(500, start + 200ms);
    EXPECT_DOUBLE_EQ(meter.Rate(start + 500ms), 1000.0);
    meter.Add(100, start + 3s);
    EXPECT_DOUBLE_EQ(meter.Rate(start + 6s), 0.0);
    EXPECT_EQ(meter.Total(), 600u);
}

// A typed rate is digits only and at least 50 bit/s; anything else is
// refused with a word, and nothing reaches the port.
TEST(TarntermTerminal, TheRatePromptRefusesWhatIsNoRate) {
    Session s("TTTERM9");
    const std::size_t applied = s.device.AppliedStates().size();
    s.terminal->HandleKeys(kMenu + "s49\r");
    EXPECT_TRUE(
        s.ScreenShows("[tarnterm] 49 bit/s is below the lowest rate, 50 bit/s; rate "
                      "unchanged\n"));
    EXPECT_EQ(s.device.AppliedStates().size(), applied);
    // A key that is no digit is refused, and the entry goes on.
    s.terminal->HandleKeys(kMenu + "s9k");
    EXPECT_TRUE(
        s.ScreenShows("[tarnterm] a rate is digits only; Enter applies, Esc cancels\n"
                      "[tarnterm] rate in bit/s (Enter applies, Esc cancels): 9"));
    s.terminal->HandleKeys("600\r");
    EXPECT_EQ(s.device.AppliedStates().back().BaudRate, 9600u);
}

// The menu's help fits an 80-column screen and names every key, the second
// keys of an action too.
TEST(TarntermTerminal, MenuHelpFitsTheScreenAndNamesEveryKey) {
    Session s("TTTERM8");
    for (const char* key : {"h", "?"}) {
        const std::size_t from = s.console.Out().size();
        s.terminal->HandleKeys(kMenu + key);
        const std::string help = s.console.Out().substr(from);
        std::size_t lines = 0;
        for (std::size_t at = 0, end; at < help.size(); at = end + 1, ++lines) {
            end = help.find('\n', at);
            ASSERT_NE(end, std::string::npos) << help;
            EXPECT_LE(end - at, 80u) << help.substr(at, end - at);
        }
        EXPECT_GT(lines, 2u) << help;
        for (const char* named : {"either case", "q or x", "h or ?", "+ or -", "Ctrl-T  send",
                                  "u  pulse", "f  send a file", "n  bytes"}) {
            EXPECT_NE(help.find(named), std::string::npos) << named << " in\n" << help;
        }
    }
}

TEST(TarntermTerminal, APulledAdapterEndsTheSessionWithoutReconnect) {
    Session s("TTTERM4");
    s.device.Remove();
    ASSERT_TRUE(s.Until([&] { return s.terminal->Finished(); }));
    EXPECT_EQ(s.terminal->ExitStatus(), tarnterm::kExitFailure);
    EXPECT_TRUE(
        s.ScreenShows("[tarnterm] TTTERM4 was removed\n[tarnterm] disconnected from "
                      "TTTERM4\n[tarnterm] the connection is lost; start tarnterm with "
                      "--reconnect"));
}

// With --reconnect a port that is not there at the start is waited for;
// one named by its USB ids is looked for again at each attempt, so it is
// found under whatever name it appears.
TEST(TarntermTerminal, WaitsForADeviceThatIsNotThereYet) {
    TTarnSerialPort port;
    FakeConsole console{true};
    tarnterm::TerminalSettings settings;
    settings.portSpec = "usb:0403:60AB:TW1";
    settings.portName = tarnterm::ResolvePortName(settings.portSpec);
    settings.reconnect = true;
    ASSERT_EQ(settings.portName, "");
    Terminal terminal(port, console, settings);
    ASSERT_EQ(terminal.Connect().status, tarnterm::kExitNoSuchPort);
    terminal.WaitForPort();
    EXPECT_NE(console.Out().find("[tarnterm] waiting for usb:0403:60AB:TW1 to appear"),
              std::string::npos);

    drv::VirtualPortDetails usb;
    usb.vendorId = "0403";
    usb.productId = "60ab";
    usb.serialNumber = "TW2";
    drv::VirtualPort other("TTWAIT1", usb);
    usb.serialNumber = "TW1";
    drv::VirtualPort device("TTWAIT2", usb);
    ASSERT_TRUE(terminal.RunUntil([&] { return terminal.Connected(); }, tarn::test::kEventLimit));
    EXPECT_TRUE(device.IsOpen());
    EXPECT_FALSE(other.IsOpen());
    EXPECT_TRUE(terminal.RunUntil(
        [&] { return console.Out().find("connected to TTWAIT2 at") != std::string::npos; },
        tarn::test::kEventLimit));
    terminal.Close();
}

TEST(TarntermTerminal, ReconnectsWhenTheAdapterComesBack) {
    tarnterm::TerminalSettings settings;
    settings.reconnect = true;
    Session s("TTTERM5", settings);
    s.terminal->HandleKeys(kMenu + "d");
    s.device.Remove();
    ASSERT_TRUE(s.Until([&] { return s.terminal->WaitingForDevice(); }));
    s.terminal->HandleKeys("lost");
    s.terminal->HandleKeys("still lost");
    s.device.Plug();
    ASSERT_TRUE(
        s.Until([&] { return s.terminal->Connected() && !s.terminal->WaitingForDevice(); }));
    EXPECT_TRUE(s.ScreenShows("[tarnterm] reconnected to TTTERM5"));
    EXPECT_FALSE(s.terminal->Finished());
    // One warning for the keys typed meanwhile; none of them went out, and
    // the new connection keeps DTR as the user left it.
    const std::string out = s.console.Out();
    EXPECT_EQ(out.find("not connected; typed keys are not sent"),
              out.rfind("not connected; typed keys are not sent"));
    EXPECT_FALSE(s.device.Dtr());
    s.terminal->HandleKeys("back");
    EXPECT_EQ(s.device.WaitWritten(4, tarn::test::kEventLimit), "back");
}

// A hang-up or a termination ends the terminal with the console put back
// and the status that a shell gives for the signal.
TEST(TarntermTerminal, AStopSignalEndsItWithTheConsoleRestoredAndTheSignalsStatus) {
    for (const int signal : {1, 15}) {
        FakeConsole console(true);
        console.TypeAfter("Ctrl-T q to quit", "");
        console.StopWithSignal(signal);
        EXPECT_EQ(tarnterm::RunProgram({"--demo"}, console), tarnterm::kExitSignalBase + signal);
        EXPECT_FALSE(console.GaveUp()) << console.Out();
        EXPECT_FALSE(console.Raw());
    }
}

TEST(TarntermDemo, InstrumentAnswersAndDrivesItsLines) {
    tarnterm::DemoInstrument instrument("TTDEMO1", 10ms);
    TTarnSerialPort port;
    std::string received;
    TLineStatusSet lines;
    port.SetOnReceive([&](TTarnSerialPort*, std::string bytes) { received += bytes; });
    port.SetOnLineStatusChange([&](TTarnSerialPort*, TLineStatusSet now) { lines = now; });
    tarnterm::SelectPort(port, instrument.PortName());
    port.Open();
    auto answer = [&](const std::string& command, const std::string& expected) {
        received.clear();
        port.SendChars(command);
        return tarn::test::WaitUntil([&] { return received.find(expected) != std::string::npos; });
    };
    auto linesAre = [&](TLineStatusSet expected) {
        return tarn::test::WaitUntil([&] { return lines == expected; });
    };
    EXPECT_TRUE(linesAre({lsCTS, lsDSR}));
    EXPECT_TRUE(answer("*idn?\r\n", std::string(tarnterm::DemoInstrument::kIdentity) + "\r\n"));
    EXPECT_TRUE(answer("MEAS?\n", " C\r\n"));
    EXPECT_TRUE(answer("FLY\r", "ERR unknown command 'FLY'; try HELP\r\n"));
    EXPECT_TRUE(answer("STREAM ON\r", " C\r\n+"));
    EXPECT_TRUE(linesAre({lsCTS, lsDSR, lsDCD}));
    EXPECT_TRUE(answer("STREAM OFF\rRING\r", "OK\r\nOK\r\n"));
    EXPECT_TRUE(linesAre({lsCTS, lsDSR, lsRING}));
    port.SetDTR(false);
    port.SetRTS(false);
    EXPECT_TRUE(linesAre({lsRING}));
    EXPECT_TRUE(answer("HELP\r", "Commands:"));
    EXPECT_TRUE(linesAre({}));
}

TEST(TarntermDemo, InteractiveDemoAnswersTypedCommands) {
    FakeConsole console(true);
    console.TypeAfter("Ctrl-T q to quit", "*IDN?\r");
    console.TypeAfter(std::string(tarnterm::DemoInstrument::kIdentity) + "\r\n", kMenu + "q");
    EXPECT_EQ(tarnterm::RunProgram({"--demo"}, console), tarnterm::kExitOk);
    EXPECT_FALSE(console.GaveUp()) << console.Out();
    EXPECT_FALSE(console.Raw());
    // Local echo shows the command above its answer.
    EXPECT_NE(console.Out().find("*IDN?\n"), std::string::npos);
}

TEST(TarntermDemo, ScriptedTourEndsByItselfWhenNoOneCanType) {
    FakeConsole console;
    EXPECT_EQ(tarnterm::RunProgram({"--demo"}, console), tarnterm::kExitOk) << console.Out();
    const std::string out = console.Out();
    for (const char* part :
         {"ports present: ", "TARNDEMO (spCustom)", "connected to TARNDEMO",
          "[tarnterm] modem lines CTS=on DSR=off", "[tarnterm] TARNDEMO was removed",
          "[tarnterm] reconnected to TARNDEMO", "[tarnterm] demo finished"}) {
        EXPECT_NE(out.find(part), std::string::npos) << part;
    }
    const std::string identity = tarnterm::DemoInstrument::kIdentity;
    EXPECT_NE(out.find(identity), out.rfind(identity));
    EXPECT_FALSE(console.Raw());
}

}  // namespace
