// The component as the designer sees it: its defaults, the properties a
// stored form holds, and reading a form back.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "Tarnserialport.h"
#include "host_class_registry.h"
#include "host_stream.h"
#include "serial_port_test_access.h"

namespace {

using Access = TTarnSerialPortTestAccess;
using tarn::host::ReadComponent;
using tarn::host::WriteComponent;

std::unique_ptr<TTarnSerialPort> Read(const std::string& text, tarn::host::TComponent* owner) {
    tarn::host::RegisterClass(TTarnSerialPort::StaticClass());
    auto* component = ReadComponent(text, owner);
    auto* port = dynamic_cast<TTarnSerialPort*>(component);
    EXPECT_NE(port, nullptr);
    if (owner) owner->RemoveComponent(port);
    return std::unique_ptr<TTarnSerialPort>(port);
}

TEST(ComponentDefaults, NewComponentReadsItsDefaults) {
    TTarnSerialPort port;
    EXPECT_EQ(port.GetPort(), spNone);
    EXPECT_EQ(port.GetBaudRate(), br004800);
    EXPECT_EQ(port.GetDataWidth(), dw8Bits);
    EXPECT_EQ(port.GetStopBits(), sb1Bit);
    EXPECT_EQ(port.GetParity(), pbNone);
    EXPECT_EQ(port.GetCustomPortName(), "vcom1");
    EXPECT_EQ(port.GetNewLine(), "\r\n");
    EXPECT_EQ(port.GetDelay(), 100u);
    EXPECT_EQ(port.GetInterval(), 100u);
    EXPECT_EQ(port.GetMinCheckDisconnectedInterval(), 50u);
    EXPECT_TRUE(port.GetNeedSynchronization());
    EXPECT_TRUE(port.GetAutoReceive());
    EXPECT_EQ(port.IsConnected(), spNone);
    EXPECT_EQ(port.GetPriority(), tarn::host::tpNormal);
    EXPECT_EQ(port.GetReadIntervalTimeout(), 0xFFFFFFFFu);
    EXPECT_EQ(port.GetWriteTotalTimeoutMultiplier(), 100u);
    EXPECT_EQ(port.GetWriteTotalTimeoutConstant(), 1000u);
    EXPECT_FALSE(port.GetOnReceive().Assigned());
    EXPECT_DOUBLE_EQ(port.GetVersion(), sizeof(void*) == 4 ? 1.68 : 1.67);
}

TEST(ComponentDefaults, DelayAndIntervalAreOneField) {
    TTarnSerialPort port;
    port.SetInterval(7);
    EXPECT_EQ(port.GetDelay(), 7u);
    port.SetDelay(250);
    EXPECT_EQ(port.GetInterval(), 250u);
}

TEST(ComponentDefaults, OwnerFreesTheComponent) {
    tarn::host::TComponent form(nullptr);
    auto* port = new TTarnSerialPort(&form);
    port->SetName(u"SerialPort1");
    EXPECT_EQ(form.FindComponent(u"serialport1"), port);
    EXPECT_EQ(port->ClassName(), u"TTarnSerialPort");
    // The form's destructor frees it; ASan would report a leak otherwise.
}

TEST(ComponentStreaming, DefaultComponentWritesOnlyWhatHasNoDefault) {
    TTarnSerialPort port;
    port.SetName(u"SerialPort1");
    EXPECT_EQ(WriteComponent(port),
              "object SerialPort1: TTarnSerialPort\n"
              "  CustomPortName = 'vcom1'\n"
              "  LogFile = ''\n"
              "  AutoReceive = True\n"
              "  NewLine = #13#10\n"
              "end\n");
}

TEST(ComponentStreaming, ChangedPropertiesRoundTrip) {
    tarn::host::TComponent form(nullptr);
    TTarnSerialPort port;
    port.SetName(u"SerialPort1");
    port.SetPort(spCOM12);
    port.SetBaudRate(brCustom);
    port.SetCustomBaudRate(250000);
    port.SetDataWidth(dw7Bits);
    port.SetStopBits(sb2Bits);
    port.SetParity(pbMark);
    port.SetHwFlowControl(hfRTSCTS);
    port.SetEnableDTROnOpen(false);
    port.SetXonChar('Q');
    port.SetInputBuffer(300000);
    port.SetReadTotalTimeoutConstant(42);
    port.SetPriority(tarn::host::tpHigher);
    port.SetDelay(5);
    port.SetLogFile(u"traffic.log");
    port.SetAutoReceive(false);
    port.SetNewLine("\n");
    port.SetMaxLineLength(-3);

    const std::string text = WriteComponent(port);
    EXPECT_NE(text.find("Port = spCOM12"), std::string::npos) << text;
    EXPECT_EQ(text.find("EnableRTSOnOpen"), std::string::npos) << text;

    auto copy = Read(text, &form);
    EXPECT_EQ(WriteComponent(*copy), text);
    EXPECT_EQ(copy->GetPort(), spCOM12);
    EXPECT_EQ(Access::RawBaudRate(*copy), 250000);
    EXPECT_EQ(copy->GetDataWidth(), dw7Bits);
    EXPECT_EQ(copy->GetStopBits(), sb2Bits);
    EXPECT_EQ(copy->GetPriority(), tarn::host::tpHigher);
    EXPECT_EQ(copy->GetDelay(), 5u);
    EXPECT_FALSE(copy->GetAutoReceive());
    EXPECT_EQ(copy->GetNewLine(), "\n");
    EXPECT_EQ(copy->GetMaxLineLength(), -3);
}

TEST(ComponentStreaming, EveryAllowedWidthAndStopPairLoads) {
    tarn::host::TComponent form(nullptr);
    const char* pairs[][2] = {{"dw5Bits", "sb1Bit"}, {"dw5Bits", "sb1_5Bits"},
                              {"dw6Bits", "sb1Bit"}, {"dw6Bits", "sb2Bits"},
                              {"dw7Bits", "sb1Bit"}, {"dw7Bits", "sb2Bits"},
                              {"dw8Bits", "sb1Bit"}, {"dw8Bits", "sb2Bits"}};
    for (const auto& pair : pairs) {
        // The stop bits come first in the text; reading still applies the
        // data width first.
        const std::string text = std::string("object P: TTarnSerialPort\n  StopBits = ") + pair[1] +
                                 "\n  DataWidth = " + pair[0] + "\nend\n";
        std::unique_ptr<TTarnSerialPort> port;
        ASSERT_NO_THROW(port = Read(text, &form)) << text;
        auto again = Read(WriteComponent(*port), &form);
        EXPECT_EQ(again->GetDataWidth(), port->GetDataWidth());
        EXPECT_EQ(again->GetStopBits(), port->GetStopBits());
    }
}

TEST(ComponentStreaming, CustomPortAndNameInEitherOrder) {
    tarn::host::TComponent form(nullptr);
    for (const char* text :
         {"object P: TTarnSerialPort\n  Port = spCustom\n  CustomPortName = 'MyDev'\nend\n",
          "object P: TTarnSerialPort\n  CustomPortName = 'MyDev'\n  Port = spCustom\nend\n"}) {
        auto port = Read(text, &form);
        EXPECT_EQ(Access::RawPort(*port), "MyDev") << text;
        EXPECT_EQ(port->GetPort(), spCustom);
    }
}

TEST(ComponentStreaming, EventsByHandlerNameOfTheOwner) {
    tarn::host::TComponent form(nullptr);
    std::string received;
    form.RegisterMethod<void(TTarnSerialPort*, std::string)>(
        u"SerialPort1Receive", [&](TTarnSerialPort*, std::string buffer) { received = buffer; });
    auto port =
        Read("object SerialPort1: TTarnSerialPort\n  OnReceive = SerialPort1Receive\nend\n", &form);
    ASSERT_TRUE(port->GetOnReceive().Assigned());
    port->GetOnReceive()(port.get(), "abc");
    EXPECT_EQ(received, "abc");

    // A handler assigned in code has no name and is not written.
    port->SetOnConnect([](TTarnSerialPort*, TCommPort) {});
    const std::string text = WriteComponent(*port);
    EXPECT_EQ(text.find("OnConnect"), std::string::npos);
    form.InsertComponent(port.get());
    EXPECT_NE(WriteComponent(*port).find("OnReceive = SerialPort1Receive"), std::string::npos);
    form.RemoveComponent(port.get());
}

TEST(ComponentStreaming, BadInputNamesTheProperty) {
    tarn::host::TComponent form(nullptr);
    const struct {
        const char* text;
        const char* mentions;
    } cases[] = {
        {"object P: TTarnSerialPort\n  Speed = 9600\nend\n", "Speed"},
        {"object P: TTarnSerialPort\n  BaudRate = br009601\nend\n", "BaudRate"},
        {"object P: TTarnSerialPort\n  Delay = -1\nend\n", "Delay"},
        {"object P: TTarnSerialPort\n  XonLim = 70000\nend\n", "XonLim"},
        {"object P: TTarnSerialPort\n  DataWidth = dw5Bits\n  StopBits = sb2Bits\nend\n",
         "StopBits"},
        {"object P: TTarnSerialPort\n  AutoReceive = 1\nend\n", "AutoReceive"},
    };
    tarn::host::RegisterClass(TTarnSerialPort::StaticClass());
    for (const auto& c : cases) {
        try {
            delete ReadComponent(c.text, &form);
            ADD_FAILURE() << "accepted: " << c.text;
        } catch (const tarn::host::EReadError& e) {
            EXPECT_NE(std::string(e.what()).find(c.mentions), std::string::npos) << e.what();
        }
    }
    EXPECT_EQ(form.ComponentCount(), 0);
}

}  // namespace
