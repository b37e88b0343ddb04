// tarnterm without a terminal: the script steps, the reader behind
// --expect and --read-line, the traffic log, the port list, and the verdict
// on a port that does not open.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "Tarnserialport.h"
#include "connection.h"
#include "demo_instrument.h"
#include "exit_status.h"
#include "fake_console.h"
#include "host_exception.h"
#include "host_socket.h"
#include "host_strings.h"
#include "host_system_error.h"
#include "program.h"
#include "script.h"
#include "serial_driver.h"
#include "serialport/component_test_support.h"
#include "virtual_port.h"

namespace {

namespace drv = tarn::driver;
using namespace std::chrono_literals;
using tarn::test::FakeConsole;
using tarnterm::ReceiveReader;
using Result = ReceiveReader::Result;

const auto kLongDeadline = [] { return ReceiveReader::Clock::now() + tarn::test::kEventLimit; };

// A component opened on `name` as a script opens it: the reads pull the
// data, the receive thread only announces it.
void OpenForScript(TTarnSerialPort& port, const std::string& name) {
    port.SetAutoReceive(false);
    port.SetOnReceive([](TTarnSerialPort*, std::string) {});
    tarnterm::SelectPort(port, name);
    port.Open();
    ASSERT_NE(port.IsConnected(), spNone);
}

// Named for this run, so that suites run side by side do not share files.
std::filesystem::path TempPath(const std::string& name) {
    static const std::string run =
        std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
    return std::filesystem::temp_directory_path() / ("tarnterm_test_" + run + "_" + name);
}

std::string FileText(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

TEST(TarntermReader, SplitsLinesAtEveryEndingAndKeepsTheRest) {
    drv::VirtualPort device("TTREAD1");
    TTarnSerialPort port;
    OpenForScript(port, device.Name());
    ReceiveReader reader(port);
    device.Inject("one\r\ntwo\rthree\n\r\nxOKy");
    std::string line;
    for (const char* expected : {"one", "two", "three", ""}) {
        ASSERT_EQ(reader.ReadLine(line, kLongDeadline()), Result::kDone);
        EXPECT_EQ(line, expected);
    }
    EXPECT_EQ(reader.Expect("OK", kLongDeadline()), Result::kDone);
    // "y" is no line; the wait ends at its deadline.
    EXPECT_EQ(reader.ReadLine(line, ReceiveReader::Clock::now() + 50ms), Result::kTimeout);
    device.Inject("\n");
    ASSERT_EQ(reader.ReadLine(line, kLongDeadline()), Result::kDone);
    EXPECT_EQ(line, "y");
    // A CR at the end of one read and its LF in the next make one ending.
    device.Inject("a\r");
    ASSERT_EQ(reader.ReadLine(line, kLongDeadline()), Result::kDone);
    device.Inject("\nb\n");
    ASSERT_EQ(reader.ReadLine(line, kLongDeadline()), Result::kDone);
    EXPECT_EQ(line, "b");
}

TEST(TarntermReader, ExpectFindsTextThatArrivesInPieces) {
    drv::VirtualPort device("TTREAD2");
    TTarnSerialPort port;
    OpenForScript(port, device.Name());
    ReceiveReader reader(port);
    device.Inject("noise READ");
    // The rest follows once the first piece has been read.
    std::thread sender([&] {
        const auto deadline = std::chrono::steady_clock::now() + tarn::test::kEventLimit;
        while (device.InputQueued() > 0 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(1ms);
        }
        device.Inject("Y>");
    });
    EXPECT_EQ(reader.Expect("READY>", kLongDeadline()), Result::kDone);
    sender.join();
}

TEST(TarntermReader, ReportsAPortThatGoesWhileWaiting) {
    drv::VirtualPort device("TTREAD3");
    TTarnSerialPort port;
    OpenForScript(port, device.Name());
    ReceiveReader reader(port);
    device.Remove();
    std::string line;
    EXPECT_EQ(reader.ReadLine(line, kLongDeadline()), Result::kLost);
}

// A device that keeps sending neither holds a wait past its time-out nor
// makes --read-line keep a line past its bound.
TEST(TarntermReader, AWaitEndsWhateverKeepsArriving) {
    drv::VirtualPort device("TTFLOOD1");
    TTarnSerialPort port;
    OpenForScript(port, device.Name());
    const struct {
        const char* step;
        const char* timeout;
        const char* says;
    } cases[] = {
        {"--expect=NEVER", "0.3", "TTFLOOD1 within 0.3 s; the last 64 of "},
        {"--read-line", "30", "TTFLOOD1 is longer than 64 KiB, the longest --read-line takes;"},
    };
    for (const auto& c : cases) {
        const auto parsed =
            tarnterm::ParseCommandLine({device.Name(), c.step, "--timeout", c.timeout});
        // A wait that ignored its deadline or its bound would never end
        // here; the test watchdog then names the test.
        device.KeepSending(std::string(4096, 'x'));
        FakeConsole console;
        EXPECT_EQ(tarnterm::RunScript(port, parsed.options, device.Name(), console),
                  tarnterm::kExitTimeout);
        EXPECT_NE(console.Err().find(c.says), std::string::npos) << console.Err();
    }
}

TEST(TarntermScript, StepsAgainstTheDemoInstrument) {
    FakeConsole console;
    EXPECT_EQ(tarnterm::RunProgram({"--demo", "--send", "*IDN?\\r", "--read-line", "--send",
                                    "MEAS?\\n", "--expect", " C\\r\\n", "--timeout", "30"},
                                   console),
              tarnterm::kExitOk)
        << console.Err();
    EXPECT_EQ(console.Out(), std::string(tarnterm::DemoInstrument::kIdentity) + "\n");
    EXPECT_EQ(console.Err(), "");

    FakeConsole late;
    EXPECT_EQ(tarnterm::RunProgram({"--demo", "--expect", "NEVER\\r", "--timeout", "0.2"}, late),
              tarnterm::kExitTimeout);
    EXPECT_EQ(late.Err(),
              "tarnterm: no 'NEVER<CR>' from TARNDEMO within 0.2 s, and nothing arrived; a "
              "longer --timeout may help\n");
}

// A wait that times out tells what did arrive: the last bytes, or with
// --verbose all of them, control characters named so that it stays one line.
TEST(TarntermScript, ATimeOutShowsWhatArrived) {
    drv::VirtualPort device("TTLATE1");
    TTarnSerialPort port;
    OpenForScript(port, device.Name());
    const std::string tail(64, 'x');
    const struct {
        std::vector<std::string> args;
        std::string inject;
        std::string says;
    } cases[] = {
        {{"--expect", "OK"},
         "",
         "no 'OK' from TTLATE1 within 0.2 s, and nothing arrived; a longer"},
        {{"--read-line"},
         "ERR\t7",
         "no complete line from TTLATE1 within 0.2 s; received 'ERR<TAB>7'"},
        {{"--expect", "OK"},
         "noise\r\n" + tail,
         "; the last 64 of 71 bytes received: '" + tail + "'"},
        {{"--expect", "OK", "--verbose"},
         "noise\r\n" + tail,
         "; received 'noise<CR><LF>" + tail + "'"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {device.Name(), "--timeout", "0.2"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const auto parsed = tarnterm::ParseCommandLine(args);
        ASSERT_TRUE(parsed.ok) << parsed.error;
        device.Inject(c.inject);
        FakeConsole console;
        EXPECT_EQ(tarnterm::RunScript(port, parsed.options, device.Name(), console),
                  tarnterm::kExitTimeout);
        const std::string err = console.Err();
        EXPECT_NE(err.find(c.says), std::string::npos) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    }
}

// With --reconnect a script waits within --timeout for a port that is not
// there yet, or a server that does not answer yet, says so once, and runs.
TEST(TarntermScript, ReconnectWaitsForThePortWithinTheTimeOut) {
    FakeConsole console;
    std::unique_ptr<drv::VirtualPort> device;
    std::thread plugger([&] {
        const auto limit = std::chrono::steady_clock::now() + tarn::test::kEventLimit;
        while (console.Err().empty() && std::chrono::steady_clock::now() < limit) {
            std::this_thread::sleep_for(5ms);
        }
        device = std::make_unique<drv::VirtualPort>("TTLATER1");
    });
    EXPECT_EQ(tarnterm::RunProgram({"TTLATER1", "--reconnect", "--send", "hi", "--timeout", "30"},
                                   console),
              tarnterm::kExitOk);
    plugger.join();
    EXPECT_EQ(device->TakeWritten(), "hi");
    EXPECT_EQ(console.Err(),
              "tarnterm: waiting for TTLATER1 to appear, for up to 30 s (--timeout)\n");
    // Nothing listens on a port that a listener had.
    const std::string remote =
        "socket://127.0.0.1:" + std::to_string(tarn::host::ListenTcp("127.0.0.1", 0)->Port());
    for (const auto& [name, says] :
         {std::pair<std::string, std::string>{"TTLATER2", " did not appear within 0.3 s;"},
          {remote, " did not answer within 0.3 s;"}}) {
        FakeConsole late;
        EXPECT_EQ(
            tarnterm::RunProgram({name, "--reconnect", "--send", "x", "--timeout", "0.3"}, late),
            tarnterm::kExitNoSuchPort);
        EXPECT_NE(late.Err().find("\ntarnterm: " + name + says), std::string::npos) << late.Err();
    }
}

TEST(TarntermScript, SendsFilesAndTextWholeWithProgressOnATerminal) {
    drv::VirtualPort device("TTSEND1");
    const std::filesystem::path path = TempPath("send.bin");
    std::string content;
    for (int i = 0; i < 5000; ++i) content += static_cast<char>(i * 7);
    std::ofstream(path, std::ios::binary) << content;

    TTarnSerialPort port;
    OpenForScript(port, device.Name());
    tarnterm::Options options;
    options.line.baud = 9600;  // 96-byte writes
    options.steps = {{tarnterm::Step::Kind::kSend, std::string("a\0b", 3)},
                     {tarnterm::Step::Kind::kSendFile, path.u8string()}};
    FakeConsole console(false, true);
    EXPECT_EQ(tarnterm::RunScript(port, options, device.Name(), console), tarnterm::kExitOk);
    EXPECT_EQ(device.TakeWritten(), std::string("a\0b", 3) + content);
    const std::string progress = console.Err();
    EXPECT_NE(progress.find("\r[########################] 100%  4.9 KiB of 4.9 KiB"),
              std::string::npos)
        << progress;
    EXPECT_EQ(progress.back(), '\n');

    // Without a terminal on standard error nothing is drawn; a device that
    // takes nothing makes the step fail.
    device.LimitNextWrite(0);
    FakeConsole quiet;
    EXPECT_EQ(tarnterm::RunScript(port, options, device.Name(), quiet), tarnterm::kExitOk);
    EXPECT_EQ(quiet.Err(), "");
    port.Close();
    EXPECT_EQ(tarnterm::RunScript(port, options, device.Name(), quiet), tarnterm::kExitFailure);
    EXPECT_NE(quiet.Err().find("sent 0 of 3 bytes to TTSEND1"), std::string::npos);
    std::filesystem::remove(path);
}

// Text and files alike: a send is done when its bytes have left the port,
// not when the driver has taken them.
TEST(TarntermScript, ASendWhoseBytesStayQueuedFailsWithItsOwnStatus) {
    drv::VirtualPort device("TTSEND2");
    const std::filesystem::path path = TempPath("held.bin");
    std::ofstream(path, std::ios::binary) << std::string(500, 'h');
    TTarnSerialPort port;
    OpenForScript(port, device.Name());
    device.HoldOutput(true);
    for (const tarnterm::Step& step :
         {tarnterm::Step{tarnterm::Step::Kind::kSend, "text"},
          tarnterm::Step{tarnterm::Step::Kind::kSendFile, path.u8string()}}) {
        tarnterm::Options options;
        options.line.baud = 9600;
        options.steps = {step};
        FakeConsole console(false, true);
        EXPECT_EQ(tarnterm::RunScript(port, options, device.Name(), console),
                  tarnterm::kExitNotDrained)
            << step.text;
        // The bar never claims what has not left.
        EXPECT_EQ(console.Err().find("100%"), std::string::npos) << console.Err();
        EXPECT_NE(console.Err().find("tarnterm: the last bytes sent did not leave TTSEND2 in time"),
                  std::string::npos)
            << console.Err();
    }
    std::filesystem::remove(path);
}

// A write to a device that takes nothing waits out tarnterm's own write
// time-out (half a second for one write at this rate), not the component's
// of a tenth of a second a byte (27 s), so that a stop signal ends the step
// soon: a frame as well, which goes out in the same pieces.
TEST(TarntermScript, AStopSignalEndsASendThatTheDeviceDoesNotTake) {
    for (const tarnterm::Step::Kind kind :
         {tarnterm::Step::Kind::kSend, tarnterm::Step::Kind::kSendFrame}) {
        drv::VirtualPort device("TTSEND3");
        TTarnSerialPort port;
        tarnterm::Options options;
        options.line.baud = 115200;  // 256-byte writes
        tarnterm::ApplyLineSettings(port, options.line);
        port.SetFraming(frCobs);
        OpenForScript(port, device.Name());
        device.HoldWrites(true);
        options.steps = {{kind, std::string(60000, 's')}};
        FakeConsole console;
        std::atomic<std::chrono::steady_clock::rep> stoppedAt{0};
        std::thread stopper([&] {
            EXPECT_TRUE(device.WaitHeldWrites(1, tarn::test::kEventLimit));
            stoppedAt = std::chrono::steady_clock::now().time_since_epoch().count();
            console.SignalNow(SIGTERM);
        });
        EXPECT_EQ(tarnterm::RunScript(port, options, device.Name(), console),
                  tarnterm::kExitSignalBase + SIGTERM)
            << console.Err();
        const auto returnedAt = std::chrono::steady_clock::now();
        stopper.join();
        EXPECT_LT(returnedAt - std::chrono::steady_clock::time_point(
                                   std::chrono::steady_clock::duration(stoppedAt.load())),
                  20s);
        device.HoldWrites(false);
    }
}

// A frame that the device took only part of is a failed send, and says
// what the other end now holds.
TEST(TarntermScript, AFrameCutShortFailsTheSend) {
    drv::VirtualPort device("TTSEND4");
    TTarnSerialPort port;
    tarnterm::Options options;
    options.line.baud = 115200;
    tarnterm::ApplyLineSettings(port, options.line);
    port.SetFraming(frCobs);
    OpenForScript(port, device.Name());
    device.HoldWrites(true);
    options.steps = {{tarnterm::Step::Kind::kSendFrame, std::string(2000, 'f')}};
    FakeConsole console;
    EXPECT_EQ(tarnterm::RunScript(port, options, device.Name(), console), tarnterm::kExitFailure);
    EXPECT_NE(console.Err().find("the device holds a broken frame"), std::string::npos)
        << console.Err();
    device.HoldWrites(false);
}

TEST(TarntermScript, TrafficLogWithAndWithoutStamps) {
    const std::filesystem::path plain = TempPath("plain.log");
    const std::filesystem::path stamped = TempPath("stamped.log");
    std::filesystem::remove(plain);
    std::filesystem::remove(stamped);
    const std::string answer = std::string(tarnterm::DemoInstrument::kIdentity) + "\r\n";
    for (const auto* path : {&plain, &stamped}) {
        std::vector<std::string> args = {
            "--demo", "--log",    path->u8string(), "--send",    "*IDN?\\r", "--read-line",
            "--send", "*IDN?\\r", "--read-line",    "--timeout", "30"};
        if (path == &stamped) args.push_back("--timestamps");
        FakeConsole console;
        ASSERT_EQ(tarnterm::RunProgram(args, console), tarnterm::kExitOk) << console.Err();
    }
    EXPECT_EQ(FileText(plain), answer + answer);
    // Each line stamped once, to the millisecond, and kept as it came: no
    // line break of the log's own.
    const std::string stamp = R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}\] )";
    const std::string line = stamp + std::string(tarnterm::DemoInstrument::kIdentity) + "\r\n";
    EXPECT_TRUE(std::regex_match(FileText(stamped), std::regex(line + line))) << FileText(stamped);
    std::filesystem::remove(plain);
    std::filesystem::remove(stamped);
}

// A session of the demo, recorded and then replayed as a port, gives the
// same transcript; the recording checks as consistent.
TEST(TarntermScript, ReplaysTheRecordedDemoAsItWas) {
    const std::filesystem::path path = TempPath("session.jsonl");
    const std::vector<std::string> steps = {
        "--send", "*IDN?\\r",      "--read-line", "--send",   "MEAS?\\r",    "--read-line",
        "--send", "STREAM ON\\r",  "--expect",    "OK\\r\\n", "--read-line", "--read-line",
        "--send", "STREAM OFF\\r", "--expect",    "OK\\r\\n", "--timeout",   "30"};
    const auto run = [&steps](std::vector<std::string> args, FakeConsole& console) {
        args.insert(args.end(), steps.begin(), steps.end());
        return tarnterm::RunProgram(args, console);
    };
    FakeConsole recorded;
    ASSERT_EQ(run({"--demo", "--record", path.u8string()}, recorded), tarnterm::kExitOk)
        << recorded.Err();
    const std::string text = FileText(path);
    EXPECT_EQ(text.rfind(R"({"format":"tarn-recording","version":1,"port":"TARNDEMO"})"
                         "\n",
                         0),
              0u)
        << text;
    // What was read, in as many pieces as the reads took, after what was
    // sent.
    const std::size_t sent = text.find(R"("ev":"tx","data":"*IDN?\r"})");
    ASSERT_NE(sent, std::string::npos) << text;
    EXPECT_NE(text.find(std::string(tarnterm::DemoInstrument::kIdentity).substr(0, 8), sent),
              std::string::npos)
        << text;

    FakeConsole replayed;
    ASSERT_EQ(run({"replay://" + path.u8string()}, replayed), tarnterm::kExitOk) << replayed.Err();
    EXPECT_EQ(replayed.Out(), recorded.Out());
    EXPECT_NE(recorded.Out().find(tarnterm::DemoInstrument::kIdentity), std::string::npos);

    FakeConsole checked;
    EXPECT_EQ(tarnterm::RunProgram({"--replay-check", path.u8string()}, checked), tarnterm::kExitOk)
        << checked.Err() << checked.Out();
    std::filesystem::remove(path);
}

TEST(TarntermOpen, SaysWhyAPortDidNotOpen) {
    const tarnterm::LineSettings line;
    drv::VirtualPort device("TTOPEN1");
    TTarnSerialPort holder;
    tarnterm::SelectPort(holder, device.Name());
    holder.Open();

    TTarnSerialPort port;
    tarnterm::SelectPort(port, device.Name());
    tarnterm::OpenOutcome outcome = tarnterm::OpenPort(port, device.Name(), line);
    EXPECT_EQ(outcome.status, tarnterm::kExitPortBusy);
    EXPECT_NE(outcome.message.find("TTOPEN1 is busy"), std::string::npos);
    holder.Close();

    device.RefuseNextCommState();
    outcome = tarnterm::OpenPort(port, device.Name(), line);
    EXPECT_EQ(outcome.status, tarnterm::kExitOpenFailed);
    EXPECT_NE(outcome.message.find("refused the line settings 115200 8N1"), std::string::npos);

    device.RefuseOpens(drv::ERROR_GEN_FAILURE);
    outcome = tarnterm::OpenPort(port, device.Name(), line);
    EXPECT_EQ(outcome.status, tarnterm::kExitOpenFailed);
    EXPECT_NE(outcome.message.find("Cannot connect to TTOPEN1."), std::string::npos);
    EXPECT_NE(outcome.message.find(". Check the device and try again."), std::string::npos);
    device.RefuseOpens(drv::ERROR_SUCCESS);

    tarnterm::SelectPort(port, "TTNOSUCHPORT");
    outcome = tarnterm::OpenPort(port, "TTNOSUCHPORT", line);
    EXPECT_EQ(outcome.status, tarnterm::kExitNoSuchPort);
    EXPECT_NE(outcome.message.find("does not exist; tarnterm --list"), std::string::npos);

    // A file that is there but not found as a port is no serial device.
    const std::filesystem::path file = TempPath("not-a-port.txt");
    std::ofstream(file) << "text";
    outcome = tarnterm::ExplainOpenFailure(file.u8string(), drv::ERROR_FILE_NOT_FOUND,
                                           "Cannot connect to x.", line);
    EXPECT_EQ(outcome.status, tarnterm::kExitNotSerial);
    EXPECT_NE(outcome.message.find("is not a serial port"), std::string::npos);
    std::filesystem::remove(file);
    // Nor is a folder, which Windows refuses as if it were busy.
    outcome = tarnterm::ExplainOpenFailure(std::filesystem::temp_directory_path().u8string(),
                                           drv::ERROR_ACCESS_DENIED, "Cannot connect to x.", line);
    EXPECT_EQ(outcome.status, tarnterm::kExitNotSerial);
    // A refusal in words says what to try; the hint about the device would
    // send the user the wrong way.
    const std::string words = "Cannot replay gone.jsonl: there is no such file.";
    outcome = tarnterm::ExplainOpenFailure("replay://gone.jsonl",
                                           tarn::host::kDescribedErrorBit | 1u, words, line);
    EXPECT_EQ(outcome.status, tarnterm::kExitOpenFailed);
    EXPECT_EQ(outcome.message, words);
}

TEST(TarntermProgram, ListsThePortsForPeopleAndScripts) {
    drv::VirtualPort device("TTLIST1", {"Bench meter", "403", "6001", "TL1", "Tarnwerk", "Meter"});
    FakeConsole text;
    ASSERT_EQ(tarnterm::RunProgram({"--list"}, text), tarnterm::kExitOk);
    const std::string out = text.Out();
    EXPECT_EQ(out.rfind("NAME ", 0), 0u) << out;
    const std::size_t at = out.find("TTLIST1 ");
    ASSERT_NE(at, std::string::npos) << out;
    const std::string row = out.substr(at, out.find('\n', at) - at);
    for (const char* field : {"\\\\.\\TTLIST1", "Bench meter", "0403:6001", "TL1"}) {
        EXPECT_NE(row.find(field), std::string::npos) << field << " in " << row;
    }

    FakeConsole json;
    ASSERT_EQ(tarnterm::RunProgram({"--list", "--json"}, json), tarnterm::kExitOk);
    EXPECT_NE(json.Out().find("{\"name\": \"TTLIST1\", \"identifier\": \"spCustom\""),
              std::string::npos);
    EXPECT_NE(json.Out().find("\"kind\": \"virtual\", \"vendorId\": \"0403\", \"productId\": "
                              "\"6001\", \"serialNumber\": \"TL1\", \"manufacturer\": "
                              "\"Tarnwerk\", \"product\": \"Meter\""),
              std::string::npos)
        << json.Out();
    EXPECT_EQ(json.Out().front(), '[');
}

// A port that comes prints a line with what is known of it, one that goes
// a line with its name; q ends the watch.
TEST(TarntermProgram, WatchPrintsPortsAsTheyComeAndGo) {
    FakeConsole console(true);
    console.TypeAfter("- TTWATCH1", "q");
    std::thread plugger([&] {
        // Off the main thread, so without serving its queue.
        auto shows = [&](const char* text) {
            const auto deadline = std::chrono::steady_clock::now() + tarn::test::kEventLimit;
            while ((console.Out() + console.Err()).find(text) == std::string::npos) {
                if (std::chrono::steady_clock::now() > deadline) return false;
                std::this_thread::sleep_for(5ms);
            }
            return true;
        };
        if (!shows("watching the ports")) return;
        drv::VirtualPortDetails details;
        details.description = "Bench meter";
        details.vendorId = "403";
        details.productId = "6001";
        details.serialNumber = "W1";
        auto device = std::make_unique<drv::VirtualPort>("TTWATCH1", details);
        if (shows("+ TTWATCH1")) device.reset();
    });
    EXPECT_EQ(tarnterm::RunProgram({"--watch"}, console), tarnterm::kExitOk);
    plugger.join();
    EXPECT_FALSE(console.GaveUp()) << console.Out();
    EXPECT_NE(console.Out().find("+ TTWATCH1  Bench meter  0403:6001  W1\n- TTWATCH1\n"),
              std::string::npos)
        << console.Out();
    EXPECT_FALSE(console.Raw());
}

TEST(TarntermProgram, RefusesWhatCannotWorkWithOneLineAndStatus2) {
    const std::string missingFolder = TempPath("no-such-folder/x.log").u8string();
    drv::VirtualPort device("TTREFUSE1");
    const std::vector<std::string> cases[] = {
        {"COM1", "--parity", "x"},
        {device.Name()},  // interactive, but no terminal to type on
        {"TTNOPORT", "--send-file", TempPath("no-such-file").u8string()},
        // A folder opens as a file on some systems, and fails only when read.
        {device.Name(), "--send-file", std::filesystem::temp_directory_path().u8string()},
        {"--demo", "--log", missingFolder, "--send", "x"},
        {"--demo", "--plot-out", missingFolder, "--send", "x"},
        {"--demo", "--record", missingFolder, "--send", "x"},
    };
    for (const auto& args : cases) {
        FakeConsole console;
        EXPECT_EQ(tarnterm::RunProgram(args, console), tarnterm::kExitUsage) << args[0];
        const std::string err = console.Err();
        EXPECT_EQ(err.rfind("tarnterm: ", 0), 0u) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        EXPECT_EQ(console.Out(), "");
    }
    // A port that is not there is the first thing to fix, before the
    // terminal.
    FakeConsole console;
    EXPECT_EQ(tarnterm::RunProgram({"TTNOPORT"}, console), tarnterm::kExitNoSuchPort);
    EXPECT_EQ(console.Err().rfind("tarnterm: TTNOPORT does not exist;", 0), 0u) << console.Err();
}

}  // namespace
