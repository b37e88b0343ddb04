// Synchronous reads over a pseudo-terminal, where the driver reads ahead of
// the bytes that a line read takes up to its end: whatever a read leaves
// must be there for the next reader, as if it had never left the driver.
#include <gtest/gtest.h>

#include <thread>

#include "Tarnserialport.h"
#include "host_synchronize.h"
#include "pseudo_terminal_posix.h"
#include "wait_until.h"

namespace tarn::bench {
namespace {

using tarn::test::WaitUntil;

class LineReadsLeaveTheRest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        pty = PseudoTerminal::Create(&why);
        ASSERT_TRUE(pty) << why;
        port.SetAutoReceive(false);
        port.SetCustomPortName(pty->SlavePath());
        port.SetPort(spCustom);
        port.Open();
        ASSERT_EQ(port.IsConnected(), spCustom);
    }
    void Send(const std::string& bytes) {
        ASSERT_TRUE(WriteAll(pty->Master(), bytes.data(), bytes.size()));
    }

    std::unique_ptr<PseudoTerminal> pty;
    TTarnSerialPort port;
};

TEST_F(LineReadsLeaveTheRest, BytesBeyondMaxLineLengthStayInTheDriver) {
    port.SetMaxLineLength(4);
    Send("0123456789");
    EXPECT_EQ(port.ReadStringLine(10), "");
    ASSERT_TRUE(WaitUntil([&] { return port.GetBufferSize() == 6; }));
    EXPECT_EQ(port.ReadBuffer(), "456789");
}

TEST_F(LineReadsLeaveTheRest, TheNextLineWaitsForEveryKindOfRead) {
    Send("one\r\ntwo\r\nthree");
    EXPECT_EQ(port.ReadStringLine(10), "one");
    ASSERT_TRUE(WaitUntil([&] { return port.GetBufferSize() == 10; }));
    EXPECT_EQ(port.ReadChar(), "t");
    EXPECT_EQ(port.ReadChars(4), "wo\r\n");
    EXPECT_EQ(port.GetBufferSize(), 5u);
    EXPECT_EQ(port.ReadBuffer(), "three");
    EXPECT_EQ(port.GetBufferSize(), 0u);
}

TEST_F(LineReadsLeaveTheRest, ClearInputBufferDropsTheRest) {
    Send("a\r\nbcd");
    EXPECT_EQ(port.ReadStringLine(10), "a");
    ASSERT_TRUE(WaitUntil([&] { return port.GetBufferSize() == 3; }));
    EXPECT_TRUE(port.ClearInputBuffer());
    EXPECT_EQ(port.GetBufferSize(), 0u);
    EXPECT_EQ(port.ReadBuffer(), "");
    Send("z");
    EXPECT_EQ(port.ReadChars(1), "z");
}

TEST_F(LineReadsLeaveTheRest, AutomaticReceptionDeliversTheRest) {
    Send("line\r\nrest");
    EXPECT_EQ(port.ReadStringLine(10), "line");
    ASSERT_TRUE(WaitUntil([&] { return port.GetBufferSize() == 4; }));
    std::string received;
    port.SetOnReceive([&received](TTarnSerialPort*, std::string buffer) { received += buffer; });
    port.SetAutoReceive(true);
    // The events run on this, the main thread.
    ASSERT_TRUE(WaitUntil([&] {
        tarn::host::CheckSynchronize(0);
        return received.size() >= 4;
    }));
    EXPECT_EQ(received, "rest");
}

TEST_F(LineReadsLeaveTheRest, ALineAfterALongSilenceIsStillRead) {
    // The read sleeps in the driver while nothing comes; the line must
    // still be taken whole when it does.
    std::thread late([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        WriteAll(pty->Master(), "late\r\n", 6);
    });
    EXPECT_EQ(port.ReadStringLine(10), "late");
    late.join();
}

}  // namespace
}  // namespace tarn::bench
