// The port server in-process: the component opens rfc2217://127.0.0.1:N
// that it offers for a virtual port or a pseudo-terminal, and its settings,
// lines and data reach the device, a refused setting included.
#include "port_server.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/driver/remote/served_client.h"
#include "serial_driver.h"
#include "serialport/component_test_support.h"
#include "test_line.h"
#include "virtual_port.h"

namespace {

namespace drv = tarn::driver;
using tarn::driver::remote::PortServer;
using tarn::test::Client;
using tarn::test::UrlOf;
using tarn::test::WaitUntil;

TEST(PortServer, AppliesTheSettingsAndAnswersWithThoseInForce) {
    drv::VirtualPort device("TTDEMOSRV2");
    const auto server = PortServer::Start(device.Name(), "127.0.0.1", 0);
    ASSERT_TRUE(server);
    Client client(UrlOf(*server));
    client.port.SetBaudRate(br019200);
    client.port.SetDataWidth(dw7Bits);
    client.port.SetParity(pbEven);
    client.port.SetStopBits(sb2Bits);
    client.port.Open();
    ASSERT_EQ(client.port.IsConnected(), spCustom);
    drv::DCB applied = device.AppliedStates().back();
    EXPECT_EQ(applied.BaudRate, 19200u);
    EXPECT_EQ(applied.ByteSize, 7);
    EXPECT_EQ(applied.Parity, drv::EVENPARITY);
    EXPECT_EQ(applied.StopBits, drv::TWOSTOPBITS);

    EXPECT_TRUE(client.port.SetBreak(true));
    EXPECT_TRUE(device.BreakOn());
    EXPECT_TRUE(client.port.SetRTS(false));
    EXPECT_FALSE(device.Rts());
    EXPECT_TRUE(device.Dtr());
    // Data both ways, every byte value.
    std::string every;
    for (int i = 0; i < 256; ++i) every += static_cast<char>(i);
    EXPECT_EQ(client.port.SendData(every.data(), 256), 256u);
    EXPECT_EQ(device.WaitWritten(256, tarn::test::kEventLimit), every);
    device.Inject(every);
    EXPECT_TRUE(WaitUntil([&] { return client.received == every; }));

    // The component clears the input before a new rate, which purges the
    // port too; the rate is applied, and a refused one is answered with the
    // rate in force, which the component takes for a refusal.
    client.port.SetBaudRate(br057600);
    EXPECT_EQ(device.AppliedStates().back().BaudRate, 57600u);
    EXPECT_NE(device.Purges().back() & drv::PURGE_RXCLEAR, 0u);
    device.RefuseNextCommState();
    client.port.SetBaudRate(br009600);
    EXPECT_EQ(client.port.IsConnected(), spNone);
    EXPECT_EQ(device.AppliedStates().back().BaudRate, 57600u);
}

// A port of the system's driver as well as a virtual one: the server opens
// it as a UART's driver would, and each client in turn has the line.
class ServedLine : public ::testing::TestWithParam<tarn::test::LineKind> {};

TEST_P(ServedLine, CarriesEveryByteBothWaysToEachClientInTurn) {
    std::string why;
    const auto line = tarn::test::TestLine::Create(GetParam(), "TTSERVED1", &why);
    ASSERT_NE(line, nullptr) << why;
    const auto server = PortServer::Start(line->Name(), "127.0.0.1", 0);
    ASSERT_TRUE(server);
    std::string every;
    for (int i = 0; i < 256; ++i) every += static_cast<char>(i);
    for (int round = 0; round < 2; ++round) {
        Client client(UrlOf(*server));
        client.port.Open();
        ASSERT_EQ(client.port.IsConnected(), spCustom) << round;
        EXPECT_EQ(client.port.SendData(every.data(), 256), 256u);
        EXPECT_EQ(line->ReadPeer(256, tarn::test::kEventLimit), every) << round;
        ASSERT_TRUE(line->Inject(every));
        EXPECT_TRUE(WaitUntil([&] { return client.received.size() >= 256; })) << round;
        EXPECT_EQ(client.received, every) << round;
        client.port.Close();
        ASSERT_TRUE(WaitUntil([&] { return !server->Serving(); })) << round;
    }
}

INSTANTIATE_TEST_SUITE_P(Lines, ServedLine, tarn::test::kLineKinds,
                         [](const auto& info) { return tarn::test::LineKindName(info.param); });

}  // namespace
