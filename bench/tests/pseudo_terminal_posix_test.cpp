#include "pseudo_terminal_posix.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <thread>

#include "measure.h"

namespace tarn::bench {
namespace {

class PseudoTerminalTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        pty = PseudoTerminal::Create(&why);
        ASSERT_TRUE(pty) << why;
        slave = pty->OpenSlaveRaw(&why);
        ASSERT_GE(slave, 0) << why;
    }
    void TearDown() override {
        if (slave >= 0) close(slave);
    }

    std::unique_ptr<PseudoTerminal> pty;
    int slave = -1;
};

TEST_F(PseudoTerminalTest, RawBothWays) {
    EXPECT_EQ(pty->SlavePath().rfind("/dev/pts/", 0), 0u);
    // Carriage return, line feed, interrupt, erase, end of file and a byte
    // with the high bit: a cooked terminal would change or eat each.
    const std::string bytes("a\r\nb\x03\x7f\x04\xff\n", 9);
    ASSERT_TRUE(WriteAll(pty->Master(), bytes.data(), bytes.size()));
    std::string in(bytes.size(), '\0');
    ASSERT_TRUE(ReadExactly(slave, &in[0], in.size()));
    EXPECT_EQ(in, bytes);

    ASSERT_TRUE(WriteAll(slave, bytes.data(), bytes.size()));
    std::string out(bytes.size(), '\0');
    ASSERT_TRUE(ReadExactly(pty->Master(), &out[0], out.size()));
    EXPECT_EQ(out, bytes);
}

TEST_F(PseudoTerminalTest, AWriteLargerThanTheTerminalHoldsWaitsForTheReader) {
    const std::string block = RandomBytes(1 << 20, 4);
    std::string got(block.size(), '\0');
    bool read = false;
    std::thread reader([&] { read = ReadExactly(slave, &got[0], got.size()); });
    const bool written = WriteAll(pty->Master(), block.data(), block.size());
    reader.join();
    EXPECT_TRUE(written);
    ASSERT_TRUE(read);
    EXPECT_EQ(got, block);
}

TEST_F(PseudoTerminalTest, ReadSomeTellsNothingFromAHangUp) {
    char byte = 0;
    EXPECT_EQ(ReadSome(slave, &byte, 1, 10), 0);

    ASSERT_TRUE(WriteAll(pty->Master(), "xy", 2));
    char two[8] = {};
    long got = 0;
    while (got < 2) {
        const long n =
            ReadSome(slave, two + got, sizeof two - static_cast<std::size_t>(got), kStallMs);
        ASSERT_GT(n, 0);
        got += n;
    }
    EXPECT_EQ(std::string(two, 2), "xy");

    // The master reads as failed once no one has the slave open.
    close(slave);
    slave = -1;
    EXPECT_EQ(ReadSome(pty->Master(), &byte, 1, kStallMs), -1);
}

}  // namespace
}  // namespace tarn::bench
