// Reception by the receive thread: chunks with AutoReceive on, the
// announcements with it off, line changes, both ways of delivering events,
// and handlers that throw.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "Tarnserialport.h"
#include "component_test_support.h"
#include "host_synchronize.h"
#include "serial_port_test_access.h"
#include "test_line.h"
#include "virtual_port.h"

namespace {

namespace drv = tarn::driver;
using Access = TTarnSerialPortTestAccess;
using tarn::test::LineKind;
using tarn::test::SelectPort;
using tarn::test::WaitUntil;
using namespace std::chrono_literals;

// Collects what OnReceive delivers; safe for handlers on any thread.
struct Received {
    std::mutex mutex;
    std::vector<std::string> chunks;
    std::vector<bool> onMainThread;

    void Attach(TTarnSerialPort& port) {
        port.SetOnReceive([this](TTarnSerialPort*, std::string buffer) {
            std::lock_guard<std::mutex> lock(mutex);
            chunks.push_back(std::move(buffer));
            onMainThread.push_back(tarn::host::IsMainThread());
        });
    }
    std::size_t Count() {
        std::lock_guard<std::mutex> lock(mutex);
        return chunks.size();
    }
    std::string Chunk(std::size_t i) {
        std::lock_guard<std::mutex> lock(mutex);
        return chunks.at(i);
    }
    std::string Joined() {
        std::lock_guard<std::mutex> lock(mutex);
        std::string all;
        for (const std::string& chunk : chunks) all += chunk;
        return all;
    }
};

class Reception : public ::testing::TestWithParam<tarn::test::ReceiveMode> {
protected:
    void SetUp() override { tarn::test::ApplyReceiveMode(port, GetParam()); }

    void OpenPort() {
        SelectPort(port, device.Name());
        port.Open();
        ASSERT_EQ(port.IsConnected(), spCustom);
    }

    // Lets `cycles` poll cycles pass, serving the event queue meanwhile.
    void LetCyclesPass(int cycles) {
        const std::uint64_t target = device.QueueQueries() + static_cast<std::uint64_t>(cycles);
        ASSERT_TRUE(WaitUntil([&] { return device.QueueQueries() >= target; }));
    }

    drv::VirtualPort device{"VRECV1"};
    TTarnSerialPort port;
    Received received;
};

TEST_P(Reception, BytesArrivingTogetherComeAsOneChunk) {
    received.Attach(port);
    port.SetDelay(20);
    OpenPort();
    device.Inject("0123456789");
    ASSERT_TRUE(WaitUntil([&] { return received.Count() == 1; }));
    EXPECT_EQ(received.Chunk(0), "0123456789");
    EXPECT_TRUE(received.onMainThread[0]);
    EXPECT_EQ(Access::RawReadBuffer(port), "0123456789");
    EXPECT_EQ(Access::RawEntireBuffer(port), "") << "KeepEntireBuffer is off";
    LetCyclesPass(3);
    EXPECT_EQ(received.Count(), 1u);
}

TEST_P(Reception, KeptHistoryGrowsAndEmptiesOnReopen) {
    received.Attach(port);
    port.SetDelay(20);
    port.SetKeepEntireBuffer(true);
    OpenPort();
    device.Inject("ab");
    ASSERT_TRUE(WaitUntil([&] { return received.Count() == 1; }));
    device.Inject("cd");
    ASSERT_TRUE(WaitUntil([&] { return received.Count() == 2; }));
    EXPECT_EQ(Access::RawEntireBuffer(port), "abcd");
    port.Close();
    EXPECT_EQ(Access::RawEntireBuffer(port), "abcd") << "a close alone keeps it";
    EXPECT_EQ(Access::RawReadBuffer(port), "cd");
    port.Open();
    EXPECT_EQ(Access::RawEntireBuffer(port), "");
    EXPECT_EQ(Access::RawReadBuffer(port), "cd") << "the last chunk stays";
}

TEST_P(Reception, HandlerKeepsItsOwnBuffer) {
    std::vector<std::string> kept;
    port.SetOnReceive([&](TTarnSerialPort*, std::string buffer) { kept.push_back(buffer); });
    port.SetDelay(20);
    OpenPort();
    device.Inject("first");
    ASSERT_TRUE(WaitUntil([&] { return kept.size() == 1; }));
    device.Inject("second");
    ASSERT_TRUE(WaitUntil([&] { return kept.size() == 2; }));
    EXPECT_EQ(kept[0], "first");
}

TEST_P(Reception, WithAutoReceiveOffNewBytesAreAnnouncedOnce) {
    received.Attach(port);
    port.SetDelay(20);
    port.SetAutoReceive(false);
    OpenPort();

    device.Inject("12345");
    ASSERT_TRUE(WaitUntil([&] { return received.Count() == 1; }));
    EXPECT_EQ(received.Chunk(0), "") << "an announcement carries no bytes";
    LetCyclesPass(3);
    EXPECT_EQ(received.Count(), 1u) << "waiting bytes are not announced again";

    device.Inject("678");
    ASSERT_TRUE(WaitUntil([&] { return received.Count() == 2; }));

    // The application reads all eight: the count of read bytes keeps them
    // from being announced again.
    ASSERT_TRUE(port.ClearInputBuffer());
    Access::AddReadBytes(port, 8);
    LetCyclesPass(3);
    EXPECT_EQ(received.Count(), 2u);

    device.Inject("9A");
    ASSERT_TRUE(WaitUntil([&] { return received.Count() == 3; }));
    EXPECT_EQ(device.InputQueued(), 2u) << "nothing was read by the thread";
}

TEST_P(Reception, WithoutSynchronizationHandlersRunOnTheReceiveThread) {
    received.Attach(port);
    port.SetNeedSynchronization(false);
    port.SetDelay(20);
    OpenPort();
    device.Inject("x");
    ASSERT_TRUE(WaitUntil([&] { return received.Count() == 1; }));
    EXPECT_FALSE(received.onMainThread[0]);
}

TEST_P(Reception, LineChangesAreReportedOncePerChange) {
    std::vector<std::uint8_t> changes;
    port.SetOnLineStatusChange(
        [&](TTarnSerialPort*, TLineStatusSet lines) { changes.push_back(lines.Bits()); });
    port.SetDelay(20);
    device.SetModemStatus(drv::MS_CTS_ON | drv::MS_DSR_ON);
    OpenPort();
    ASSERT_TRUE(WaitUntil([&] { return changes.size() == 1; }));
    EXPECT_EQ(changes[0], 0x03);
    LetCyclesPass(3);
    EXPECT_EQ(changes.size(), 1u);
    device.SetModemStatus(drv::MS_RING_ON | drv::MS_RLSD_ON);
    ASSERT_TRUE(WaitUntil([&] { return changes.size() == 2; }));
    EXPECT_EQ(changes[1], 0x0C);
}

TEST_P(Reception, ThrowingHandlersDoNotStopReception) {
    std::atomic<int> calls{0};
    port.SetOnReceive([&](TTarnSerialPort*, std::string) {
        ++calls;
        throw std::runtime_error("handler failed");
    });
    port.SetOnLineStatusChange(
        [](TTarnSerialPort*, TLineStatusSet) { throw std::runtime_error("lines failed"); });
    port.SetDelay(20);
    device.SetModemStatus(drv::MS_CTS_ON);
    OpenPort();
    device.Inject("a");
    ASSERT_TRUE(WaitUntil([&] { return calls == 1; }));
    device.Inject("b");
    ASSERT_TRUE(WaitUntil([&] { return calls == 2; }));
    EXPECT_EQ(port.IsConnected(), spCustom);
    EXPECT_FALSE(port.GetIsFaulted());
}

TEST_P(Reception, CloseFromInsideAHandlerReturnsAtOnce) {
    std::atomic<bool> closed{false};
    std::atomic<bool> disconnected{false};
    port.SetOnReceive([&](TTarnSerialPort* sender, std::string) {
        sender->Close();
        closed = true;
    });
    port.SetOnDisconnect([&](TTarnSerialPort*, TCommPort) { disconnected = true; });
    OpenPort();
    device.Inject("bye");
    // The handler's Close cannot wait for the thread that waits for it; if
    // it did, this would take its full five-second bound per close.
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(WaitUntil([&] { return closed.load(); }));
    ASSERT_TRUE(WaitUntil([&] { return port.IsConnected() == spNone; }));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 4s);
    EXPECT_TRUE(disconnected);
    EXPECT_TRUE(device.WaitOpen(false, tarn::test::kEventLimit));
}

TEST_P(Reception, TrafficLogGetsEveryChunk) {
    const std::string file = ::testing::TempDir() + "tarn_reception_log.txt";
    std::remove(file.c_str());
    received.Attach(port);
    port.SetDelay(20);
    port.SetLogFile(tarn::host::AnsiToUnicode(file));
    port.SetLogInput(true);
    OpenPort();
    device.Inject("AB");
    ASSERT_TRUE(WaitUntil([&] { return received.Count() == 1; }));
    device.Inject("CD");
    ASSERT_TRUE(WaitUntil([&] { return received.Count() == 2; }));
    port.Close();  // the log is written after each event; closing ends the last write
    std::FILE* f = std::fopen(file.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    char buf[16] = {};
    const std::size_t n = std::fread(buf, 1, sizeof buf, f);
    std::fclose(f);
    std::remove(file.c_str());
    EXPECT_EQ(std::string(buf, n), "ABCD");
}

INSTANTIATE_TEST_SUITE_P(Modes, Reception, tarn::test::kReceiveModes,
                         [](const auto& info) { return tarn::test::ReceiveModeName(info.param); });

// On every kind of line, in both receive modes: on Linux the thread that
// wakes on data sleeps in poll on a terminal, which the hang-up ends.
class LineReception : public ::testing::TestWithParam<tarn::test::LineAndMode> {
protected:
    void SetUp() override {
        std::string why;
        line = tarn::test::TestLine::Create(std::get<0>(GetParam()), "VRECV2", &why);
        ASSERT_NE(line, nullptr) << why;
        tarn::test::ApplyReceiveMode(port, std::get<1>(GetParam()));
        port.SetOnReceive([this](TTarnSerialPort*, std::string buffer) { received += buffer; });
        SelectPort(port, line->Name());
    }

    std::unique_ptr<tarn::test::TestLine> line;
    TTarnSerialPort port;
    std::string received;
};

TEST_P(LineReception, ReceivesWhatTheFarEndWritesAndNoticesRemoval) {
    std::vector<std::string> events;
    port.SetOnFault([&](TTarnSerialPort*, TCommPort) { events.push_back("fault"); });
    port.SetOnDisconnect([&](TTarnSerialPort*, TCommPort) { events.push_back("disconnect"); });
    port.SetBaudRate(br115200);
    port.Open();
    ASSERT_NE(port.IsConnected(), spNone);

    ASSERT_TRUE(line->Inject(std::string("hello\0world", 11)));
    ASSERT_TRUE(WaitUntil([&] { return received.size() >= 11; }));
    EXPECT_EQ(received, std::string("hello\0world", 11));
    // No false verdict of a vanished device while it is there.
    EXPECT_FALSE(port.GetIsFaulted());

    line->Remove();
    ASSERT_TRUE(WaitUntil([&] { return port.IsConnected() == spNone; }));
    EXPECT_TRUE(port.GetIsFaulted());
    EXPECT_EQ(events, (std::vector<std::string>{"fault", "disconnect"}));
}

TEST_P(LineReception, ReopensAfterClose) {
    for (int round = 0; round < 3; ++round) {
        port.Open();
        ASSERT_NE(port.IsConnected(), spNone) << round;
        const std::string text = "round " + std::to_string(round);
        received.clear();
        ASSERT_TRUE(line->Inject(text));
        ASSERT_TRUE(WaitUntil([&] { return received.size() >= text.size(); }));
        EXPECT_EQ(received, text);
        port.Close();
        EXPECT_EQ(port.IsConnected(), spNone);
    }
}

INSTANTIATE_TEST_SUITE_P(LinesAndModes, LineReception, tarn::test::kLinesAndModes,
                         tarn::test::LineAndModeName);

// Waking on data, with a poll period far beyond the test's bounds: every
// chunk comes all the same, and Close ends the thread's wait in the driver
// instead of waiting out the period.
class WakeOnData : public ::testing::TestWithParam<LineKind> {};

TEST_P(WakeOnData, EveryChunkComesAndCloseEndsTheWait) {
    std::string why;
    auto line = tarn::test::TestLine::Create(GetParam(), "VWAKE1", &why);
    ASSERT_NE(line, nullptr) << why;
    TTarnSerialPort port;
    Received received;
    received.Attach(port);
    std::atomic<int> disconnects{0};
    port.SetOnDisconnect([&](TTarnSerialPort*, TCommPort) { ++disconnects; });
    port.SetDelay(60000);
    port.SetWakeOnData(true);
    SelectPort(port, line->Name());
    port.Open();
    ASSERT_NE(port.IsConnected(), spNone);

    ASSERT_TRUE(line->Inject("first"));
    ASSERT_TRUE(WaitUntil([&] { return received.Joined() == "first"; }));
    // A polling thread would sleep out its minute now.
    ASSERT_TRUE(line->Inject("second"));
    ASSERT_TRUE(WaitUntil([&] { return received.Joined() == "firstsecond"; }));

    const auto start = std::chrono::steady_clock::now();
    port.Close();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 20s);
    EXPECT_EQ(port.IsConnected(), spNone);
    EXPECT_EQ(disconnects, 1);
}

INSTANTIATE_TEST_SUITE_P(Lines, WakeOnData, tarn::test::kLineKinds,
                         [](const auto& info) { return tarn::test::LineKindName(info.param); });

// Close wakes a thread that waits in the driver: with a minute's poll period
// it would otherwise wait out the minute.
TEST(WakeOnDataClose, EndsTheWaitInTheDriver) {
    drv::VirtualPort device("VWAKE3");
    TTarnSerialPort port;
    std::atomic<bool> chunk{false};
    port.SetOnReceive([&](TTarnSerialPort*, std::string) { chunk = true; });
    port.SetDelay(60000);
    port.SetWakeOnData(true);
    SelectPort(port, device.Name());
    port.Open();
    device.Inject("x");
    // After the chunk the thread goes straight back to its wait in the
    // driver; whether it waits already or is on its way there, the Close
    // must not leave it the minute.
    ASSERT_TRUE(WaitUntil([&] { return chunk.load(); }));

    const auto start = std::chrono::steady_clock::now();
    port.Close();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 20s);
    EXPECT_EQ(port.IsConnected(), spNone);
    EXPECT_FALSE(device.IsOpen());
}

// Bytes announced but not yet read do not end the thread's wait, or it
// would look at the queue without pause until they are read.
TEST(WakeOnDataAnnouncing, UnreadBytesDoNotKeepTheThreadBusy) {
    drv::VirtualPort device("VWAKE2");
    TTarnSerialPort port;
    Received received;
    received.Attach(port);
    port.SetDelay(60000);
    port.SetWakeOnData(true);
    port.SetAutoReceive(false);
    SelectPort(port, device.Name());
    port.Open();

    device.Inject("abc");
    ASSERT_TRUE(WaitUntil([&] { return received.Count() == 1; }));
    const std::uint64_t queries = device.QueueQueries();
    EXPECT_FALSE(WaitUntil([&] { return device.QueueQueries() > queries + 20; }, 500ms));
    EXPECT_EQ(port.ReadBuffer(), "abc");
    EXPECT_EQ(received.Count(), 1u);
}

// A driver whose waits also end when a modem line changes and when the
// device goes leaves the thread nothing to look for between two wakes: it
// sleeps past a short Delay instead of looking every millisecond, and a line
// change or a removal still comes at once with a Delay of a minute.
TEST(WakeOnDataQuiet, SleepsPastDelayAndStillSeesLinesAndRemoval) {
    drv::VirtualPort device("VWAKE4");
    device.WakeWaitsOnLineChanges(true);
    TTarnSerialPort port;
    std::vector<std::string> events;
    port.SetOnLineStatusChange([&](TTarnSerialPort*, TLineStatusSet lines) {
        events.push_back(lines.Contains(lsCTS) ? "CTS on" : "CTS off");
    });
    port.SetOnFault([&](TTarnSerialPort*, TCommPort) { events.push_back("fault"); });
    port.SetDelay(1);
    port.SetWakeOnData(true);
    SelectPort(port, device.Name());
    port.Open();
    // The opening cycle looks at both; the next look is a second away.
    ASSERT_TRUE(device.WaitQueueQueries(1, 10s));
    const std::uint64_t queries = device.QueueQueries();
    EXPECT_FALSE(WaitUntil([&] { return device.QueueQueries() > queries + 20; }, 300ms));

    port.SetDelay(60000);
    device.SetModemStatus(drv::MS_CTS_ON);
    ASSERT_TRUE(WaitUntil([&] { return events.size() == 1; }));
    device.Remove();
    ASSERT_TRUE(WaitUntil([&] { return port.IsConnected() == spNone; }));
    // A cycle that starts after the removal reads the lines of a device that
    // has gone, which read as all off, before it finds the port missing.
    if (events.size() == 3 && events[1] == "CTS off") events.erase(events.begin() + 1);
    EXPECT_EQ(events, (std::vector<std::string>{"CTS on", "fault"}));
}

}  // namespace
