// Ports on other machines against a real server: ser2net serving one end of
// a pseudo-terminal pair (ser2net_server.h), reached through the component
// on every build (the Windows builds through Winsock under Wine). Every byte
// both ways, the line settings as the terminal gets them, modem lines that
// ser2net cannot drive, and a server that goes away and comes back.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "Tarnserialport.h"
#include "host_socket.h"
#include "host_system_error.h"
#include "ser2net_server.h"
#include "serialport/component_test_support.h"

namespace tarn::test {
namespace {

using namespace std::chrono_literals;

constexpr std::uint32_t kLimitMs = 30000;

std::string EveryByte(int times) {
    std::string bytes;
    for (int n = 0; n < times; ++n) {
        for (int i = 0; i < 256; ++i) bytes.push_back(static_cast<char>(i));
    }
    return bytes;
}

class Ser2net : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        bool absent = false;
        server_ = Ser2netServer::Create(why, absent);
        if (absent) GTEST_SKIP() << why;
        ASSERT_TRUE(server_) << why;
    }

    // Opens `port` on the server, recording what it receives.
    void Open(TTarnSerialPort& port) {
        port.SetOnReceive([this](TTarnSerialPort*, std::string chunk) {
            std::lock_guard<std::mutex> lock(mutex_);
            received_ += chunk;
        });
        SelectPort(port, server_->Url());
        port.Open();
        ASSERT_EQ(port.IsConnected(), spCustom);
    }

    // Sends `bytes` both ways: from the port to the far end of the pair,
    // and from there back.
    void ExpectBothWays(TTarnSerialPort& port, const std::string& bytes) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            received_.clear();
        }
        EXPECT_EQ(port.SendData(bytes.data(), static_cast<std::uint32_t>(bytes.size())),
                  bytes.size());
        EXPECT_EQ(server_->Pair().ReadPeer(bytes.size(), 30s), bytes);
        ASSERT_TRUE(server_->Pair().WritePeer(bytes));
        EXPECT_TRUE(WaitUntil([&] {
            std::lock_guard<std::mutex> lock(mutex_);
            return received_.size() >= bytes.size();
        }));
        std::lock_guard<std::mutex> lock(mutex_);
        EXPECT_TRUE(received_ == bytes) << received_.size() << " bytes came";
    }

    std::unique_ptr<Ser2netServer> server_;
    std::mutex mutex_;
    std::string received_;  // guarded by mutex_
};

TEST_F(Ser2net, ServerServesItsPairUntilStoppedAndAgainWhenStarted) {
    EXPECT_EQ(server_->Url(), "rfc2217://127.0.0.1:" + std::to_string(server_->Port()));
    auto connection = host::ConnectTcp("127.0.0.1", server_->Port(), kLimitMs);
    ASSERT_TRUE(connection) << host::GetLastError();
    // Data before any negotiation passes as plain Telnet.
    ASSERT_TRUE(connection->SendAll("ab", 2));
    EXPECT_EQ(server_->Pair().ReadPeer(2, 30s), "ab");
    // The terminal as the configuration sets it up for a client.
    ServedTerminal terminal;
    std::string why;
    ASSERT_TRUE(server_->ReadTerminal(terminal, why)) << why;
    EXPECT_EQ(terminal.baudRate, 9600u);
    EXPECT_EQ(terminal.stopBits, 1);

    ASSERT_TRUE(server_->Stop(&why)) << why;
    // The connection ends once ser2net's negotiation is read.
    char buffer[256];
    std::size_t received = 0;
    bool open = true;
    do {
        open = connection->Receive(buffer, sizeof buffer, kLimitMs, received);
    } while (open && received > 0);
    EXPECT_FALSE(open) << "the connection is still there";
    EXPECT_EQ(host::ConnectTcp("127.0.0.1", server_->Port(), kLimitMs), nullptr);
    EXPECT_EQ(host::GetLastError(), host::WSAECONNREFUSED);

    ASSERT_TRUE(server_->Start(&why)) << why;
    connection = host::ConnectTcp("127.0.0.1", server_->Port(), kLimitMs);
    ASSERT_TRUE(connection) << host::GetLastError();
    ASSERT_TRUE(connection->SendAll("e", 1));
    EXPECT_EQ(server_->Pair().ReadPeer(1, 30s), "e");
}

TEST_F(Ser2net, CarriesEveryByteBothWays) {
    TTarnSerialPort port;
    Open(port);
    // Four times over, so that IAC bytes fall at every place in the
    // chunks of both directions.
    ExpectBothWays(port, EveryByte(4));
}

// The pseudo-terminal keeps the rate, the stop bits and the parity's odd and
// stick bits; data bits and parity enable never reach it (ServedTerminal),
// so that they were taken shows in the port opening and staying open: a
// server's answer other than the value asked for is refused. Mark and space
// come last: once the terminal had one, ser2net keeps its stick bit and
// answers odd and even as mark and space.
TEST_F(Ser2net, LineSettingsReachTheTerminalAtOpenAndWhileOpen) {
    struct Settings {
        TBaudRate rate;
        TDataWidth dataWidth;
        TParityBits parity;
        TStopBits stopBits;
        ServedTerminal expected;
    };
    const std::vector<Settings> table = {
        {br115200, dw8Bits, pbNone, sb1Bit, {115200, 1, false, false}},
        {br019200, dw7Bits, pbOdd, sb2Bits, {19200, 2, true, false}},
        {br038400, dw8Bits, pbEven, sb2Bits, {38400, 2, false, false}},
        {br001200, dw6Bits, pbMark, sb1Bit, {1200, 1, true, true}},
        {br057600, dw5Bits, pbSpace, sb1Bit, {57600, 1, false, true}},
    };
    TTarnSerialPort port;
    for (std::size_t i = 0; i < table.size(); ++i) {
        const Settings& settings = table[i];
        SCOPED_TRACE(settings.expected.baudRate);
        port.SetBaudRate(settings.rate);
        port.SetDataWidth(settings.dataWidth);
        port.SetParity(settings.parity);
        port.SetStopBits(settings.stopBits);
        if (i == 0) Open(port);
        ASSERT_EQ(port.IsConnected(), spCustom);
        ASSERT_FALSE(port.GetIsFaulted());
        // ser2net answers once it has set the terminal; the check still
        // waits for it rather than rely on that order.
        ServedTerminal terminal;
        std::string why;
        EXPECT_TRUE(WaitUntil([&] {
            return server_->ReadTerminal(terminal, why) &&
                   terminal.baudRate == settings.expected.baudRate &&
                   terminal.stopBits == settings.expected.stopBits &&
                   terminal.parityOdd == settings.expected.parityOdd &&
                   terminal.parityStick == settings.expected.parityStick;
        })) << why
            << "; the terminal holds " << terminal.baudRate << " baud, " << terminal.stopBits
            << " stop bits, odd " << terminal.parityOdd << ", stick " << terminal.parityStick;
    }
}

// A pseudo-terminal has no modem lines: ser2net never answers DTR or RTS,
// and reports every input line off.
TEST_F(Ser2net, ModemLinesItCannotDriveFailWithoutStoppingThePort) {
    TTarnSerialPort port;
    Open(port);
    EXPECT_FALSE(port.SetDTR(true));
    EXPECT_FALSE(port.SetRTS(true));
    EXPECT_FALSE(port.SetDTR(false));
    ASSERT_TRUE(WaitUntil([&] { return port.ModemLinesReadable(); }));
    EXPECT_FALSE(port.GetCTS());
    EXPECT_FALSE(port.GetDSR());
    EXPECT_FALSE(port.GetRING());
    EXPECT_FALSE(port.GetDCD());
    EXPECT_EQ(port.IsConnected(), spCustom);
    ExpectBothWays(port, "still\xFFthere");
}

TEST_F(Ser2net, AServerThatGoesAwayClosesThePortAndOneThatComesBackOpensAgain) {
    TTarnSerialPort port;
    std::vector<std::string> events;
    port.SetOnFault([&](TTarnSerialPort*, TCommPort) { events.push_back("fault"); });
    port.SetOnDisconnect([&](TTarnSerialPort*, TCommPort) { events.push_back("disconnect"); });
    Open(port);
    ExpectBothWays(port, "before");

    std::string why;
    ASSERT_TRUE(server_->Stop(&why)) << why;
    ASSERT_TRUE(WaitUntil([&] { return port.IsConnected() == spNone; }));
    EXPECT_TRUE(port.GetIsFaulted());
    EXPECT_EQ(events, (std::vector<std::string>{"fault", "disconnect"}));
    EXPECT_THROW(port.Open(), ETarnSerialPortException);

    ASSERT_TRUE(server_->Start(&why)) << why;
    port.Open();
    ASSERT_EQ(port.IsConnected(), spCustom);
    EXPECT_FALSE(port.GetIsFaulted());
    ExpectBothWays(port, "after");
}

}  // namespace
}  // namespace tarn::test
