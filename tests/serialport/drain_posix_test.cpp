// Draining on a real pseudo-terminal: a block much larger than the
// terminal's buffers, sent while the other end reads slowly, arrives whole
// and in order when the port is drained and then closed.
#include <gtest/gtest.h>

#include <string>

#include "Tarnserialport.h"
#include "component_test_support.h"
#include "pty_pair.h"
#include "slow_peer_reader.h"

namespace {

TEST(PtyDrain, EverythingSentArrivesWhenDrainedBeforeClose) {
    std::string why;
    auto pty = tarn::test::PtyPair::Create(&why);
    ASSERT_NE(pty, nullptr) << why;
    std::string block(256 * 1024, '\0');
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 131 % 251);

    TTarnSerialPort port;
    tarn::test::SelectPort(port, pty->PortName());
    // The write waits for the slow reader, but not for ever.
    port.SetWriteTotalTimeoutMultiplier(0);
    port.SetWriteTotalTimeoutConstant(30000);
    port.Open();
    ASSERT_NE(port.IsConnected(), spNone);

    tarn::test::SlowPeerReader reader(*pty, block.size());
    EXPECT_EQ(port.SendChars(block), block.size());
    EXPECT_TRUE(reader.WaitHolding());
    EXPECT_TRUE(port.Drain(60000));
    port.Close();
    const std::string arrived = reader.Finish();
    EXPECT_EQ(arrived.size(), block.size());
    EXPECT_TRUE(arrived == block);
}

}  // namespace
