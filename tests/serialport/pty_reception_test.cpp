// The component on a real pseudo-terminal: it opens by name with the
// default settings, receives what the other end writes, and notices when
// the terminal goes away.
#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>

#include "Tarnserialport.h"
#include "component_test_support.h"
#include "pty_pair.h"

namespace {

using tarn::test::WaitUntil;

// Over both receive modes: on Linux the thread that wakes on data sleeps in
// poll on the terminal, which the hang-up ends.
class PtyReception : public ::testing::TestWithParam<tarn::test::ReceiveMode> {};

TEST_P(PtyReception, ReceivesWhatThePeerWritesAndNoticesRemoval) {
    std::string why;
    auto pty = tarn::test::PtyPair::Create(&why);
    ASSERT_NE(pty, nullptr) << why;

    TTarnSerialPort port;
    tarn::test::ApplyReceiveMode(port, GetParam());
    std::string received;
    std::vector<std::string> events;
    port.SetOnReceive([&](TTarnSerialPort*, std::string buffer) { received += buffer; });
    port.SetOnFault([&](TTarnSerialPort*, TCommPort) { events.push_back("fault"); });
    port.SetOnDisconnect([&](TTarnSerialPort*, TCommPort) { events.push_back("disconnect"); });
    tarn::test::SelectPort(port, pty->PortName());
    port.SetBaudRate(br115200);
    port.Open();
    ASSERT_NE(port.IsConnected(), spNone);

    ASSERT_TRUE(pty->WritePeer(std::string("hello\0world", 11)));
    ASSERT_TRUE(WaitUntil([&] { return received.size() >= 11; }));
    EXPECT_EQ(received, std::string("hello\0world", 11));
    // No false verdict of a vanished device while it is there.
    EXPECT_FALSE(port.GetIsFaulted());

    pty->Remove();
    ASSERT_TRUE(WaitUntil([&] { return port.IsConnected() == spNone; }));
    EXPECT_TRUE(port.GetIsFaulted());
    EXPECT_EQ(events, (std::vector<std::string>{"fault", "disconnect"}));
}

TEST_P(PtyReception, ReopensAfterClose) {
    std::string why;
    auto pty = tarn::test::PtyPair::Create(&why);
    ASSERT_NE(pty, nullptr) << why;
    TTarnSerialPort port;
    tarn::test::ApplyReceiveMode(port, GetParam());
    std::string received;
    port.SetOnReceive([&](TTarnSerialPort*, std::string buffer) { received += buffer; });
    tarn::test::SelectPort(port, pty->PortName());
    for (int round = 0; round < 3; ++round) {
        port.Open();
        ASSERT_NE(port.IsConnected(), spNone) << round;
        const std::string text = "round " + std::to_string(round);
        received.clear();
        ASSERT_TRUE(pty->WritePeer(text));
        ASSERT_TRUE(WaitUntil([&] { return received.size() >= text.size(); }));
        EXPECT_EQ(received, text);
        port.Close();
        EXPECT_EQ(port.IsConnected(), spNone);
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, PtyReception, tarn::test::kReceiveModes,
                         [](const auto& info) { return tarn::test::ReceiveModeName(info.param); });

}  // namespace
