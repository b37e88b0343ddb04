// The POSIX driver reads the kernel's queue ahead of a short read or a peek
// (a line read peeks and takes up to its end) and answers later calls from
// what it holds. What it holds must still be the driver's queue to every
// caller: counted as waiting, read first and in order, dropped by a purge,
// and no longer served once the terminal has hung up.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "pseudo_terminal_posix.h"
#include "serial_driver.h"
#include "wait_until.h"

namespace tarn::bench {
namespace {

using tarn::test::WaitUntil;

namespace drv = tarn::driver;

class DriverReadAhead : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        pty = PseudoTerminal::Create(&why);
        ASSERT_TRUE(pty) << why;
        handle = drv::CreateFileA("\\\\.\\" + pty->SlavePath());
        ASSERT_NE(handle, drv::INVALID_HANDLE_VALUE) << drv::GetLastError();
        // Reads return at once with what is there, as the component's
        // default time-outs make them.
        const drv::COMMTIMEOUTS immediate{0xFFFFFFFFu, 0, 0, 0, 0};
        ASSERT_TRUE(drv::SetCommTimeouts(handle, immediate));
    }
    void TearDown() override {
        if (handle != drv::INVALID_HANDLE_VALUE) drv::CloseHandle(handle);
    }

    // The count of waiting bytes; -1 when the query fails.
    long Waiting() {
        std::uint32_t errors = 0;
        drv::COMSTAT stat{};
        return drv::ClearCommError(handle, &errors, &stat) ? static_cast<long>(stat.cbInQue) : -1;
    }
    std::string Read(std::uint32_t count) {
        std::string bytes(count, '\0');
        std::uint32_t got = 0;
        if (!drv::ReadFile(handle, &bytes[0], count, &got)) return "<failed>";
        bytes.resize(got);
        return bytes;
    }
    void Send(const std::string& bytes) {
        ASSERT_TRUE(WriteAll(pty->Master(), bytes.data(), bytes.size()));
    }

    std::unique_ptr<PseudoTerminal> pty;
    drv::HANDLE handle = drv::INVALID_HANDLE_VALUE;
};

TEST_F(DriverReadAhead, BytesReadAheadCountAsWaitingAndComeFirstInOrder) {
    Send("abcdefghij");
    ASSERT_TRUE(WaitUntil([&] { return Waiting() == 10; }));
    EXPECT_EQ(Read(1), "a");
    EXPECT_EQ(Waiting(), 9);
    EXPECT_EQ(Read(3), "bcd");
    EXPECT_EQ(Waiting(), 6);
    EXPECT_EQ(Read(100), "efghij");
    EXPECT_EQ(Waiting(), 0);
    EXPECT_EQ(Read(1), "");
}

TEST_F(DriverReadAhead, AReadLongerThanWhatIsHeldGoesOnWithTheKernelsQueue) {
    Send("abc");
    ASSERT_TRUE(WaitUntil([&] { return Waiting() == 3; }));
    EXPECT_EQ(Read(1), "a");
    Send("defg");
    // Bytes that reach the kernel while others are held show within a clock
    // tick.
    ASSERT_TRUE(WaitUntil([&] { return Waiting() == 6; }));
    EXPECT_EQ(Read(6), "bcdefg");
    EXPECT_EQ(Waiting(), 0);
}

TEST_F(DriverReadAhead, APurgeOfTheReceiveQueueDropsBytesReadAhead) {
    Send("abcdef");
    ASSERT_TRUE(WaitUntil([&] { return Waiting() == 6; }));
    EXPECT_EQ(Read(1), "a");
    // The transmit queue is another queue.
    ASSERT_TRUE(drv::PurgeComm(handle, drv::PURGE_TXCLEAR));
    EXPECT_EQ(Waiting(), 5);

    ASSERT_TRUE(drv::PurgeComm(handle, drv::PURGE_RXCLEAR));
    EXPECT_EQ(Waiting(), 0);
    EXPECT_EQ(Read(5), "");
    Send("xy");
    ASSERT_TRUE(WaitUntil([&] { return Waiting() == 2; }));
    EXPECT_EQ(Read(5), "xy");
}

TEST_F(DriverReadAhead, APeekTakesNothingAndTheNextReadTakesTheSameBytes) {
    const auto peek = [this](std::uint32_t count) {
        std::string bytes(count, '\0');
        std::uint32_t got = 0;
        if (!drv::PeekInput(handle, &bytes[0], count, &got)) return std::string("<failed>");
        bytes.resize(got);
        return bytes;
    };
    Send("abcdef");
    ASSERT_TRUE(WaitUntil([&] { return Waiting() == 6; }));
    EXPECT_EQ(peek(2), "ab") << "from the kernel's queue";
    EXPECT_EQ(Waiting(), 6);
    EXPECT_EQ(peek(10), "abcdef") << "from the bytes read ahead";
    EXPECT_EQ(Read(3), "abc");
    EXPECT_EQ(peek(10), "def");
    Send("gh");
    ASSERT_TRUE(WaitUntil([&] { return Waiting() == 5; }));
    EXPECT_EQ(Read(10), "defgh");

    Send("xyz");
    ASSERT_TRUE(WaitUntil([&] { return Waiting() == 3; }));
    EXPECT_EQ(peek(1), "x");
    ASSERT_TRUE(drv::PurgeComm(handle, drv::PURGE_RXCLEAR));
    EXPECT_EQ(peek(10), "");
    EXPECT_EQ(Waiting(), 0);
}

TEST_F(DriverReadAhead, AHungUpTerminalFailsCallsThoughBytesWereReadAhead) {
    Send("abcdefghij");
    ASSERT_TRUE(WaitUntil([&] { return Waiting() == 10; }));
    EXPECT_EQ(Read(1), "a");
    pty.reset();  // closes the master: the slave hangs up
    ASSERT_TRUE(WaitUntil([&] { return Waiting() < 0; }));
    EXPECT_EQ(drv::GetLastError(), drv::ERROR_BAD_COMMAND);
    EXPECT_EQ(Read(1), "<failed>");
    EXPECT_EQ(drv::GetLastError(), drv::ERROR_BAD_COMMAND);
}

TEST_F(DriverReadAhead, ACountTakenWhileAnotherThreadReadsNeverCountsAByteTwice) {
    // The peer writes in small pieces, so that the reader empties what is
    // held and reads the kernel again and again while the count runs.
    // Whether a count falls between another thread's kernel read and its
    // keeping of the rest is chance; many reads make it likely.
    constexpr long kTotal = 16000;
    constexpr long kPiece = 16;
    std::atomic<long> written{0};  // counted before the write, never late
    std::atomic<long> consumed{0};
    std::atomic<bool> failed{false};
    std::thread writer([&] {
        const std::string piece(kPiece, 'q');
        while (written.load() < kTotal && !failed.load()) {
            // At most two pieces ahead of the reader, so that what was
            // written is close to what waits and a double count shows.
            if (written.load() - consumed.load() > kPiece) {
                std::this_thread::yield();
                continue;
            }
            written += kPiece;
            if (!WriteAll(pty->Master(), piece.data(), piece.size())) failed = true;
        }
    });
    std::thread reader([&] {
        while (consumed.load() < kTotal && !failed.load()) {
            const std::string byte = Read(1);
            if (byte == "<failed>") failed = true;
            if (byte.size() == 1) ++consumed;
        }
    });
    long worst = -kTotal;
    long counts = 0;
    while (consumed.load() < kTotal && !failed.load()) {
        const long before = consumed.load();
        const long waiting = Waiting();
        // What waits is at most what was written less what had been read
        // before the count began.
        if (waiting >= 0) worst = std::max(worst, waiting - (written.load() - before));
        ++counts;
    }
    writer.join();
    reader.join();
    EXPECT_FALSE(failed.load());
    EXPECT_GT(counts, 0);
    EXPECT_LE(worst, 0) << "a byte was counted both in the kernel's queue and as read ahead";
    EXPECT_EQ(Waiting(), 0);
}

}  // namespace
}  // namespace tarn::bench
