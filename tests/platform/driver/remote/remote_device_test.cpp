// Ports on other machines, through the component, against a server in this
// process on loopback: the bytes both ways, the line settings and modem
// lines as the protocol carries them, a dropped connection, a refused one,
// a server that sends faster than the application reads, and what closing
// delivers.
#include "remote_device.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Tarnserialport.h"
#include "com_port_server.h"
#include "host_exception.h"
#include "host_socket.h"
#include "remote_address.h"
#include "serial_driver.h"
#include "serialport/component_test_support.h"

namespace {

namespace drv = tarn::driver;
namespace rem = tarn::driver::remote;
using tarn::test::SelectPort;
using tarn::test::WaitUntil;

constexpr std::uint32_t kLongMs = 30000;

std::string EveryByte() {
    std::string bytes;
    for (int i = 0; i < 256; ++i) bytes.push_back(static_cast<char>(i));
    return bytes;
}

// One connection's far end: takes the protocol through ComPortServer (or
// the bytes as they are, for socket://), answers each request with the value
// asked for, and records what came. `answerLines` false leaves DTR, RTS and
// break unanswered, as a server of a port without modem lines does;
// `baudInForce`, when set, is the one rate it answers with.
class TestServer {
public:
    struct Options {
        bool telnet = true;
        bool answerLines = true;
        std::uint32_t baudInForce = 0;
        // Answers a purge of its receive side with "old" before the answer
        // and "new" after it, as bytes from the line arriving meanwhile.
        bool dataAroundPurge = false;
    };

    TestServer() : TestServer(Options()) {}
    explicit TestServer(Options options)
        : options_(options), listener_(tarn::host::ListenTcp("127.0.0.1", 0)) {
        thread_ = std::thread([this] { Serve(); });
    }
    ~TestServer() { Drop(); }

    std::string Url() const {
        return std::string(options_.telnet ? "rfc2217" : "socket") +
               "://127.0.0.1:" + std::to_string(listener_->Port());
    }

    // Sends `bytes` as data for the client.
    void Send(const std::string& bytes) {
        std::lock_guard<std::mutex> send(sendMutex_);
        std::string out = bytes;
        if (options_.telnet) {
            std::lock_guard<std::mutex> lock(mutex_);
            server_.SendData(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
            out = server_.TakeOutgoing();
        }
        WaitConnected();
        connection_->SendAll(out.data(), out.size());
    }
    void NotifyModemState(std::uint8_t state) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            server_.NotifyModemState(state);
        }
        Flush();
    }
    // Asks the client to hold back its data (true) or to go on.
    void Suspend(bool suspend) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            suspend ? server_.Suspend() : server_.Resume();
        }
        Flush();
    }
    // Waits until `count` data bytes have come and returns them all.
    std::string WaitData(std::size_t count) {
        WaitUntil([&] { return Data().size() >= count; });
        return Data();
    }
    std::string Data() {
        std::lock_guard<std::mutex> lock(mutex_);
        return data_;
    }
    std::vector<rem::ComRequest> Requests() {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }
    bool Requested(rem::ComCommand command, std::uint32_t value) {
        for (const rem::ComRequest& request : Requests()) {
            if (request.command == command && request.value == value) return true;
        }
        return false;
    }
    std::size_t CountRequests(rem::ComCommand command, std::uint32_t value) {
        std::size_t count = 0;
        for (const rem::ComRequest& request : Requests()) {
            count += request.command == command && request.value == value;
        }
        return count;
    }
    // Sends data to the client without pause from now on, for as long as
    // the connection lasts.
    void StartStream() {
        WaitConnected();
        streamer_ = std::thread([this] { Stream(); });
    }
    // Stops taking what the client sends (after the piece being read now),
    // or takes it again.
    void HoldReading(bool hold) {
        std::lock_guard<std::mutex> lock(mutex_);
        holdReading_ = hold;
        changed_.notify_all();
    }
    // Closes the connection as a server that goes away does.
    void Drop() {
        HoldReading(false);
        listener_->Cancel();
        if (std::shared_ptr<tarn::host::TcpConnection> connection = Connection()) {
            connection->Cancel();
        }
        if (thread_.joinable()) thread_.join();
        if (streamer_.joinable()) streamer_.join();
        std::lock_guard<std::mutex> lock(mutex_);
        connection_.reset();
    }

private:
    std::shared_ptr<tarn::host::TcpConnection> Connection() {
        std::lock_guard<std::mutex> lock(mutex_);
        return connection_;
    }
    void WaitConnected() {
        ASSERT_TRUE(WaitUntil([&] { return Connection() != nullptr; }));
    }
    void Flush() {
        std::lock_guard<std::mutex> send(sendMutex_);
        std::string out;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            out = server_.TakeOutgoing();
        }
        if (!out.empty()) Connection()->SendAll(out.data(), out.size());
    }
    void Serve() {
        std::shared_ptr<tarn::host::TcpConnection> connection = listener_->Accept(kLongMs);
        if (!connection) return;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            connection_ = connection;
        }
        if (options_.telnet) Flush();  // the server's own negotiation
        std::uint8_t buffer[4096];
        for (;;) {
            {
                std::unique_lock<std::mutex> lock(mutex_);
                changed_.wait(lock, [&] { return !holdReading_; });
            }
            std::size_t got = 0;
            std::string out;
            if (!connection->Receive(buffer, sizeof buffer, kLongMs, got)) {
                // Ends the connection after the client's, as servers do.
                std::lock_guard<std::mutex> lock(mutex_);
                connection_.reset();
                return;
            }
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (!options_.telnet) {
                    data_.append(reinterpret_cast<const char*>(buffer), got);
                    continue;
                }
                server_.Receive(buffer, got, data_);
                while (std::optional<rem::ComRequest> request = server_.TakeRequest()) {
                    Answer(*request);
                    requests_.push_back(*request);
                }
                out = server_.TakeOutgoing();
            }
            // Waits for the send lock only with answers to send, so that a
            // stream that the client does not read now never stops the reading.
            if (out.empty()) continue;
            std::lock_guard<std::mutex> send(sendMutex_);
            connection->SendAll(out.data(), out.size());
        }
    }
    void Stream() {
        const std::string zeros(65536, '\0');  // no IAC among them
        for (;;) {
            std::lock_guard<std::mutex> send(sendMutex_);
            const std::shared_ptr<tarn::host::TcpConnection> connection = Connection();
            if (!connection || !connection->SendAll(zeros.data(), zeros.size())) return;
        }
    }
    // REQUIRES: mutex_ held.
    void Answer(const rem::ComRequest& request) {
        const bool lineRequest = request.command == rem::ComCommand::SetControl &&
                                 request.value >= 4 && request.value <= 12;
        if (lineRequest && !options_.answerLines) return;
        std::uint32_t value = request.value;
        if (request.command == rem::ComCommand::SetBaudRate && options_.baudInForce != 0) {
            value = options_.baudInForce;
        }
        const bool receivePurge = request.command == rem::ComCommand::PurgeData &&
                                  (value & static_cast<std::uint32_t>(rem::WirePurge::Receive));
        const bool around = receivePurge && options_.dataAroundPurge;
        if (around) server_.SendData(reinterpret_cast<const std::uint8_t*>("old"), 3);
        server_.Answer(request.command, value);
        if (around) server_.SendData(reinterpret_cast<const std::uint8_t*>("new"), 3);
    }

    const Options options_;
    const std::unique_ptr<tarn::host::TcpListener> listener_;
    std::mutex sendMutex_;  // orders the sends; taken before mutex_
    std::mutex mutex_;
    rem::ComPortServer server_;
    std::shared_ptr<tarn::host::TcpConnection> connection_;
    std::string data_;
    std::vector<rem::ComRequest> requests_;
    bool holdReading_ = false;
    std::condition_variable changed_;  // holdReading_
    std::thread thread_;
    std::thread streamer_;
};

TEST(RemoteAddress, SchemesHostsAndPortsAreCheckedWhole) {
    const auto parsed = rem::ParseRemoteAddress("RFC2217://Example-1.lan:65535");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->protocol, rem::RemoteProtocol::ComPort);
    EXPECT_EQ(parsed->host, "Example-1.lan");
    EXPECT_EQ(parsed->port, 65535);
    const auto v6 = rem::ParseRemoteAddress("socket://[fe80::1%eth0]:1");
    ASSERT_TRUE(v6);
    EXPECT_EQ(v6->protocol, rem::RemoteProtocol::RawSocket);
    EXPECT_EQ(v6->host, "fe80::1%eth0");
    EXPECT_EQ(v6->port, 1);

    for (const char* name :
         {"rfc2217://host", "rfc2217://host:0", "rfc2217://host:65536", "rfc2217://:80",
          "rfc2217://::1:80", "rfc2217://[::1]80", "rfc2217://[xyz]:80", "rfc2217://host:+80",
          "rfc2217://host:80/path", "rfc2217://us er:80", "telnet://host:23"}) {
        EXPECT_FALSE(rem::ParseRemoteAddress(name)) << name;
        // Named like an address, it is never looked for among the system's
        // ports.
        EXPECT_EQ(drv::CreateFileA(std::string("\\\\.\\") + name), drv::INVALID_HANDLE_VALUE);
        EXPECT_EQ(drv::GetLastError(), drv::ERROR_INVALID_NAME) << name;
    }
}

struct Case {
    bool telnet;
    tarn::test::ReceiveMode mode;
};

class RemoteConnection : public ::testing::TestWithParam<Case> {};

TEST_P(RemoteConnection, CarriesEveryByteBothWaysUntilTheServerGoes) {
    TestServer server({GetParam().telnet});
    TTarnSerialPort port;
    tarn::test::ApplyReceiveMode(port, GetParam().mode);
    std::mutex mutex;
    std::string received;
    std::vector<std::string> events;
    port.SetOnReceive([&](TTarnSerialPort*, std::string chunk) {
        std::lock_guard<std::mutex> lock(mutex);
        received += chunk;
    });
    port.SetOnFault([&](TTarnSerialPort*, TCommPort) { events.push_back("fault"); });
    port.SetOnDisconnect([&](TTarnSerialPort*, TCommPort) { events.push_back("disconnect"); });
    SelectPort(port, server.Url());
    port.Open();
    ASSERT_EQ(port.IsConnected(), spCustom);
    EXPECT_TRUE(port.IsExistingCommPort(tarn::host::AnsiToUnicode(server.Url())));

    const std::string every = EveryByte();
    EXPECT_EQ(port.SendData(every.data(), 256), 256u);
    EXPECT_EQ(server.WaitData(256), every);
    server.Send(every + every);
    EXPECT_TRUE(WaitUntil([&] {
        std::lock_guard<std::mutex> lock(mutex);
        return received.size() >= 512;
    }));
    EXPECT_EQ(received, every + every);
    if (!GetParam().telnet) {
        // A plain connection carries no modem lines.
        EXPECT_FALSE(port.ModemLinesReadable());
        EXPECT_FALSE(port.SetDTR(true));
    }

    server.Drop();
    ASSERT_TRUE(WaitUntil([&] { return port.IsConnected() == spNone; }));
    EXPECT_TRUE(port.GetIsFaulted());
    EXPECT_EQ(events, (std::vector<std::string>{"fault", "disconnect"}));
    EXPECT_FALSE(port.IsExistingCommPort(tarn::host::AnsiToUnicode(server.Url())));
}

INSTANTIATE_TEST_SUITE_P(Protocols, RemoteConnection,
                         ::testing::Values(Case{true, tarn::test::ReceiveMode::Polling},
                                           Case{true, tarn::test::ReceiveMode::WakeOnData},
                                           Case{false, tarn::test::ReceiveMode::Polling},
                                           Case{false, tarn::test::ReceiveMode::WakeOnData}),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             return std::string(info.param.telnet ? "Rfc2217" : "Socket") +
                                    tarn::test::ReceiveModeName(info.param.mode);
                         });

TEST(RemoteLineSettings, ArriveAsRequestsAndAnotherRateInForceIsARefusal) {
    {
        TestServer server;
        TTarnSerialPort port;
        port.SetBaudRate(br019200);
        port.SetParity(pbEven);
        port.SetStopBits(sb2Bits);
        port.SetDataWidth(dw7Bits);
        port.SetHwFlowControl(hfRTSCTS);
        SelectPort(port, server.Url());
        port.Open();
        using C = rem::ComCommand;
        EXPECT_TRUE(server.Requested(C::SetBaudRate, 19200));
        EXPECT_TRUE(server.Requested(C::SetDataSize, 7));
        EXPECT_TRUE(
            server.Requested(C::SetParity, static_cast<std::uint32_t>(rem::WireParity::Even)));
        EXPECT_TRUE(
            server.Requested(C::SetStopSize, static_cast<std::uint32_t>(rem::WireStopSize::Two)));
        EXPECT_TRUE(server.Requested(C::SetControl,
                                     static_cast<std::uint32_t>(rem::WireControl::FlowHardware)));
        EXPECT_TRUE(server.Requested(C::SetModemStateMask, 0xFF));
    }
    TestServer server({true, true, 9600});
    TTarnSerialPort port;
    port.SetBaudRate(br115200);
    SelectPort(port, server.Url());
    try {
        port.Open();
        ADD_FAILURE() << "a rate the server does not take opened the port";
    } catch (const ETarnSerialPortException& e) {
        EXPECT_EQ(tarn::host::UnicodeToAnsi(e.Message()),
                  "Cannot connect to " + server.Url() + ". " +
                      tarn::host::SystemErrorText(drv::ERROR_INVALID_PARAMETER));
    }
    EXPECT_EQ(port.IsConnected(), spNone);
}

TEST(RemoteLines, DrivenWhenAnsweredAndModemStateComesFromTheServer) {
    TestServer server;
    TTarnSerialPort port;
    std::vector<TLineStatusSet> changes;
    port.SetOnLineStatusChange(
        [&](TTarnSerialPort*, TLineStatusSet lines) { changes.push_back(lines); });
    SelectPort(port, server.Url());
    port.Open();
    EXPECT_TRUE(port.SetDTR(true));
    EXPECT_TRUE(port.SetRTS(false));
    EXPECT_TRUE(port.SetBreak(true));
    // Not reported yet: unknown, which is not the same as off.
    EXPECT_FALSE(port.ModemLinesReadable());
    EXPECT_FALSE(port.GetCTS());

    server.NotifyModemState(rem::kModemCts | rem::kModemDcd);
    ASSERT_TRUE(WaitUntil([&] { return !changes.empty(); }));
    EXPECT_TRUE(changes.back().Contains(lsCTS));
    EXPECT_TRUE(changes.back().Contains(lsDCD));
    EXPECT_FALSE(changes.back().Contains(lsDSR));
    EXPECT_TRUE(port.ModemLinesReadable());
    EXPECT_TRUE(port.GetCTS());
}

TEST(RemoteLines, ALineThatNeverAnswersFailsAndIsNotAskedAgain) {
    TestServer server({true, false});
    TTarnSerialPort port;
    port.SetEnableDTROnOpen(false);  // the settings ask for DTR off, not on
    SelectPort(port, server.Url());
    port.Open();  // unanswered lines of the settings do not refuse them
    const auto dtrOn = static_cast<std::uint32_t>(rem::WireControl::DtrOn);
    const auto before = std::chrono::steady_clock::now();
    EXPECT_FALSE(port.SetDTR(true));
    EXPECT_GE(std::chrono::steady_clock::now() - before,
              std::chrono::milliseconds(rem::kLineAnswerTimeoutMs));
    EXPECT_FALSE(port.SetDTR(true));
    // Requests arrive in order: once the RTS one is in, a second DTR one
    // would have been too.
    EXPECT_FALSE(port.SetRTS(true));
    const auto rtsOn = static_cast<std::uint32_t>(rem::WireControl::RtsOn);
    ASSERT_TRUE(WaitUntil([&] { return server.Requested(rem::ComCommand::SetControl, rtsOn); }));
    EXPECT_EQ(server.CountRequests(rem::ComCommand::SetControl, dtrOn), 1u);
}

TEST(RemoteFlowControl, ASuspendedServerHoldsWritesWithinTheirTimeOut) {
    TestServer server;
    TTarnSerialPort port;
    port.SetWriteTotalTimeoutConstant(100);
    SelectPort(port, server.Url());
    port.Open();
    // The server's words arrive in order: once the modem state it sent
    // after the suspension shows, the suspension has come too.
    server.Suspend(true);
    server.NotifyModemState(rem::kModemCts);
    ASSERT_TRUE(WaitUntil([&] { return port.GetCTS(); }));
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(port.SendString("held"), 0u);
    EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(100));

    server.Suspend(false);
    server.NotifyModemState(0);
    ASSERT_TRUE(WaitUntil([&] { return !port.GetCTS(); }));
    EXPECT_EQ(port.SendString("goes"), 4u);
    EXPECT_EQ(server.WaitData(4), "goes");
}

// A drain hands the bytes to the server for good: a purge of the output
// after it (as closing makes) asks the server to purge its input only.
TEST(RemotePurge, BytesADrainSawLeaveAreNotPurgedAtTheServer) {
    TestServer server;
    TTarnSerialPort port;
    SelectPort(port, server.Url());
    port.Open();
    const std::uint32_t both = static_cast<std::uint32_t>(rem::WirePurge::Both);
    const std::uint32_t receive = static_cast<std::uint32_t>(rem::WirePurge::Receive);
    const std::uint32_t transmit = static_cast<std::uint32_t>(rem::WirePurge::Transmit);
    ASSERT_EQ(port.SendString("sent"), 4u);
    ASSERT_TRUE(port.Drain(kLongMs));
    port.Close();
    ASSERT_TRUE(WaitUntil([&] { return server.Requested(rem::ComCommand::PurgeData, receive); }));
    EXPECT_FALSE(server.Requested(rem::ComCommand::PurgeData, both));
    EXPECT_FALSE(server.Requested(rem::ComCommand::PurgeData, transmit));
    EXPECT_EQ(server.WaitData(4), "sent");

    TestServer second;
    SelectPort(port, second.Url());
    port.Open();
    ASSERT_EQ(port.SendString("not drained"), 11u);
    port.Close();
    EXPECT_TRUE(WaitUntil([&] { return second.Requested(rem::ComCommand::PurgeData, both); }));
}

// What the server had before its purge goes; what came after its answer,
// in the same segment, came from the line after the purge and stays.
TEST(RemotePurge, ClearingTheInputKeepsWhatCameAfterTheServersAnswer) {
    TestServer::Options options;
    options.dataAroundPurge = true;
    TestServer server(options);
    TTarnSerialPort port;
    port.SetAutoReceive(false);
    SelectPort(port, server.Url());
    port.Open();
    port.ClearInputBuffer();
    ASSERT_TRUE(WaitUntil([&] { return port.GetBufferSize() >= 3; }));
    EXPECT_EQ(port.ReadBuffer(), "new");
}

class RemoteClosing : public ::testing::TestWithParam<bool> {};

// Closing a connection with unread bytes in it resets it, and the reset
// throws away what is still on its way to the server.
TEST_P(RemoteClosing, DeliversWhatWasDrainedWhileTheServerSends) {
    TestServer server({GetParam()});
    TTarnSerialPort port;
    SelectPort(port, server.Url());
    port.Open();
    server.StartStream();
    std::string bytes;
    for (int i = 0; i < 16384; ++i) bytes += EveryByte();  // 4 MiB
    ASSERT_EQ(port.SendData(bytes.data(), bytes.size()), bytes.size());
    ASSERT_TRUE(port.Drain(kLongMs));
    port.Close();
    EXPECT_EQ(server.WaitData(bytes.size()).size(), bytes.size());
    EXPECT_TRUE(server.Data() == bytes);
}

// A server that takes nothing: the writes end within their time-outs and
// say that not everything went, instead of waiting for good.
TEST_P(RemoteClosing, ASendThatCannotLeaveSaysSo) {
    TestServer server({GetParam()});
    TTarnSerialPort port;
    port.SetWriteTotalTimeoutMultiplier(0);
    port.SetWriteTotalTimeoutConstant(200);
    SelectPort(port, server.Url());
    port.Open();
    server.HoldReading(true);
    const std::string chunk(65536, 'x');
    constexpr std::size_t kTotal = 16 * 1024 * 1024;  // more than TCP holds
    std::size_t sent = 0;
    for (std::uint32_t took = 1; took > 0 && sent < kTotal; sent += took) {
        took = port.SendData(chunk.data(), static_cast<std::uint32_t>(chunk.size()));
    }
    EXPECT_LT(sent, kTotal);
    EXPECT_FALSE(port.Drain(100));
}

INSTANTIATE_TEST_SUITE_P(Protocols, RemoteClosing, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "Rfc2217" : "Socket");
                         });

// Where the system tells, a drain waits for the server to acknowledge the
// bytes, not only for the connection to take them.
TEST(RemoteDrain, WaitsForTheServerToTakeTheBytes) {
    const auto listener = tarn::host::ListenTcp("127.0.0.1", 0);
    if (!tarn::host::ConnectTcp("127.0.0.1", listener->Port(), kLongMs)->Unacknowledged()) {
        GTEST_SKIP() << "this system does not tell what the far end has acknowledged";
    }
    TestServer server({false});
    TTarnSerialPort port;
    port.SetWriteTotalTimeoutMultiplier(0);  // what does not fit waits in the output queue
    port.SetWriteTotalTimeoutConstant(200);
    SelectPort(port, server.Url());
    port.Open();
    server.HoldReading(true);
    const std::string bytes(1024 * 1024, 'x');
    ASSERT_EQ(port.SendString(bytes), bytes.size());
    EXPECT_FALSE(port.Drain(100));
    server.HoldReading(false);
    EXPECT_TRUE(port.Drain(kLongMs));
    EXPECT_EQ(server.WaitData(bytes.size()).size(), bytes.size());
}

TEST(RemoteOpen, ARefusedConnectionSaysSo) {
    std::string url;
    {
        TestServer gone;
        url = gone.Url();
    }
    TTarnSerialPort port;
    SelectPort(port, url);
    try {
        port.Open();
        ADD_FAILURE() << "opened a port where nothing listens";
    } catch (const ETarnSerialPortException& e) {
        // The system's own text: "Connection refused." on POSIX systems
        // (host_socket_posix_test.cpp), Windows words it otherwise.
        EXPECT_EQ(
            tarn::host::UnicodeToAnsi(e.Message()),
            "Cannot connect to " + url + ". " + tarn::host::SystemErrorText(drv::WSAECONNREFUSED));
    }
}

TEST(RemoteFlood, ASlowReaderKeepsTheQueueAtItsSizeAndLosesNothing) {
    TestServer server;
    TTarnSerialPort port;
    port.SetAutoReceive(false);
    SelectPort(port, server.Url());
    port.Open();
    std::string flood;
    for (int i = 0; i < 4096; ++i) flood += EveryByte();  // 1 MiB, every 256th byte IAC
    std::thread sender([&] { server.Send(flood); });

    // Nobody reads: the queue fills up to its size and stops there.
    const std::uint32_t limit = port.GetInputBuffer();
    ASSERT_TRUE(WaitUntil([&] { return port.GetBufferSize() == limit; }));
    std::string taken;
    while (taken.size() < flood.size()) {
        ASSERT_LE(port.GetBufferSize(), limit);
        const std::string chunk = port.ReadBuffer();
        if (chunk.empty()) {
            ASSERT_TRUE(WaitUntil([&] { return port.GetBufferSize() > 0; }));
        }
        taken += chunk;
    }
    sender.join();
    EXPECT_TRUE(taken == flood);
}

}  // namespace
