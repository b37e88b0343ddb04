// Opening and closing a port: success and failure, reopening, the order of
// the connection events, the timer period, and handlers that throw on the
// way in.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "Tarnserialport.h"
#include "component_test_support.h"
#include "serial_driver.h"
#include "serial_port_test_access.h"
#include "timer_resolution.h"
#include "virtual_port.h"

namespace {

namespace drv = tarn::driver;
using Access = TTarnSerialPortTestAccess;
using tarn::test::SelectPort;
using tarn::test::WaitUntil;

// Records the connection events in order.
struct EventLog {
    std::vector<std::string> entries;

    void Attach(TTarnSerialPort& port) {
        port.SetOnConnect([this](TTarnSerialPort*, TCommPort p) { Add("connect", p); });
        port.SetOnDisconnect([this](TTarnSerialPort*, TCommPort p) { Add("disconnect", p); });
        port.SetOnFault([this](TTarnSerialPort*, TCommPort p) { Add("fault", p); });
    }
    void Add(const char* what, TCommPort p) {
        entries.push_back(std::string(what) + " " + std::to_string(static_cast<int>(p)));
    }
};

TEST(OpenClose, OpenWithoutAPortDoesNothing) {
    TTarnSerialPort port;
    EventLog log;
    log.Attach(port);
    EXPECT_NO_THROW(port.Open());
    EXPECT_EQ(port.IsConnected(), spNone);
    port.Close();
    EXPECT_EQ(port.IsConnected(), spNone);
    EXPECT_TRUE(log.entries.empty());
}

TEST(OpenClose, OpenAppliesEverythingAndCloseUndoesIt) {
    drv::VirtualPort device("COM201");
    TTarnSerialPort port;
    EventLog log;
    log.Attach(port);
    port.SetPort(spCOM201);
    port.SetBaudRate(br115200);
    port.Open();
    EXPECT_EQ(port.IsConnected(), spCOM201);
    // OnConnect ran on this thread before Open returned.
    EXPECT_EQ(log.entries, std::vector<std::string>{"connect 201"});
    ASSERT_EQ(device.AppliedStates().size(), 1u);
    EXPECT_EQ(device.AppliedStates()[0].BaudRate, 115200u);
    EXPECT_EQ(device.AppliedTimeouts().size(), 1u);
    EXPECT_EQ(device.AppliedQueueSizes().size(), 1u);
    EXPECT_TRUE(device.Dtr());
    EXPECT_TRUE(device.Rts());

    port.Open();  // same port: nothing
    EXPECT_EQ(log.entries.size(), 1u);
    EXPECT_EQ(device.OpenCount(), 1);

    port.Close();
    EXPECT_EQ(port.IsConnected(), spNone);
    EXPECT_FALSE(device.IsOpen());
    EXPECT_EQ(log.entries, (std::vector<std::string>{"connect 201", "disconnect 201"}));
    ASSERT_FALSE(device.Purges().empty());
    EXPECT_EQ(device.Purges().back(), 0x0Fu);
    EXPECT_FALSE(port.SetDTR(true));
}

TEST(OpenClose, FailureCarriesTheNameAndTheSystemText) {
    drv::VirtualPort device("VOPEN1");
    device.RefuseOpens(drv::ERROR_ACCESS_DENIED);
    TTarnSerialPort port;
    EventLog log;
    log.Attach(port);
    SelectPort(port, "VOPEN1");
    try {
        port.Open();
        FAIL() << "opened";
    } catch (const ETarnSerialPortException& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Cannot connect to VOPEN1. " + drv::SystemErrorText(drv::ERROR_ACCESS_DENIED));
        EXPECT_EQ(e.ErrorCode(), drv::ERROR_ACCESS_DENIED);
    }
    EXPECT_EQ(port.IsConnected(), spNone);
    EXPECT_TRUE(log.entries.empty());
    EXPECT_FALSE(Access::HasThread(port));
}

TEST(OpenClose, RefusedSettingsMakeOpenFail) {
    drv::VirtualPort device("VOPEN2");
    device.RefuseNextCommState();
    TTarnSerialPort port;
    SelectPort(port, "VOPEN2");
    try {
        port.Open();
        FAIL() << "opened";
    } catch (const ETarnSerialPortException& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot connect to VOPEN2. " +
                                             drv::SystemErrorText(drv::ERROR_INVALID_PARAMETER));
        EXPECT_EQ(e.ErrorCode(), drv::ERROR_INVALID_PARAMETER);
    }
    EXPECT_FALSE(device.IsOpen());
    port.Open();
    EXPECT_EQ(port.IsConnected(), spCustom);
}

TEST(OpenClose, OpeningAnotherPortClosesTheFirst) {
    drv::VirtualPort first("COM202");
    drv::VirtualPort second("COM203");
    TTarnSerialPort port;
    EventLog log;
    log.Attach(port);
    port.SetPort(spCOM202);
    port.Open();
    port.SetPort(spCOM203);
    EXPECT_EQ(port.IsConnected(), spCOM202) << "selecting a port does not reopen";
    port.Open();
    EXPECT_EQ(port.IsConnected(), spCOM203);
    EXPECT_FALSE(first.IsOpen());
    EXPECT_TRUE(second.IsOpen());
    EXPECT_EQ(log.entries,
              (std::vector<std::string>{"connect 202", "disconnect 202", "connect 203"}));
}

TEST(OpenClose, CustomNamesShareOneIdentifier) {
    drv::VirtualPort first("VOPEN3");
    drv::VirtualPort second("VOPEN4");
    TTarnSerialPort port;
    SelectPort(port, "VOPEN3");
    port.Open();
    port.SetCustomPortName("VOPEN4");
    port.Open();  // both are spCustom: nothing happens
    EXPECT_TRUE(first.IsOpen());
    EXPECT_FALSE(second.IsOpen());
}

TEST(OpenClose, ThrowingOnConnectLeavesOpenClosed) {
    drv::VirtualPort device("VOPEN5");
    TTarnSerialPort port;
    std::vector<std::string> events;
    port.SetOnConnect([](TTarnSerialPort*, TCommPort) { throw std::runtime_error("refused"); });
    port.SetOnDisconnect([&](TTarnSerialPort*, TCommPort) { events.push_back("disconnect"); });
    SelectPort(port, "VOPEN5");
    EXPECT_THROW(port.Open(), std::runtime_error);
    EXPECT_EQ(port.IsConnected(), spNone);
    EXPECT_FALSE(device.IsOpen());
    EXPECT_FALSE(Access::HasThread(port));
    EXPECT_EQ(events, std::vector<std::string>{"disconnect"});

    port.SetOnConnect(nullptr);
    port.Open();
    EXPECT_EQ(port.IsConnected(), spCustom);
}

TEST(OpenClose, ShortDelayBeginsAndEndsOneTimerPeriod) {
    drv::VirtualPort device("VOPEN6");
    TTarnSerialPort port;
    SelectPort(port, "VOPEN6");
    port.SetDelay(10);
    const auto begins = tarn::timer::BeginCount();
    const auto ends = tarn::timer::EndCount();
    port.Open();
    EXPECT_EQ(tarn::timer::BeginCount(), begins + 1);
    port.Close();
    port.Close();
    EXPECT_EQ(tarn::timer::EndCount(), ends + 1) << "one end for one begin";

    // A failed open ends the period it began, once.
    device.RefuseOpens(drv::ERROR_ACCESS_DENIED);
    EXPECT_THROW(port.Open(), ETarnSerialPortException);
    EXPECT_EQ(tarn::timer::BeginCount(), begins + 2);
    EXPECT_EQ(tarn::timer::EndCount(), ends + 2);

    // Changing Delay across the threshold while open keeps the pair.
    device.RefuseOpens(drv::ERROR_SUCCESS);
    port.Open();
    port.SetDelay(100);
    port.Close();
    EXPECT_EQ(tarn::timer::EndCount(), ends + 3);

    port.SetDelay(60);
    port.Open();
    port.Close();
    EXPECT_EQ(tarn::timer::BeginCount(), begins + 3);
    EXPECT_EQ(tarn::timer::EndCount(), ends + 3);
}

TEST(OpenClose, ControlOperationsNeedAnOpenPort) {
    TTarnSerialPort port;
    EXPECT_FALSE(port.GetCTS());
    EXPECT_FALSE(port.GetDSR());
    EXPECT_FALSE(port.GetRING());
    EXPECT_FALSE(port.GetDCD());
    EXPECT_FALSE(port.ModemLinesReadable());
    EXPECT_FALSE(port.SetBreak(true));
    EXPECT_FALSE(port.SetDTR(true));
    EXPECT_FALSE(port.SetRTS(true));
    EXPECT_FALSE(port.SetXonXoff(true));
    EXPECT_FALSE(port.ClearInputBuffer());
    EXPECT_FALSE(port.ClearOutputBuffer());
}

TEST(OpenClose, ModemLinesAndControlOnAnOpenPort) {
    drv::VirtualPort device("VOPEN7");
    device.SetModemStatus(0x0030 | 0x0F00);  // CTS, DSR and bits that mean nothing
    TTarnSerialPort port;
    SelectPort(port, "VOPEN7");
    port.Open();
    EXPECT_TRUE(port.GetCTS());
    EXPECT_TRUE(port.GetDSR());
    EXPECT_FALSE(port.GetRING());
    EXPECT_FALSE(port.GetDCD());
    EXPECT_TRUE(port.ModemLinesReadable());
    EXPECT_TRUE(port.SetDTR(false));
    EXPECT_TRUE(port.SetRTS(false));
    EXPECT_TRUE(port.SetBreak(true));
    EXPECT_TRUE(port.SetBreak(false));
    EXPECT_TRUE(port.SetXonXoff(true));
    EXPECT_TRUE(port.SetXonXoff(false));
    EXPECT_EQ(device.Escapes(),
              (std::vector<std::uint32_t>{drv::CLRDTR, drv::CLRRTS, drv::SETBREAK, drv::CLRBREAK,
                                          drv::SETXON, drv::SETXOFF}));
    EXPECT_FALSE(device.Dtr());
    EXPECT_TRUE(port.ClearOutputBuffer());
    EXPECT_EQ(device.Purges().back(), drv::PURGE_TXCLEAR);
}

}  // namespace
