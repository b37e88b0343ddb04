// Draining on a real pseudo-terminal: a block much larger than the
// terminal's buffers, sent while the other end reads slowly, arrives whole
// and in order when the port is drained and then closed.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

#include "Tarnserialport.h"
#include "component_test_support.h"
#include "pty_pair.h"

namespace {

using tarn::test::kEventLimit;
using namespace std::chrono_literals;

TEST(PtyDrain, EverythingSentArrivesWhenDrainedBeforeClose) {
    std::string why;
    auto pty = tarn::test::PtyPair::Create(&why);
    ASSERT_NE(pty, nullptr) << why;
    std::string block(256 * 1024, '\0');
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 131 % 251);

    TTarnSerialPort port;
    tarn::test::SelectPort(port, pty->PortName());
    // The write waits for the slow reader as long as it takes.
    port.SetWriteTotalTimeoutMultiplier(0);
    port.SetWriteTotalTimeoutConstant(0);
    port.Open();
    ASSERT_NE(port.IsConnected(), spNone);

    std::string arrived;
    std::thread reader([&] {
        // Small reads, each followed by a pause, keep the terminal's
        // buffers full while the port writes.
        while (arrived.size() < block.size()) {
            const std::size_t want = std::min<std::size_t>(512, block.size() - arrived.size());
            const std::string got = pty->ReadPeer(want, kEventLimit);
            if (got.empty()) break;
            arrived += got;
            std::this_thread::sleep_for(1ms);
        }
    });
    EXPECT_EQ(port.SendChars(block), block.size());
    EXPECT_TRUE(port.Drain(60000));
    port.Close();
    reader.join();
    EXPECT_EQ(arrived.size(), block.size());
    EXPECT_TRUE(arrived == block);
}

}  // namespace
