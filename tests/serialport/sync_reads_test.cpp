// Synchronous reads with AutoReceive off: what each read returns and leaves
// behind, end sequences, the interplay with the receive thread's
// announcements, time-outs and their processor cost, the end of a wait when
// the port goes, and lines over a real terminal.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "Tarnserialport.h"
#include "component_test_support.h"
#include "cpu_time.h"
#include "host_stringlist.h"
#include "host_synchronize.h"
#include "pty_pair.h"
#include "serial_port_test_access.h"
#include "virtual_port.h"

namespace {

namespace drv = tarn::driver;
using Access = TTarnSerialPortTestAccess;
using Clock = std::chrono::steady_clock;
using tarn::host::AnsiToUnicode;
using tarn::test::SelectPort;
using tarn::test::WaitUntil;
using namespace std::chrono_literals;

// For threads other than the main one, which has no queue to serve: looks
// at `done()` every millisecond until it holds or the limit passes.
template <typename Done>
bool PollUntil(Done done) {
    const auto deadline = Clock::now() + tarn::test::kEventLimit;
    while (!done()) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// The result of a read that must have ended. One that still waits could
// never be joined, so the run stops here rather than hang.
std::string ResultOf(std::future<std::string>& read) {
    if (read.wait_for(tarn::test::kEventLimit) != std::future_status::ready) {
        ADD_FAILURE() << "the read still waits";
        std::fflush(nullptr);
        std::abort();
    }
    return read.get();
}

tarn::host::TStringList List(std::initializer_list<const char16_t*> entries) {
    tarn::host::TStringList list;
    for (const char16_t* entry : entries) list.Add(entry);
    return list;
}

class SyncRead : public ::testing::Test {
protected:
    void OpenPort() {
        port.SetAutoReceive(false);
        SelectPort(port, device.Name());
        port.Open();
        ASSERT_EQ(port.IsConnected(), spCustom);
    }

    // Lets `cycles` poll cycles of the receive thread pass, serving its
    // events meanwhile; each cycle makes one queue query.
    void LetCyclesPass(int cycles) {
        const std::uint64_t target = device.QueueQueries() + static_cast<std::uint64_t>(cycles);
        ASSERT_TRUE(WaitUntil([&] { return device.QueueQueries() >= target; }));
    }

    // Runs `read` on a thread of its own; it waits there once the bytes
    // injected first have been taken.
    std::future<std::string> StartWaitingRead(std::string (*read)(TTarnSerialPort&)) {
        auto result = std::async(std::launch::async, read, std::ref(port));
        device.Inject("ab");
        EXPECT_TRUE(PollUntil([&] { return device.InputQueued() == 0; }));
        return result;
    }

    drv::VirtualPort device{"VSYNC1"};
    TTarnSerialPort port;
};

// The reads that wait, or that meet the receive thread, run in both of its
// receive modes.
class SyncReadInMode : public SyncRead,
                       public ::testing::WithParamInterface<tarn::test::ReceiveMode> {
protected:
    void SetUp() override { tarn::test::ApplyReceiveMode(port, GetParam()); }
};

using SyncReadEndSequences = SyncRead;
using SyncReadWithReceiveThread = SyncReadInMode;
using SyncReadWaits = SyncReadInMode;

std::string ReadTenChars(TTarnSerialPort& port) { return port.ReadChars(10); }
std::string ReadLineWithoutTimeOut(TTarnSerialPort& port) { return port.ReadStringLine(0); }
// Far longer than any test waits for a read to end.
std::string ReadLineWithLongTimeOut(TTarnSerialPort& port) { return port.ReadStringLine(600); }

TEST_F(SyncRead, EveryReadIsEmptyWhileTheReceiveThreadOwnsTheInputOrNoPortIsOpen) {
    EXPECT_EQ(port.ReadChars(3), "");  // AutoReceive off, but no port
    EXPECT_EQ(port.ReadStringLine(0), "");
    EXPECT_EQ(port.GetBufferSize(), 0u);

    // A long poll period keeps the receive thread from taking the bytes
    // after its first cycle.
    port.SetDelay(60000);
    port.SetAutoReceive(true);
    SelectPort(port, device.Name());
    port.Open();
    ASSERT_TRUE(WaitUntil([&] { return device.QueueQueries() >= 1; }));
    device.Inject("hello");

    const auto start = Clock::now();
    EXPECT_EQ(port.ReadBuffer(), "");
    EXPECT_EQ(port.ReadChar(), "");
    EXPECT_EQ(port.ReadByte(), 0);
    EXPECT_EQ(port.ReadChars(5), "");
    EXPECT_EQ(port.ReadStringLine(10), "");
    EXPECT_LT(Clock::now() - start, 5s);
    EXPECT_EQ(port.GetBufferSize(), 5u);
    EXPECT_EQ(device.InputQueued(), 5u);
}

TEST_F(SyncRead, ReadBufferReadCharAndReadByteTakeWhatWaitsAndKeepTheBooks) {
    port.SetKeepEntireBuffer(true);
    OpenPort();
    device.Inject("1234567");
    EXPECT_EQ(port.ReadBuffer(), "1234567");
    EXPECT_EQ(Access::RawReadBuffer(port), "1234567");
    EXPECT_EQ(port.GetLastReadBuffer(), u"1234567");
    EXPECT_EQ(port.ReadBuffer(), "");
    EXPECT_EQ(Access::RawReadBuffer(port), "1234567") << "an empty read keeps the last bytes";
    EXPECT_FALSE(port.GetIsReceiving());

    device.Inject("AB");
    EXPECT_EQ(port.ReadChar(), "A");
    EXPECT_EQ(device.InputQueued(), 1u);
    EXPECT_EQ(port.ReadByte(), 'B');
    EXPECT_EQ(port.ReadByte(), 0) << "empty queue";
    EXPECT_EQ(Access::RawReadBuffer(port), "B");
    device.Inject(std::string(1, '\0'));
    EXPECT_EQ(port.ReadByte(), 0) << "a received zero byte";
    EXPECT_EQ(Access::RawReadBuffer(port), std::string(1, '\0'));
    EXPECT_EQ(Access::RawEntireBuffer(port), std::string("1234567AB") + '\0');
}

TEST_F(SyncRead, ReadCharsWaitsForItsWholeCount) {
    OpenPort();
    device.Inject("xyz");
    EXPECT_EQ(port.ReadChars(0), "");
    EXPECT_EQ(port.ReadChars(-1), "");
    EXPECT_EQ(device.InputQueued(), 3u);

    bool waited = false;
    std::thread late([&] {
        waited = PollUntil([&] { return device.InputQueued() == 0; });
        device.Inject("12");
    });
    EXPECT_EQ(port.ReadChars(5), "xyz12");
    late.join();
    EXPECT_TRUE(waited);
}

TEST_F(SyncReadEndSequences, ReturnTheBytesBeforeTheSequenceAndLeaveTheRest) {
    port.SetKeepEntireBuffer(true);
    OpenPort();
    device.Inject("OK\r\nNEXT");
    EXPECT_EQ(port.ReadStringUpToEndChars(u"\r\n", 5), "OK");
    EXPECT_EQ(Access::RawReadBuffer(port), "OK");
    EXPECT_EQ(port.GetLastReadBuffer(), u"OK");
    EXPECT_EQ(device.InputQueued(), 4u);

    port.SetNewLine("|");
    device.Inject("|aNb END");
    EXPECT_EQ(port.ReadStringLine(5), "NEXT");
    // One sequence as a whole, not a set of characters.
    EXPECT_EQ(port.ReadStringUpToEndChars(u"END", 5), "aNb ");
    EXPECT_EQ(Access::RawEntireBuffer(port), "OK\r\nNEXT|aNb END");

    device.Inject("rest\r\n");
    EXPECT_EQ(port.ReadStringUpToEndChars(u"", 0), "");
    EXPECT_EQ(port.ReadStringUpToEndChars(tarn::host::TStringList(), 0), "");
    // Nor does a line read wait for a NewLine that nothing can end, on an
    // open port or a closed one.
    port.SetNewLine("");
    EXPECT_EQ(port.ReadStringLine(0), "");
    EXPECT_EQ(device.InputQueued(), 6u);
    port.Close();
    EXPECT_EQ(port.ReadStringLine(0), "");
}

TEST_F(SyncReadEndSequences, ANewLineSetOnAnotherThreadEndsEachLineAtTheOldOrTheNew) {
    OpenPort();
    std::atomic<bool> done{false};
    std::thread setter([&] {
        for (int i = 0; !done; ++i) port.SetNewLine(i % 2 == 0 ? "\n" : "\r\n");
    });
    std::string wrong;
    for (int i = 0; i < 2000 && wrong.empty(); ++i) {
        device.Inject("line\r\n");
        const std::string line = port.ReadStringLine(5);
        if (line != "line" && line != "line\r") wrong = std::to_string(i) + ": " + line;
    }
    done = true;
    setter.join();
    EXPECT_EQ(wrong, "");
    EXPECT_EQ(device.InputQueued(), 0u);
}

TEST_F(SyncReadEndSequences, TheFirstEntryInListOrderDecides) {
    OpenPort();
    device.Inject("xy\r\n");
    EXPECT_EQ(port.ReadStringUpToEndChars(List({u"\n", u"\r\n"}), 5), "xy\r");
    device.Inject("xy\r\n");
    EXPECT_EQ(port.ReadStringUpToEndChars(List({u"\r\n", u"\n"}), 5), "xy");

    // Neither an empty entry nor one that no byte stands for ever matches,
    // not even the '?' or the best-fit letter that the conversion makes.
    device.Inject("x?A\n");
    EXPECT_EQ(port.ReadStringUpToEndChars(List({u"", u"\u0100", u"\n"}), 5), "x?A");
}

TEST_F(SyncReadEndSequences, MaxLineLengthStopsTheReadAndLeavesTheRestInTheDriver) {
    port.SetMaxLineLength(4);
    OpenPort();
    device.Inject("0123456789");
    // A time-out only bounds the test: without the limit the read would
    // take all ten bytes and then wait.
    EXPECT_EQ(port.ReadStringUpToEndChars(u"\n", 10), "");
    EXPECT_EQ(device.InputQueued(), 6u);
    EXPECT_EQ(Access::RawReadBuffer(port), "3") << "the last single byte read";

    EXPECT_EQ(port.ReadBuffer(), "456789");
    device.Inject("xyz\n");
    EXPECT_EQ(port.ReadStringUpToEndChars(u"\n", 0), "xyz") << "a match at the limit wins";
}

TEST_F(SyncReadEndSequences, AFloodWithoutAnEndEndsWithTheTimeOut) {
    OpenPort();
    std::atomic<bool> reading{true};
    // Bytes keep coming, so that every look finds more and none waits.
    std::thread flood([&] {
        while (reading) {
            if (device.InputQueued() < 4096) device.Inject(std::string(256, 'x'));
            std::this_thread::yield();
        }
    });
    const auto start = Clock::now();
    EXPECT_EQ(port.ReadStringLine(1), "");
    const std::chrono::duration<double> elapsed = Clock::now() - start;
    reading = false;
    flood.join();
    EXPECT_GE(elapsed.count(), 1.0);
    EXPECT_LT(elapsed.count(), 20.0);
}

TEST_F(SyncReadEndSequences, TheBytesAfterAMatchStayInTheDriverForTheNextRead) {
    port.SetKeepEntireBuffer(true);
    // Room for the longest arrival below, 180,901 bytes.
    port.SetInputBuffer(256 * 1024);
    OpenPort();
    // Several lines in one arrival: each read takes its own line only.
    device.Inject("one\r\ntwo\r\nthree\r\n4");
    EXPECT_EQ(port.ReadStringLine(5), "one");
    EXPECT_EQ(device.InputQueued(), 13u);
    EXPECT_EQ(port.ReadStringLine(5), "two");
    EXPECT_EQ(port.ReadChars(3), "thr");
    EXPECT_EQ(port.ReadStringLine(5), "ee");
    EXPECT_EQ(device.InputQueued(), 1u);

    // Lines of every length up to 600 bytes in one arrival, so that an end
    // sequence straddles every place where a reader's look at the waiting
    // bytes could end.
    auto lineOf = [](std::size_t n) { return std::string(n, static_cast<char>('a' + n % 26)); };
    std::string lines;
    for (std::size_t n = 0; n < 600; ++n) lines += lineOf(n) + "\r\n";
    device.Inject(lines + "b");
    EXPECT_EQ(port.ReadStringLine(5), "4");
    for (std::size_t n = 1; n < 600; ++n) {
        const std::string line = port.ReadStringLine(5);
        if (line != lineOf(n)) {
            ADD_FAILURE() << "line " << n << " read as " << line.size() << " bytes";
            break;
        }
    }
    EXPECT_EQ(device.InputQueued(), 1u);

    // An end sequence split across two arrivals, the second only after the
    // read has taken the first.
    auto read = std::async(std::launch::async,
                           [this] { return port.ReadStringUpToEndChars(u"<END>", 10); });
    device.Inject("x<EN");
    EXPECT_TRUE(PollUntil([&] { return device.InputQueued() == 0; }));
    device.Inject("D>tail");
    EXPECT_EQ(ResultOf(read), "bx");
    EXPECT_EQ(Access::RawReadBuffer(port), "bx");
    EXPECT_EQ(device.InputQueued(), 4u);
    EXPECT_EQ(port.ReadBuffer(), "tail");
    EXPECT_EQ(Access::RawEntireBuffer(port), "one\r\ntwo\r\nthree\r\n4" + lines + "bx<END>tail");
}

TEST_P(SyncReadWithReceiveThread, AHandlerReadsTheAnnouncedBytes) {
    std::string announced = "unset";
    std::string read;
    bool onMainThread = false;
    port.SetOnReceive([&](TTarnSerialPort* sender, std::string buffer) {
        announced = buffer;
        read = sender->ReadBuffer();
        onMainThread = tarn::host::IsMainThread();
    });
    port.SetDelay(20);
    OpenPort();
    device.Inject("hello");
    ASSERT_TRUE(WaitUntil([&] { return !read.empty(); }));
    EXPECT_EQ(announced, "");
    EXPECT_EQ(read, "hello");
    EXPECT_TRUE(onMainThread);
}

TEST_P(SyncReadWithReceiveThread, BytesReadAreNotAnnouncedAgain) {
    int announcements = 0;
    port.SetOnReceive([&](TTarnSerialPort*, std::string) { ++announcements; });
    port.SetDelay(20);
    OpenPort();

    device.Inject("12345");
    ASSERT_TRUE(WaitUntil([&] { return announcements == 1; }));
    LetCyclesPass(2);
    EXPECT_EQ(announcements, 1);
    device.Inject("678");
    ASSERT_TRUE(WaitUntil([&] { return announcements == 2; }));
    EXPECT_EQ(port.ReadBuffer(), "12345678");
    LetCyclesPass(2);
    EXPECT_EQ(announcements, 2);
    device.Inject("90");
    ASSERT_TRUE(WaitUntil([&] { return announcements == 3; }));
}

TEST_P(SyncReadWithReceiveThread, BytesThatALineReadLeavesAreAnnouncedOnce) {
    int announcements = 0;
    port.SetOnReceive([&](TTarnSerialPort*, std::string) { ++announcements; });
    port.SetDelay(20);
    OpenPort();
    device.Inject("l1\r\nrest");
    ASSERT_TRUE(WaitUntil([&] { return announcements == 1; }));
    // Counting more bytes read than the line would announce the rest again;
    // counting fewer would leave the next byte unannounced.
    EXPECT_EQ(port.ReadStringLine(5), "l1");
    LetCyclesPass(2);
    EXPECT_EQ(announcements, 1);
    EXPECT_EQ(port.ReadChars(4), "rest");
    device.Inject("x");
    ASSERT_TRUE(WaitUntil([&] { return announcements == 2; }));
}

TEST_P(SyncReadWithReceiveThread, OnlyAChangeOfAutoReceiveResetsTheCounters) {
    int announcements = 0;
    port.SetOnReceive([&](TTarnSerialPort*, std::string) { ++announcements; });
    port.SetDelay(20);
    OpenPort();
    device.Inject("12345");
    ASSERT_TRUE(WaitUntil([&] { return announcements == 1; }));

    // Reset counters would announce the five unread bytes again.
    port.SetAutoReceive(false);
    LetCyclesPass(2);
    EXPECT_EQ(announcements, 1);

    // Both counters stand at 5 now. After the change the read count is
    // shifted by 2^32 - 5: kept counters would then add up to 1 with one
    // new byte, which is not above 5 and announces nothing; reset ones add
    // up to 2^32 - 4, which announces.
    EXPECT_EQ(port.ReadBuffer(), "12345");
    port.SetAutoReceive(true);
    port.SetAutoReceive(false);
    Access::AddReadBytes(port, 0xFFFFFFFBu);
    device.Inject("6");
    ASSERT_TRUE(WaitUntil([&] { return announcements == 2; }));
}

TEST_P(SyncReadWaits, ATimeOutEndsEmptyAfterItsSecondsAndTheWaitCostsLittleProcessorTime) {
    // No presence checks, so that the receive thread costs next to nothing.
    port.SetDelay(200);
    port.SetMinCheckDisconnectedInterval(1000);
    OpenPort();
    device.Inject("ab");
    const double cpuBefore = tarn::test::ProcessCpuSeconds();
    ASSERT_GE(cpuBefore, 0.0);
    const std::uint64_t queriesBefore = device.QueueQueries();
    const auto start = Clock::now();
    EXPECT_EQ(port.ReadStringUpToEndChars(u"\r\n", 2), "");
    const std::chrono::duration<double> elapsed = Clock::now() - start;
    const double cpu = tarn::test::ProcessCpuSeconds() - cpuBefore;
    // The read sleeps in the driver until input comes instead of looking at
    // the queue every few milliseconds (which would be hundreds of looks);
    // the receive thread adds one look per Delay.
    EXPECT_LT(device.QueueQueries() - queriesBefore, 60u);

    EXPECT_GE(elapsed.count(), 2.0);
    EXPECT_LT(elapsed.count(), 20.0);
    EXPECT_LT(cpu, 0.05 * elapsed.count()) << "processor seconds spent waiting";
    // The bytes collected are gone from the driver and lost to the caller.
    EXPECT_EQ(device.InputQueued(), 0u);
    EXPECT_EQ(Access::RawReadBuffer(port), "b");
}

TEST_P(SyncReadWaits, ClosingThePortOrSwitchingAutoReceiveOnEndsAWait) {
    for (auto read : {ReadTenChars, ReadLineWithoutTimeOut, ReadLineWithLongTimeOut}) {
        OpenPort();
        std::future<std::string> result = StartWaitingRead(read);
        port.Close();
        EXPECT_EQ(ResultOf(result), "");

        // The receive thread takes the bytes from then on.
        OpenPort();
        result = StartWaitingRead(read);
        port.SetAutoReceive(true);
        EXPECT_EQ(ResultOf(result), "");
        port.SetAutoReceive(false);
        port.Close();
    }
}

TEST_P(SyncReadWaits, ARemovedDeviceEndsAWait) {
    for (auto read : {ReadTenChars, ReadLineWithoutTimeOut, ReadLineWithLongTimeOut}) {
        // Below the presence check's threshold the component does not
        // notice the removal; only the read does.
        port.SetDelay(20);
        OpenPort();
        std::future<std::string> result = StartWaitingRead(read);
        device.Remove();
        EXPECT_EQ(ResultOf(result), "");
        EXPECT_EQ(port.IsConnected(), spCustom);
        port.Close();
        device.Plug();

        // Above it, the component closes the port first.
        port.SetDelay(10);
        port.SetMinCheckDisconnectedInterval(1);
        OpenPort();
        result = StartWaitingRead(read);
        device.Remove();
        EXPECT_EQ(ResultOf(result), "");
        EXPECT_TRUE(WaitUntil([&] { return port.IsConnected() == spNone; }));
        port.SetMinCheckDisconnectedInterval(TTarnSerialPort().GetMinCheckDisconnectedInterval());
        device.Plug();
    }

    // One failed queue query is no removal.
    OpenPort();
    std::future<std::string> result =
        std::async(std::launch::async, [this] { return port.ReadChars(3); });
    device.Inject("a");
    EXPECT_TRUE(PollUntil([&] { return device.InputQueued() == 0; }));
    device.FailNextQueueQuery();
    const std::uint64_t queries = device.QueueQueries();
    EXPECT_TRUE(PollUntil([&] { return device.QueueQueries() >= queries + 2; }));
    device.Inject("bc");
    EXPECT_EQ(ResultOf(result), "abc");
}

class SyncReadPseudoTerminal : public ::testing::TestWithParam<tarn::test::ReceiveMode> {
protected:
    void SetUp() override {
        std::string whyNot;
        pty = tarn::test::PtyPair::Create(&whyNot);
        ASSERT_TRUE(pty) << whyNot;
        tarn::test::ApplyReceiveMode(port, GetParam());
        port.SetAutoReceive(false);
        SelectPort(port, pty->PortName());
        port.Open();
        ASSERT_NE(port.IsConnected(), spNone);
    }

    std::unique_ptr<tarn::test::PtyPair> pty;
    TTarnSerialPort port;
};

TEST_P(SyncReadPseudoTerminal, LinesCountsAndWhatWaits) {
    ASSERT_TRUE(pty->WritePeer("first\r\nsecond\r\n"));
    EXPECT_EQ(port.ReadStringLine(10), "first");
    EXPECT_EQ(port.ReadStringLine(10), "second");

    // A line in two writes, the second only after the first was taken.
    bool waited = false;
    std::thread peer([&] {
        pty->WritePeer("par");
        waited = PollUntil([&] { return port.GetLastReadBuffer() == u"r"; });
        pty->WritePeer("tial\r\n");
    });
    EXPECT_EQ(port.ReadStringLine(10), "partial");
    peer.join();
    EXPECT_TRUE(waited);

    ASSERT_TRUE(pty->WritePeer("12345"));
    EXPECT_EQ(port.ReadChars(5), "12345");
    ASSERT_TRUE(pty->WritePeer("abc"));
    ASSERT_TRUE(WaitUntil([&] { return port.GetBufferSize() == 3; }));
    EXPECT_EQ(port.ReadBuffer(), "abc");

    // A line read that waits takes a change of the NewLine at once: an
    // empty one ends it, where the terminal would have kept it waiting.
    std::future<std::string> waiting =
        std::async(std::launch::async, [this] { return port.ReadStringLine(0); });
    ASSERT_TRUE(pty->WritePeer("ab"));
    ASSERT_TRUE(PollUntil([&] { return port.GetLastReadBuffer() == u"b"; }));
    port.SetNewLine("");
    EXPECT_EQ(ResultOf(waiting), "");
}

// Read time-outs that would hold a read for a minute do not hold the
// synchronous reads, which take only what waits.
TEST_P(SyncReadPseudoTerminal, ReadsTakeWhatWaitsWhateverTheReadTimeOuts) {
    port.Close();
    port.SetReadIntervalTimeout(0);
    port.SetReadTotalTimeoutConstant(60000);
    port.Open();
    ASSERT_NE(port.IsConnected(), spNone);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(pty->WritePeer("one\r\ntwo"));
    EXPECT_EQ(port.ReadStringLine(10), "one");
    ASSERT_TRUE(WaitUntil([&] { return port.GetBufferSize() == 3; }));
    EXPECT_EQ(port.ReadBuffer(), "two");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
}

TEST_P(SyncReadPseudoTerminal, AHungUpTerminalEndsAWait) {
    // Below the presence check's threshold, so that only the read notices.
    port.SetDelay(20);
    auto result = std::async(std::launch::async, [this] { return port.ReadStringLine(600); });
    EXPECT_TRUE(pty->WritePeer("ab"));
    EXPECT_TRUE(PollUntil([&] { return port.GetLastReadBuffer() == u"b"; }));
    pty->Remove();
    EXPECT_EQ(ResultOf(result), "");
}

const auto kModeName = [](const auto& info) { return tarn::test::ReceiveModeName(info.param); };
INSTANTIATE_TEST_SUITE_P(Modes, SyncReadWithReceiveThread, tarn::test::kReceiveModes, kModeName);
INSTANTIATE_TEST_SUITE_P(Modes, SyncReadWaits, tarn::test::kReceiveModes, kModeName);
INSTANTIATE_TEST_SUITE_P(Modes, SyncReadPseudoTerminal, tarn::test::kReceiveModes, kModeName);

}  // namespace
