// Line settings and port control of the termios backend, checked against
// the terminal settings that the kernel holds for the port.
#include <termios.h>

#include <future>

#include "pty_port_fixture_linux.h"
#include "termios2_linux.h"

namespace tarn::driver::test {
namespace {

termios Settings(int fd) {
    termios t{};
    EXPECT_EQ(tcgetattr(fd, &t), 0);
    return t;
}

TEST_F(PtyPortTest, OpeningMakesTheLineRawAndNonBlocking) {
    const termios t = Settings(observer_);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_iflag & (ICRNL | INLCR | IGNCR | IXON | IXOFF | ISTRIP), 0u);
    EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 0);
}

TEST_F(PtyPortTest, ReportsTheLinesSettingsBeforeAnyBlockIsSet) {
    ASSERT_TRUE(CloseHandle(handle_));
    termios t = Settings(observer_);
    t.c_cflag |= CSTOPB | CRTSCTS;
    ASSERT_EQ(cfsetspeed(&t, B4800), 0);
    ASSERT_EQ(tcsetattr(observer_, TCSANOW, &t), 0);
    handle_ = OpenPort(pty_->PortName());
    ASSERT_NE(handle_, INVALID_HANDLE_VALUE);

    DCB dcb{};
    ASSERT_TRUE(GetCommState(handle_, dcb));
    EXPECT_EQ(dcb.DCBlength, sizeof(DCB));
    EXPECT_EQ(dcb.BaudRate, 4800u);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, NOPARITY);
    EXPECT_EQ(dcb.StopBits, TWOSTOPBITS);
    EXPECT_NE(dcb.Flags & DCB_fBinary, 0u);
    EXPECT_NE(dcb.Flags & DCB_fOutxCtsFlow, 0u);
    EXPECT_EQ(RtsControl(dcb), RTS_CONTROL_HANDSHAKE);
    EXPECT_EQ(dcb.Flags & (DCB_fOutX | DCB_fInX), 0u);
}

TEST_F(PtyPortTest, AppliesANonStandardRate) {
    DCB dcb = BaseDcb(250000);
    ASSERT_TRUE(SetCommState(handle_, dcb)) << GetLastError();
    LineTermios kernel;
    ASSERT_EQ(ReadLineTermios(observer_, kernel), 0);
    EXPECT_EQ(kernel.rate, 250000u);
    DCB back{};
    ASSERT_TRUE(GetCommState(handle_, back));
    EXPECT_EQ(back.BaudRate, 250000u);

    ASSERT_TRUE(SetCommState(handle_, BaseDcb(115200)));
    ASSERT_EQ(ReadLineTermios(observer_, kernel), 0);
    EXPECT_EQ(kernel.rate, 115200u);
}

TEST_F(PtyPortTest, AcceptsEveryFramingAndPutsItIntoTheLine) {
    // A pseudo-terminal always keeps 8 data bits and parity generation off
    // (the kernel forces CS8 and clears PARENB there), so the data width and
    // PARENB are checked on the translation itself (LineSettingsTranslation).
    for (std::uint8_t bits = 5; bits <= 8; ++bits) {
        for (std::uint8_t parity = NOPARITY; parity <= SPACEPARITY; ++parity) {
            for (std::uint8_t stop = ONESTOPBIT; stop <= TWOSTOPBITS; ++stop) {
                SCOPED_TRACE(testing::Message() << int(bits) << " bits, parity " << int(parity)
                                                << ", stop code " << int(stop));
                DCB dcb = BaseDcb();
                dcb.ByteSize = bits;
                dcb.Parity = parity;
                dcb.StopBits = stop;
                ASSERT_TRUE(SetCommState(handle_, dcb)) << GetLastError();
                const termios t = Settings(observer_);
                EXPECT_EQ((t.c_cflag & PARODD) != 0, parity == ODDPARITY || parity == MARKPARITY);
                EXPECT_EQ((t.c_cflag & CMSPAR) != 0, parity == MARKPARITY || parity == SPACEPARITY);
                EXPECT_EQ((t.c_cflag & CSTOPB) != 0, stop != ONESTOPBIT);
                DCB back{};
                ASSERT_TRUE(GetCommState(handle_, back));
                EXPECT_EQ(back.ByteSize, bits);
                EXPECT_EQ(back.Parity, parity);
                EXPECT_EQ(back.StopBits, stop);
            }
        }
    }
}

TEST_F(PtyPortTest, PutsFlowControlAndParityCheckingIntoTheLine) {
    DCB dcb = BaseDcb();
    dcb.Flags |= DCB_fOutxCtsFlow | DCB_fOutX | DCB_fInX | DCB_fParity;
    dcb.XonChar = 'Q';
    dcb.XoffChar = 'S';
    ASSERT_TRUE(SetCommState(handle_, dcb)) << GetLastError();
    termios t = Settings(observer_);
    EXPECT_NE(t.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | INPCK | PARMRK),
              static_cast<tcflag_t>(IXON | IXOFF | INPCK | PARMRK));
    EXPECT_EQ(t.c_cc[VSTART], 'Q');
    EXPECT_EQ(t.c_cc[VSTOP], 'S');

    ASSERT_TRUE(SetCommState(handle_, BaseDcb()));
    t = Settings(observer_);
    EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | INPCK | PARMRK), 0u);
}

TEST_F(PtyPortTest, RefusesBlocksThatTermiosCannotCarryOut) {
    ASSERT_TRUE(SetCommState(handle_, BaseDcb(19200)));
    auto refused = [&](DCB dcb) {
        const bool ok = SetCommState(handle_, dcb);
        return !ok && GetLastError() == ERROR_INVALID_PARAMETER;
    };
    DCB dcb = BaseDcb(0);
    EXPECT_TRUE(refused(dcb));
    for (std::uint8_t bits : {0, 4, 9, 16}) {
        dcb = BaseDcb();
        dcb.ByteSize = bits;
        EXPECT_TRUE(refused(dcb)) << int(bits);
    }
    dcb = BaseDcb();
    dcb.Parity = 5;
    EXPECT_TRUE(refused(dcb));
    dcb = BaseDcb();
    dcb.StopBits = 3;
    EXPECT_TRUE(refused(dcb));
    dcb = BaseDcb();
    dcb.XoffChar = dcb.XonChar;
    EXPECT_TRUE(refused(dcb));

    DCB kept{};
    ASSERT_TRUE(GetCommState(handle_, kept));
    EXPECT_EQ(kept.BaudRate, 19200u);
    LineTermios kernel;
    ASSERT_EQ(ReadLineTermios(observer_, kernel), 0);
    EXPECT_EQ(kernel.rate, 19200u);
}

TEST_F(PtyPortTest, DiscardsNulsWhenAsked) {
    DCB dcb = BaseDcb();
    dcb.Flags |= DCB_fNull;
    ASSERT_TRUE(SetCommState(handle_, dcb));
    ASSERT_TRUE(pty_->WritePeer(std::string("a\0b\0\0c", 6)));
    ASSERT_EQ(WaitForQueued(handle_, 6), 6u);
    EXPECT_EQ(ReadAll(handle_, 100), "abc");
}

TEST_F(PtyPortTest, ParityCheckingKeepsGenuineFFBytes) {
    // With errors marked in the stream the kernel doubles every 0xFF; the
    // reader must still get each one once.
    DCB dcb = BaseDcb();
    dcb.Flags |= DCB_fParity | DCB_fErrorChar;
    dcb.Parity = EVENPARITY;
    dcb.ErrorChar = '?';
    ASSERT_TRUE(SetCommState(handle_, dcb));
    const std::string in(
        "\xff"
        "A\xff\xff"
        "B",
        5);
    ASSERT_TRUE(pty_->WritePeer(in));
    ASSERT_GE(WaitForQueued(handle_, 5), 5u);
    std::string got;
    const auto deadline = Clock::now() + 10s;
    while (got.size() < in.size() && Clock::now() < deadline) got += ReadAll(handle_, 1);
    EXPECT_EQ(got, in);
}

TEST_F(PtyPortTest, PseudoTerminalsHaveNoModemLinesButTakeTheOtherEscapes) {
    for (std::uint32_t function : {SETRTS, CLRRTS, SETDTR, CLRDTR}) {
        EXPECT_FALSE(EscapeCommFunction(handle_, function)) << function;
        EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED) << function;
    }
    std::uint32_t status = 0xFFFF;
    EXPECT_FALSE(GetCommModemStatus(handle_, &status));
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
    EXPECT_EQ(status, 0u);

    EXPECT_TRUE(EscapeCommFunction(handle_, SETBREAK));
    EXPECT_TRUE(EscapeCommFunction(handle_, CLRBREAK));
    EXPECT_FALSE(EscapeCommFunction(handle_, 7));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(PtyPortTest, SetXoffHoldsTransmissionUntilSetXon) {
    const COMMTIMEOUTS timeouts{0xFFFFFFFFu, 0, 0, 0, 100};
    ASSERT_TRUE(SetCommTimeouts(handle_, timeouts));
    ASSERT_TRUE(EscapeCommFunction(handle_, SETXOFF));
    std::uint32_t written = 99;
    EXPECT_TRUE(WriteFile(handle_, "held", 4, &written));
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(GetLastError(), ERROR_SEM_TIMEOUT);
    ASSERT_TRUE(EscapeCommFunction(handle_, SETXON));
    ASSERT_TRUE(Write(handle_, "sent"));
    EXPECT_EQ(pty_->ReadPeer(4, 10s), "sent");
}

TEST_F(PtyPortTest, LinesUnderHandshakeAreNotTheCallersToDrive) {
    DCB dcb = BaseDcb();
    dcb.Flags =
        (dcb.Flags & ~DCB_fRtsControlMask) | (RTS_CONTROL_HANDSHAKE << DCB_fRtsControlShift);
    dcb.Flags =
        (dcb.Flags & ~DCB_fDtrControlMask) | (DTR_CONTROL_HANDSHAKE << DCB_fDtrControlShift);
    ASSERT_TRUE(SetCommState(handle_, dcb));
    for (std::uint32_t function : {SETRTS, CLRRTS, SETDTR, CLRDTR}) {
        EXPECT_FALSE(EscapeCommFunction(handle_, function)) << function;
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER) << function;
    }
}

}  // namespace
}  // namespace tarn::driver::test
