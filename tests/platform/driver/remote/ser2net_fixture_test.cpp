// The ser2net server that the tests of remote ports talk to: it serves its
// pair on the port it names, sets the terminal up from its configuration,
// and once stopped the port refuses connections until it starts again.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "host_socket.h"
#include "host_system_error.h"
#include "ser2net_server.h"

namespace tarn::test {
namespace {

using namespace std::chrono_literals;

constexpr std::uint32_t kLimitMs = 30000;

// Receives until `text` has come after whatever Telnet negotiation came
// first; false when the connection failed or the limit passed.
bool ReceiveText(host::TcpConnection& connection, const std::string& text) {
    std::string got;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kLimitMs);
    while (got.find(text) == std::string::npos) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        char buffer[256];
        std::size_t received = 0;
        if (!connection.Receive(buffer, sizeof buffer, 100, received)) return false;
        got.append(buffer, received);
    }
    return true;
}

TEST(Ser2netServerTest, ServesItsPairUntilStoppedAndAgainWhenStarted) {
    std::string why;
    bool absent = false;
    auto server = Ser2netServer::Create(why, absent);
    if (absent) GTEST_SKIP() << why;
    ASSERT_TRUE(server) << why;
    EXPECT_EQ(server->Url(), "rfc2217://127.0.0.1:" + std::to_string(server->Port()));

    auto connection = host::ConnectTcp("127.0.0.1", server->Port(), kLimitMs);
    ASSERT_TRUE(connection) << host::GetLastError();
    ASSERT_TRUE(connection->SendAll("ab", 2));
    EXPECT_EQ(server->Pair().ReadPeer(2, 30s), "ab");
    ASSERT_TRUE(server->Pair().WritePeer("cd"));
    EXPECT_TRUE(ReceiveText(*connection, "cd"));
    // The terminal as the configuration sets it up for a client.
    ServedTerminal terminal;
    ASSERT_TRUE(server->ReadTerminal(terminal, why)) << why;
    EXPECT_EQ(terminal.baudRate, 9600u);
    EXPECT_EQ(terminal.stopBits, 1);

    ASSERT_TRUE(server->Stop(&why)) << why;
    char byte = 0;
    std::size_t received = 0;
    EXPECT_FALSE(connection->Receive(&byte, 1, kLimitMs, received));
    EXPECT_EQ(host::ConnectTcp("127.0.0.1", server->Port(), kLimitMs), nullptr);
    EXPECT_EQ(host::GetLastError(), host::WSAECONNREFUSED);

    ASSERT_TRUE(server->Start(&why)) << why;
    connection = host::ConnectTcp("127.0.0.1", server->Port(), kLimitMs);
    ASSERT_TRUE(connection) << host::GetLastError();
    ASSERT_TRUE(connection->SendAll("e", 1));
    EXPECT_EQ(server->Pair().ReadPeer(1, 30s), "e");
}

}  // namespace
}  // namespace tarn::test
