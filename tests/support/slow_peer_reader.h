// The far end of a line reading slowly, for tests of what is still in a
// terminal's buffers when the port closes. It reads in small pieces with a
// pause after each until only a tail is left, then holds until Finish, so
// that the tail is certainly in the buffers while the port is drained and
// closed. The peer is a PtyPair or a TestLine: anything with their ReadPeer.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <string>
#include <thread>

namespace tarn::test {

template <class Peer>
class SlowPeerReader {
public:
    // More than the line discipline's 4 KiB, less than the buffers hold in
    // all, so that the writes can end while part of it waits in the
    // pseudo-terminal's own buffer.
    static constexpr std::size_t kTail = 8 * 1024;

    SlowPeerReader(Peer& pty, std::size_t expected)
        : pty_(pty), expected_(expected), thread_([this] { Run(); }) {}
    ~SlowPeerReader() { Finish(); }

    // Waits until everything but the tail has been read.
    bool WaitHolding() const {
        const auto deadline = std::chrono::steady_clock::now() + kPatience;
        while (!holding_) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }

    // Reads the tail and gives everything that arrived.
    std::string Finish() {
        resume_ = true;
        if (thread_.joinable()) thread_.join();
        return arrived_;
    }

private:
    static constexpr std::chrono::seconds kPatience{30};

    void Run() {
        const std::size_t holdAt = expected_ > kTail ? expected_ - kTail : 0;
        while (arrived_.size() < expected_) {
            if (arrived_.size() == holdAt) {
                holding_ = true;
                while (!resume_) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            const std::size_t end = arrived_.size() < holdAt ? holdAt : expected_;
            const std::size_t want = std::min<std::size_t>(512, end - arrived_.size());
            const std::string got = pty_.ReadPeer(want, kPatience);
            if (got.empty()) break;
            arrived_ += got;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        holding_ = true;
    }

    Peer& pty_;
    const std::size_t expected_;
    std::atomic<bool> holding_{false};
    std::atomic<bool> resume_{false};
    std::string arrived_;  // the reading thread's until it has been joined
    std::thread thread_;
};

}  // namespace tarn::test
