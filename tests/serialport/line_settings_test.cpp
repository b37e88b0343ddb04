// Line settings: the rate table, the readers and setters with their
// validation, the device control block byte for byte, and the apply
// operations on a port handle.
#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cstring>
#include <memory>

#include "Tarnserialport.h"
#include "serial_port_test_access.h"
#include "virtual_port.h"
#include "wait_until.h"

namespace {

namespace drv = tarn::driver;
using Access = TTarnSerialPortTestAccess;

TEST(LineSettingsRates, TableConvertsBothWays) {
    const std::int32_t rates[] = {75,     110,    134,    150,    300,    600,   1200,  1800,
                                  2400,   4800,   7200,   9600,   14400,  19200, 38400, 57600,
                                  115200, 128000, 230400, 256000, 460800, 921600};
    TTarnSerialPort port;
    for (int i = 0; i < 22; ++i) {
        EXPECT_EQ(port.BaudRateToInt(static_cast<TBaudRate>(i)), rates[i]);
        EXPECT_EQ(port.IntToBaudRate(rates[i]), static_cast<TBaudRate>(i));
    }
    for (std::int32_t odd : {0, -1, 250000, 9601, 2000000}) {
        EXPECT_EQ(port.IntToBaudRate(odd), brCustom) << odd;
    }
    port.SetCustomBaudRate(31250);
    EXPECT_EQ(port.BaudRateToInt(brCustom), 31250);
    EXPECT_EQ(port.BaudRateToInt(static_cast<TBaudRate>(200)), 31250);
}

TEST(LineSettingsRates, CustomRateTakesEffectOnlyThroughBrCustom) {
    TTarnSerialPort port;
    port.SetBaudRate(br009600);
    port.SetCustomBaudRate(250000);
    EXPECT_EQ(Access::RawBaudRate(port), 9600);
    port.SetBaudRate(brCustom);
    EXPECT_EQ(Access::RawBaudRate(port), 250000);
    EXPECT_EQ(port.GetBaudRate(), brCustom);
    port.SetCustomBaudRate(9600);
    EXPECT_EQ(port.GetBaudRate(), br009600);

    TTarnSerialPort fresh;
    fresh.SetBaudRate(brCustom);
    EXPECT_EQ(Access::RawBaudRate(fresh), 0);
    EXPECT_EQ(fresh.GetBaudRate(), brCustom);
}

TEST(LineSettingsValidation, EveryWidthAndStopPair) {
    // Allowed: five bits with one or one and a half; six to eight with one
    // or two. The validation looks at the other field's current value.
    for (int w = dw5Bits; w <= dw8Bits; ++w) {
        for (int s = sb1Bit; s <= sb2Bits; ++s) {
            const bool allowed = w == dw5Bits ? s != sb2Bits : s != sb1_5Bits;
            EXPECT_EQ(IsValidWidthAndStop(static_cast<TDataWidth>(w), static_cast<TStopBits>(s)),
                      allowed);
            TTarnSerialPort port;
            port.SetStopBits(sb1Bit);
            port.SetDataWidth(static_cast<TDataWidth>(w));
            if (allowed) {
                EXPECT_NO_THROW(port.SetStopBits(static_cast<TStopBits>(s)));
                EXPECT_EQ(port.GetStopBits(), s);
                EXPECT_EQ(port.GetDataWidth(), w);
            } else {
                try {
                    port.SetStopBits(static_cast<TStopBits>(s));
                    ADD_FAILURE() << "w=" << w << " s=" << s << " accepted";
                } catch (const ETarnSerialPortException& e) {
                    EXPECT_STREQ(e.what(), "Invalid data-width and stop-bits combination.");
                    EXPECT_EQ(e.ErrorCode(), 0u);
                }
                EXPECT_EQ(port.GetStopBits(), sb1Bit);
            }
        }
    }
}

TEST(LineSettingsValidation, RefusedWidthLeavesEverythingAlone) {
    TTarnSerialPort port;
    port.SetStopBits(sb2Bits);
    EXPECT_THROW(port.SetDataWidth(dw5Bits), ETarnSerialPortException);
    EXPECT_EQ(port.GetDataWidth(), dw8Bits);
    TTarnSerialPort fresh;
    EXPECT_THROW(fresh.SetStopBits(sb1_5Bits), ETarnSerialPortException);
    EXPECT_EQ(fresh.GetStopBits(), sb1Bit);
}

TEST(LineSettingsReaders, OutOfRangeValuesReadAsDefaults) {
    TTarnSerialPort port;
    Access::SetRawDataWidth(port, 9);
    EXPECT_EQ(port.GetDataWidth(), dw8Bits);
    port.SetParity(static_cast<TParityBits>(7));
    EXPECT_EQ(Access::RawParity(port), 0);
    port.SetParity(pbSpace);
    EXPECT_EQ(Access::RawParity(port), 4);
    port.SetParity(static_cast<TParityBits>(9));
    EXPECT_EQ(port.GetParity(), pbSpace);
    port.SetDataWidth(static_cast<TDataWidth>(6));
    EXPECT_EQ(Access::RawDataWidth(port), 8);
}

std::uint32_t FlagsWith(void (*set)(TTarnSerialPort&)) {
    TTarnSerialPort port;
    port.SetEnableDTROnOpen(false);
    port.SetEnableRTSOnOpen(false);
    set(port);
    return Access::BuildDCB(port).Flags;
}

TEST(LineSettingsBlock, EachOptionAloneSetsItsBits) {
    EXPECT_EQ(FlagsWith([](TTarnSerialPort&) {}), 1u);
    EXPECT_EQ(FlagsWith([](TTarnSerialPort& p) { p.SetEnableDTROnOpen(true); }), 1u | 16u);
    EXPECT_EQ(FlagsWith([](TTarnSerialPort& p) { p.SetEnableRTSOnOpen(true); }), 1u | 4096u);
    EXPECT_EQ(FlagsWith([](TTarnSerialPort& p) { p.SetHwFlowControl(hfDTRDSR); }), 1u | 8u | 32u);
    EXPECT_EQ(FlagsWith([](TTarnSerialPort& p) { p.SetHwFlowControl(hfRTSCTS); }), 1u | 4u | 8192u);
    EXPECT_EQ(FlagsWith([](TTarnSerialPort& p) { p.SetSwFlowControl(sfXONXOFF); }),
              1u | 256u | 512u);
    EXPECT_EQ(FlagsWith([](TTarnSerialPort& p) { p.SetParityCheck(true); }), 1u | 2u);
    EXPECT_EQ(FlagsWith([](TTarnSerialPort& p) { p.SetReplaceParityErrors(true); }), 1u | 1024u);
    EXPECT_EQ(FlagsWith([](TTarnSerialPort& p) { p.SetDiscardNulls(true); }), 1u | 2048u);
    EXPECT_EQ(FlagsWith([](TTarnSerialPort& p) { p.SetDsrSensitivity(true); }), 1u | 64u);
    EXPECT_EQ(FlagsWith([](TTarnSerialPort& p) { p.SetTXContinueOnXoff(true); }), 1u | 128u);
}

TEST(LineSettingsBlock, HandshakeWinsOverRaiseOnOpenForTheSameLine) {
    TTarnSerialPort port;  // DTR and RTS raised on open by default
    port.SetHwFlowControl(hfDTRDSR);
    drv::DCB dcb = Access::BuildDCB(port);
    EXPECT_EQ(drv::DtrControl(dcb), drv::DTR_CONTROL_HANDSHAKE);
    EXPECT_EQ(drv::RtsControl(dcb), drv::RTS_CONTROL_ENABLE);
    EXPECT_TRUE(dcb.Flags & drv::DCB_fOutxDsrFlow);

    port.SetHwFlowControl(hfRTSCTS);
    dcb = Access::BuildDCB(port);
    EXPECT_EQ(drv::DtrControl(dcb), drv::DTR_CONTROL_ENABLE);
    EXPECT_EQ(drv::RtsControl(dcb), drv::RTS_CONTROL_HANDSHAKE);
    EXPECT_TRUE(dcb.Flags & drv::DCB_fOutxCtsFlow);
    EXPECT_FALSE(dcb.Flags & drv::DCB_fOutxDsrFlow);
}

TEST(LineSettingsBlock, DefaultBlockByteForByte) {
    TTarnSerialPort port;
    const drv::DCB dcb = Access::BuildDCB(port);
    unsigned char bytes[28];
    std::memcpy(bytes, &dcb, sizeof bytes);
    const unsigned char expected[28] = {28,   0,    0, 0,  // DCBlength
                                        0xC0, 0x12, 0, 0,  // BaudRate 4800
                                        0x11, 0x10, 0, 0,  // fBinary, DTR enable, RTS enable
                                        0,    0,           // wReserved
                                        0x00, 0x04,        // XonLim 1024 = InputBuffer / 4
                                        1,    0,           // XoffLim
                                        8,    0,    0,     // ByteSize, Parity, StopBits
                                        17,   19,   0, 26,
                                        26,        // XonChar, XoffChar, ErrorChar, EofChar, EvtChar
                                        0,    0};  // wReserved1
    for (int i = 0; i < 28; ++i) EXPECT_EQ(bytes[i], expected[i]) << "byte " << i;
}

TEST(LineSettingsBlock, FieldsAndDerivedXonLimit) {
    TTarnSerialPort port;
    port.SetBaudRate(br115200);
    port.SetDataWidth(dw7Bits);
    port.SetParity(pbEven);
    port.SetStopBits(sb2Bits);
    port.SetXonChar('A');
    port.SetXoffChar('B');
    port.SetXoffLim(77);
    port.SetErrorChar('?');
    port.SetEofChar(4);
    port.SetEvtChar('\n');
    drv::DCB dcb = Access::BuildDCB(port);
    EXPECT_EQ(dcb.BaudRate, 115200u);
    EXPECT_EQ(dcb.ByteSize, 7);
    EXPECT_EQ(dcb.Parity, drv::EVENPARITY);
    EXPECT_EQ(dcb.StopBits, drv::TWOSTOPBITS);
    EXPECT_EQ(dcb.XonChar, 'A');
    EXPECT_EQ(dcb.XoffChar, 'B');
    EXPECT_EQ(dcb.XoffLim, 77);
    EXPECT_EQ(dcb.ErrorChar, '?');
    EXPECT_EQ(dcb.EofChar, 4);
    EXPECT_EQ(dcb.EvtChar, '\n');

    port.SetInputBuffer(300000);
    EXPECT_EQ(Access::BuildDCB(port).XonLim, 9464);  // low 16 bits of 75000
    port.SetXonLim(5);
    EXPECT_EQ(Access::BuildDCB(port).XonLim, 5);
}

// A component with a virtual port open. Open applied the block once; the
// tests look at what came after.
class LineSettingsOnOpenPort : public ::testing::Test {
protected:
    void SetUp() override {
        component.SetCustomPortName("VLINE1");
        component.SetPort(spCustom);
        component.Open();
        ASSERT_EQ(component.IsConnected(), spCustom);
        ASSERT_EQ(device.AppliedStates().size(), 1u);
        ASSERT_EQ(device.AppliedTimeouts().size(), 1u);
        ASSERT_EQ(device.AppliedQueueSizes().size(), 1u);
    }

    std::size_t StatesSinceOpen() const { return device.AppliedStates().size() - 1; }

    drv::VirtualPort device{"VLINE1"};
    TTarnSerialPort component;
};

TEST_F(LineSettingsOnOpenPort, ChangedValueIsAppliedAndPurgesInput) {
    component.SetAutoReceive(false);  // the bytes stay in the driver
    device.Inject("unread");
    component.SetParityCheck(true);
    ASSERT_EQ(StatesSinceOpen(), 1u);
    EXPECT_TRUE(device.AppliedStates().back().Flags & drv::DCB_fParity);
    EXPECT_EQ(device.InputQueued(), 0u);
    EXPECT_EQ(device.Purges(), (std::vector<std::uint32_t>{drv::PURGE_RXCLEAR}));
}

TEST_F(LineSettingsOnOpenPort, EqualValueDoesNothingButRateReappliesAnyway) {
    component.SetEnableDTROnOpen(true);
    component.SetXonChar(17);
    EXPECT_EQ(StatesSinceOpen(), 0u);
    component.SetBaudRate(br004800);
    EXPECT_EQ(StatesSinceOpen(), 1u);
    component.SetDataWidth(dw8Bits);
    component.SetStopBits(sb1Bit);
    component.SetParity(pbNone);
    EXPECT_EQ(StatesSinceOpen(), 4u);
}

TEST_F(LineSettingsOnOpenPort, QueueSizesAloneAndTimeoutsNotUntilReopen) {
    component.SetInputBuffer(8192);
    EXPECT_EQ(StatesSinceOpen(), 0u);
    ASSERT_EQ(device.AppliedQueueSizes().size(), 2u);
    EXPECT_EQ(device.AppliedQueueSizes()[1], std::make_pair(8192u, 4096u));
    component.SetReadIntervalTimeout(5);
    EXPECT_EQ(device.AppliedTimeouts().size(), 1u);
}

TEST_F(LineSettingsOnOpenPort, RefusedBlockClosesThePortAndKeepsTheValue) {
    device.RefuseNextCommState();
    component.SetBaudRate(br019200);
    EXPECT_EQ(component.GetBaudRate(), br019200);
    EXPECT_FALSE(Access::HasThread(component));
    EXPECT_EQ(component.IsConnected(), spNone);
    EXPECT_TRUE(device.WaitOpen(false, tarn::test::kEventLimit));
    // The next Open applies the stored rate again.
    component.Open();
    EXPECT_EQ(component.IsConnected(), spCustom);
    EXPECT_EQ(device.AppliedStates().back().BaudRate, 19200u);
}

TEST_F(LineSettingsOnOpenPort, NonPositiveRateClosesThePortAndKeepsTheValue) {
    component.SetCustomBaudRate(-9600);  // stored only: a standard rate is selected
    EXPECT_EQ(component.IsConnected(), spCustom);
    component.SetBaudRate(brCustom);
    EXPECT_EQ(StatesSinceOpen(), 0u);
    EXPECT_EQ(component.IsConnected(), spNone);
    EXPECT_TRUE(device.WaitOpen(false, tarn::test::kEventLimit));
    EXPECT_EQ(component.GetCustomBaudRate(), -9600);
}

TEST(LineSettingsRates, OpenRefusesANonPositiveRate) {
    drv::VirtualPort device("VLINE3");
    for (std::int32_t rate : {-1, -9600, INT_MIN, 0}) {
        TTarnSerialPort port;
        port.SetCustomPortName("VLINE3");
        port.SetPort(spCustom);
        port.SetCustomBaudRate(rate);
        port.SetBaudRate(brCustom);
        try {
            port.Open();
            ADD_FAILURE() << rate << " opened";
        } catch (const ETarnSerialPortException& e) {
            EXPECT_EQ(
                std::string(e.what()),
                "Cannot connect to VLINE3. " + drv::SystemErrorText(drv::ERROR_INVALID_PARAMETER));
        }
        EXPECT_FALSE(device.IsOpen()) << rate;
        EXPECT_EQ(port.GetCustomBaudRate(), rate);
    }
    EXPECT_TRUE(device.AppliedStates().empty());

    TTarnSerialPort port;
    port.SetCustomPortName("VLINE3");
    port.SetPort(spCustom);
    port.SetCustomBaudRate(31250);
    port.SetBaudRate(brCustom);
    port.Open();
    ASSERT_EQ(device.AppliedStates().size(), 1u);
    EXPECT_EQ(device.AppliedStates()[0].BaudRate, 31250u);
}

TEST(LineSettingsApply, OperationsOnAHandle) {
    drv::VirtualPort device("VLINE2");
    TTarnSerialPort component;
    EXPECT_FALSE(Access::SetDCBState(component, drv::INVALID_HANDLE_VALUE));
    EXPECT_FALSE(Access::SetTimeOuts(component, drv::INVALID_HANDLE_VALUE));
    EXPECT_FALSE(Access::SetBuffers(component, drv::INVALID_HANDLE_VALUE));

    drv::HANDLE h = drv::CreateFileA("\\\\.\\VLINE2");
    ASSERT_NE(h, drv::INVALID_HANDLE_VALUE);
    component.SetWriteTotalTimeoutConstant(250);
    EXPECT_TRUE(Access::SetDCBState(component, h));
    EXPECT_TRUE(Access::SetTimeOuts(component, h));
    EXPECT_TRUE(Access::SetBuffers(component, h));
    ASSERT_EQ(device.AppliedTimeouts().size(), 1u);
    const drv::COMMTIMEOUTS t = device.AppliedTimeouts()[0];
    EXPECT_EQ(t.ReadIntervalTimeout, 0xFFFFFFFFu);
    EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(t.ReadTotalTimeoutConstant, 0u);
    EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 100u);
    EXPECT_EQ(t.WriteTotalTimeoutConstant, 250u);
    EXPECT_TRUE(device.Dtr());
    EXPECT_TRUE(device.Rts());
    // No receive thread yet, so nothing was purged.
    EXPECT_TRUE(device.Purges().empty());

    component.SetInputBuffer(0);
    EXPECT_FALSE(Access::SetBuffers(component, h));
    drv::CloseHandle(h);
}

}  // namespace
