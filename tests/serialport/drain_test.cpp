// Draining: a drain waits until what was sent has left the port, gives up
// at its time-out, ends at once when there is no port or it goes away, and
// leaves nothing behind when the port closes after it.
#include <gtest/gtest.h>

#include "pty_pair.h"

#include <chrono>
#include <functional>
#include <future>
#include <string>

#include "Tarnserialport.h"
#include "component_test_support.h"
#include "slow_peer_reader.h"
#include "test_line.h"
#include "virtual_port.h"

namespace {

namespace drv = tarn::driver;
using tarn::test::kEventLimit;
using tarn::test::SelectPort;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr std::uint32_t kLongDrainMs = 60000;

// Output that has not left: bytes that flow control keeps in the queue, or
// a write that is still running.
struct Holding {
    const char* what;
    std::function<void(drv::VirtualPort&, bool)> hold;
    std::function<void(TTarnSerialPort&, drv::VirtualPort&)> send;
};

TEST(Drain, WaitsForOutputThatHasNotLeftAndGivesUpAtItsTimeout) {
    const Holding holdings[] = {
        {"output held in the queue", [](drv::VirtualPort& d, bool on) { d.HoldOutput(on); },
         [](TTarnSerialPort& p, drv::VirtualPort&) { ASSERT_EQ(p.SendChars("tail"), 4u); }},
        {"a write still running", [](drv::VirtualPort& d, bool on) { d.HoldWrites(on); },
         [](TTarnSerialPort& p, drv::VirtualPort& d) {
             p.SendCharsOnNewThread("tail");
             ASSERT_TRUE(d.WaitHeldWrites(1, kEventLimit));
         }},
    };
    for (const Holding& h : holdings) {
        SCOPED_TRACE(h.what);
        drv::VirtualPort device("VDRAIN1");
        TTarnSerialPort port;
        SelectPort(port, device.Name());
        // A write held back waits as long as it takes.
        port.SetWriteTotalTimeoutMultiplier(0);
        port.SetWriteTotalTimeoutConstant(0);
        port.Open();
        EXPECT_TRUE(port.Drain(0));

        h.hold(device, true);
        h.send(port, device);
        const Clock::time_point start = Clock::now();
        EXPECT_FALSE(port.Drain(300));
        EXPECT_GE(Clock::now() - start, 300ms);
        EXPECT_EQ(device.TakeWritten(), "");

        auto drained = std::async(std::launch::async, [&] { return port.Drain(kLongDrainMs); });
        h.hold(device, false);
        EXPECT_TRUE(drained.get());
        EXPECT_EQ(device.WaitWritten(4, kEventLimit), "tail");
        port.Close();
    }
}

TEST(Drain, EndsAtOnceWithoutAPortAndWhenThePortCloses) {
    TTarnSerialPort never;
    EXPECT_FALSE(never.Drain(kLongDrainMs));

    const struct {
        const char* what;
        std::function<void(TTarnSerialPort&, drv::VirtualPort&)> end;
    } endings[] = {
        {"Close", [](TTarnSerialPort& p, drv::VirtualPort&) { p.Close(); }},
        {"the device removed", [](TTarnSerialPort&, drv::VirtualPort& d) { d.Remove(); }},
    };
    for (const auto& ending : endings) {
        SCOPED_TRACE(ending.what);
        drv::VirtualPort device("VDRAIN2");
        TTarnSerialPort port;
        SelectPort(port, device.Name());
        port.Open();
        device.HoldOutput(true);
        ASSERT_EQ(port.SendChars("stuck"), 5u);

        const Clock::time_point start = Clock::now();
        auto drained = std::async(std::launch::async, [&] { return port.Drain(kLongDrainMs); });
        ending.end(port, device);
        EXPECT_FALSE(drained.get());
        EXPECT_LT(Clock::now() - start, kEventLimit);
        // Closed meanwhile or now: a drain of the closed port fails at once.
        port.Close();
        EXPECT_FALSE(port.Drain(kLongDrainMs));
    }
}

// A block much larger than a terminal's buffers, sent while the far end
// reads slowly, arrives whole and in order when the port is drained and
// then closed.
class DrainOnLine : public ::testing::TestWithParam<tarn::test::LineKind> {};

TEST_P(DrainOnLine, EverythingSentArrivesWhenDrainedBeforeClose) {
    if (GetParam() == tarn::test::LineKind::PseudoTerminal &&
        !tarn::test::PtyPair::DrainReachesPeer())
        GTEST_SKIP() << "a relay between the terminals holds bytes that no drain sees";
    std::string why;
    auto line = tarn::test::TestLine::Create(GetParam(), "VDRAIN3", &why);
    ASSERT_NE(line, nullptr) << why;
    std::string block(256 * 1024, '\0');
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 131 % 251);

    TTarnSerialPort port;
    SelectPort(port, line->Name());
    // The write waits for the slow reader, but not for ever.
    port.SetWriteTotalTimeoutMultiplier(0);
    port.SetWriteTotalTimeoutConstant(30000);
    port.Open();
    ASSERT_NE(port.IsConnected(), spNone);

    tarn::test::SlowPeerReader reader(*line, block.size());
    EXPECT_EQ(port.SendChars(block), block.size());
    EXPECT_TRUE(reader.WaitHolding());
    EXPECT_TRUE(port.Drain(kLongDrainMs));
    port.Close();
    const std::string arrived = reader.Finish();
    EXPECT_EQ(arrived.size(), block.size());
    EXPECT_TRUE(arrived == block);
}

INSTANTIATE_TEST_SUITE_P(Lines, DrainOnLine, tarn::test::kLineKinds,
                         [](const auto& info) { return tarn::test::LineKindName(info.param); });

}  // namespace
