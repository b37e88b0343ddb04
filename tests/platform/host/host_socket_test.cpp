#include "host_socket.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>

#include "host_system_error.h"

using namespace tarn::host;

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::uint32_t kLongMs = 30000;

// Receives until `count` bytes have come, within the generous limit.
std::string ReceiveExactly(TcpConnection& connection, std::size_t count) {
    std::string got;
    const auto deadline = Clock::now() + std::chrono::milliseconds(kLongMs);
    while (got.size() < count && Clock::now() < deadline) {
        char buffer[64];
        std::size_t n = 0;
        if (!connection.Receive(buffer, sizeof buffer, 1000, n)) break;
        got.append(buffer, n);
    }
    return got;
}

// Runs `wait` on another thread and cancels it once it has begun; it must
// end long before its own limit, failing with `error`.
template <typename Wait, typename Cancel>
void ExpectCancelEnds(Wait wait, Cancel cancel, std::uint32_t error) {
    std::promise<void> begun;
    const Clock::time_point start = Clock::now();
    auto result = std::async(std::launch::async, [&] {
        begun.set_value();
        const bool ok = wait();
        return std::make_pair(ok, GetLastError());
    });
    begun.get_future().wait();
    cancel();
    ASSERT_EQ(result.wait_for(std::chrono::milliseconds(kLongMs)), std::future_status::ready);
    const auto [ok, lastError] = result.get();
    EXPECT_FALSE(ok);
    EXPECT_EQ(lastError, error);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(kLongMs));
}

TEST(HostSocket, LoopbackConnectionCarriesEveryByteAndEndsOnCloseOrCancel) {
    std::unique_ptr<TcpListener> listener = ListenTcp("127.0.0.1", 0);
    ASSERT_NE(listener, nullptr) << GetLastError();
    ASSERT_NE(listener->Port(), 0);

    // Nobody connects: the wait ends at its limit, not before.
    const Clock::time_point before = Clock::now();
    EXPECT_EQ(listener->Accept(50), nullptr);
    EXPECT_EQ(GetLastError(), WSAETIMEDOUT);
    EXPECT_GE(Clock::now() - before, std::chrono::milliseconds(50));

    std::unique_ptr<TcpConnection> client = ConnectTcp("127.0.0.1", listener->Port(), kLongMs);
    ASSERT_NE(client, nullptr) << GetLastError();
    std::unique_ptr<TcpConnection> server = listener->Accept(kLongMs);
    ASSERT_NE(server, nullptr) << GetLastError();
    EXPECT_EQ(client->PeerName(), "127.0.0.1:" + std::to_string(listener->Port()));

    std::string every;
    for (int i = 0; i < 256; ++i) every.push_back(static_cast<char>(i));
    ASSERT_TRUE(client->SendAll(every.data(), every.size()));
    EXPECT_EQ(ReceiveExactly(*server, every.size()), every);
    ASSERT_TRUE(server->SendAll(every.data(), every.size()));
    EXPECT_EQ(ReceiveExactly(*client, every.size()), every);

    // A quiet connection: the time runs out with nothing received.
    std::size_t n = 1;
    char byte = 0;
    EXPECT_TRUE(server->Receive(&byte, 1, 20, n));
    EXPECT_EQ(n, 0u);

    ExpectCancelEnds([&] { return server->Receive(&byte, 1, 3 * kLongMs, n); },
                     [&] { server->Cancel(); }, WSAESHUTDOWN);
    EXPECT_FALSE(server->SendAll("x", 1));  // cancelled for good

    client.reset();  // the peer closes
    std::unique_ptr<TcpConnection> second = ConnectTcp("127.0.0.1", listener->Port(), kLongMs);
    ASSERT_NE(second, nullptr);
    std::unique_ptr<TcpConnection> secondServer = listener->Accept(kLongMs);
    ASSERT_NE(secondServer, nullptr);
    second.reset();
    EXPECT_FALSE(secondServer->Receive(&byte, 1, kLongMs, n));
    EXPECT_EQ(GetLastError(), WSAEDISCON);

    ExpectCancelEnds([&] { return listener->Accept(3 * kLongMs) != nullptr; },
                     [&] { listener->Cancel(); }, ERROR_OPERATION_ABORTED);
}

TEST(HostSocket, FailedConnectionsSayWhy) {
    std::uint16_t closedPort = 0;
    {
        std::unique_ptr<TcpListener> listener = ListenTcp("127.0.0.1", 0);
        ASSERT_NE(listener, nullptr);
        closedPort = listener->Port();
    }
    EXPECT_EQ(ConnectTcp("127.0.0.1", closedPort, kLongMs), nullptr);
    EXPECT_EQ(GetLastError(), WSAECONNREFUSED);

    // The reserved top-level name resolves nowhere.
    EXPECT_EQ(ConnectTcp("no-such-host.invalid", 80, kLongMs), nullptr);
    EXPECT_EQ(GetLastError(), WSAHOST_NOT_FOUND);
}

}  // namespace
