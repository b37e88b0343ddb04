// The demo instrument served in-process: the component opens
// rfc2217://127.0.0.1:N that the server offers for it, and sees the
// instrument's answers and lines, one client at a time, and an unplugged
// instrument as a port that went away.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "Tarnserialport.h"
#include "connection.h"
#include "demo_instrument.h"
#include "exit_status.h"
#include "fake_console.h"
#include "host_socket.h"
#include "platform/driver/remote/served_client.h"
#include "port_server.h"
#include "program.h"
#include "serial_driver.h"
#include "serialport/component_test_support.h"
#include "virtual_port.h"

namespace {

namespace drv = tarn::driver;
using namespace std::chrono_literals;
using tarn::driver::remote::PortServer;
using tarn::test::Client;
using tarn::test::UrlOf;
using tarn::test::WaitUntil;

const std::string kIdentityLine = std::string(tarnterm::DemoInstrument::kIdentity) + "\r\n";

std::string Repeated(const std::string& text, int times) {
    std::string all;
    while (times-- > 0) all += text;
    return all;
}

TEST(DemoServing, ServesTheInstrumentToOneClientAtATimeUntilItIsUnplugged) {
    tarnterm::DemoInstrument instrument("TTDEMOSRV1", 10ms);
    const auto server = PortServer::Start(instrument.PortName(), "127.0.0.1", 0);
    ASSERT_TRUE(server);
    const std::string identity = std::string(tarnterm::DemoInstrument::kIdentity) + "\r\n";
    {
        Client first(UrlOf(*server));
        first.port.Open();
        ASSERT_EQ(first.port.IsConnected(), spCustom);
        // The lines are told at the start: the instrument's answer to DTR
        // and RTS, which the opening raised.
        EXPECT_TRUE(first.LinesAre({lsCTS, lsDSR}));
        EXPECT_TRUE(first.Answers("*IDN?\r", identity));
        EXPECT_TRUE(first.port.SetDTR(false));
        EXPECT_TRUE(first.LinesAre({lsCTS}));
        EXPECT_FALSE(first.port.GetDSR());

        // Served already: a second client is turned away.
        Client second(UrlOf(*server));
        const tarnterm::OpenOutcome turnedAway =
            tarnterm::OpenPort(second.port, UrlOf(*server), tarnterm::LineSettings());
        EXPECT_EQ(turnedAway.status, tarnterm::kExitPortBusy) << turnedAway.message;
        EXPECT_TRUE(server->Serving());
    }
    // The first has gone: the next one is served, by an instrument fresh
    // from power-up.
    ASSERT_TRUE(WaitUntil([&] { return !server->Serving(); }));
    Client next(UrlOf(*server));
    next.port.Open();
    EXPECT_TRUE(next.LinesAre({lsCTS, lsDSR}));
    EXPECT_TRUE(next.Answers("STREAM ON\r", " C\r\n"));
    EXPECT_TRUE(next.LinesAre({lsCTS, lsDSR, lsDCD}));

    instrument.Unplug();
    EXPECT_TRUE(WaitUntil([&] { return next.port.IsConnected() == spNone; }));
    EXPECT_TRUE(next.port.GetIsFaulted());
    ASSERT_TRUE(WaitUntil([&] { return !server->Serving(); }));
    EXPECT_THROW(next.port.Open(), ETarnSerialPortException);
    instrument.Plug();
    next.port.Open();
    EXPECT_TRUE(next.Answers("*IDN?\r", identity));
}

TEST(DemoServing, HoldsBackAClientThatDoesNotReadAndServesTheNextAfresh) {
    tarnterm::DemoInstrument instrument("TTDEMOSRV3", 10ms);
    const auto server = PortServer::Start(instrument.PortName(), "127.0.0.1", 0);
    ASSERT_TRUE(server);
    {
        const auto hog = tarn::host::ConnectTcp("127.0.0.1", server->Port(), 5000);
        ASSERT_TRUE(hog);
        const std::string commands = Repeated("*IDN?\r", 1000);
        std::thread sender([&] {
            while (hog->SendAll(commands.data(), commands.size())) continue;
        });
        // Its answers fill the port's input queue to its size and no further.
        EXPECT_TRUE(
            WaitUntil([&] { return instrument.Port().InputQueued() == drv::kDefaultInputQueue; }));
        hog->Cancel();
        sender.join();
    }
    ASSERT_TRUE(WaitUntil([&] { return !server->Serving(); }));
    Client next(UrlOf(*server));
    next.port.Open();
    EXPECT_TRUE(next.Answers("*IDN?\r", kIdentityLine));
    EXPECT_EQ(next.received, kIdentityLine) << "what the hog left reached the next client";
}

// Over the driver's handles, so that the test orders what the instrument sees.
TEST(DemoInstrument, MeetsEachOpeningFreshAndKeepsAnswersThatTheHostHasNoRoomFor) {
    tarnterm::DemoInstrument instrument("TTDEMOINST1", 10ms);
    auto open = [&] { return drv::CreateFileA("\\\\.\\" + instrument.PortName()); };
    auto write = [](drv::HANDLE h, const std::string& bytes) {
        std::uint32_t n = 0;
        EXPECT_TRUE(drv::WriteFile(h, bytes.data(), static_cast<std::uint32_t>(bytes.size()), &n));
    };
    auto read = [](drv::HANDLE h, std::size_t count) {
        std::string got(count, '\0');
        std::size_t at = 0;
        WaitUntil([&] {
            std::uint32_t n = 0;
            drv::ReadFile(h, &got[at], static_cast<std::uint32_t>(count - at), &n);
            return (at += n) == count;
        });
        return got.substr(0, at);
    };
    // The last opening's unfinished line still waits when the next one's
    // command comes.
    const std::string garbage(64 * 1024, 'P');
    instrument.Pause(true);
    drv::HANDLE last = open();
    write(last, garbage);
    drv::CloseHandle(last);
    drv::HANDLE h = open();
    write(h, "*IDN?\r");
    instrument.Pause(false);
    EXPECT_EQ(read(h, kIdentityLine.size()), kIdentityLine);
    // An overlong line is answered at once and dropped up to its end.
    const std::string tooLong = "ERR command longer than 256 characters; try HELP\r\n";
    write(h, garbage + "\n*IDN?\r");
    EXPECT_EQ(read(h, tooLong.size() + kIdentityLine.size()), tooLong + kIdentityLine);

    // Answers that the host has no room for wait, and hold its output.
    write(h, Repeated("*IDN?\r", 500));
    drv::COMSTAT stat{};
    ASSERT_TRUE(WaitUntil([&] {
        return drv::ClearCommError(h, nullptr, &stat) && stat.cbInQue == drv::kDefaultInputQueue;
    }));
    write(h, "MEAS?\r");
    ASSERT_TRUE(drv::ClearCommError(h, nullptr, &stat));
    EXPECT_EQ(stat.cbOutQue, 6u);
    const std::string answers = Repeated(kIdentityLine, 500) + "+21.30 C\r\n";
    EXPECT_EQ(read(h, answers.size()), answers) << "an answer was lost";
    drv::CloseHandle(h);
}

TEST(DemoServing, ServingSaysWhereAndAPortInUseOrSilentSaysWhyNot) {
    auto taken = tarn::host::ListenTcp("127.0.0.1", 0);
    ASSERT_TRUE(taken);
    const std::string where = "127.0.0.1:" + std::to_string(taken->Port());
    tarn::test::FakeConsole busy(true);
    EXPECT_EQ(tarnterm::RunProgram({"--demo", "--serve", where}, busy), tarnterm::kExitPortBusy);
    EXPECT_EQ(busy.Err(), "tarnterm: " + where +
                              " is in use; serve on another port, or on 0 for any free one\n");
    // Where nothing listens, a remote port is one that is not there (yet).
    taken.reset();
    tarn::test::FakeConsole refused;
    EXPECT_EQ(tarnterm::RunProgram({"rfc2217://" + where, "--send", "x"}, refused),
              tarnterm::kExitNoSuchPort);
    EXPECT_EQ(refused.Err().rfind("tarnterm: rfc2217://" + where + " does not answer (", 0), 0u)
        << refused.Err();

    // Ctrl-C typed once the line is there ends it.
    tarn::test::FakeConsole console(true);
    console.TypeAfter("; Ctrl-C ends\n", "\x03");
    EXPECT_EQ(tarnterm::RunProgram({"--demo", "--serve", "0"}, console), tarnterm::kExitOk);
    EXPECT_FALSE(console.GaveUp());
    EXPECT_EQ(console.Out().rfind("serving the demo instrument on rfc2217://127.0.0.1:", 0), 0u)
        << console.Out();
}

}  // namespace
