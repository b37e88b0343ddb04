// What the scenarios share: opening the component on a pseudo-terminal, the
// peer thread that drives the master end with its own processor time, and
// the servicing of the main thread's queue while the component works.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "Tarnserialport.h"
#include "measure.h"
#include "pseudo_terminal.h"
#include "scenarios.h"

namespace tarn::bench {

RunOutcome Failed(std::string why);

// Opens `port` on the slave of `pty` as a custom port; empty on success,
// otherwise why not.
std::string OpenOnSlave(TTarnSerialPort& port, const PseudoTerminal& pty);

// The other end of the line: runs `body` on a thread of its own and counts
// that thread's processor time, which the scenario takes off the process's
// total so that only the receiving (or sending) side is charged.
class Peer {
public:
    // `body` returns empty on success, otherwise why it failed.
    explicit Peer(std::function<std::string()> body);
    ~Peer();
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    // Any thread.
    bool Done() const { return done_.load(); }
    // Waits for the body; its failure, or empty. Call once.
    std::string Join();
    // Valid after Join.
    double CpuSeconds() const { return cpuSeconds_; }
    Clock::time_point FinishedAt() const { return finishedAt_; }

private:
    std::function<std::string()> body_;
    std::string failure_;
    double cpuSeconds_ = 0;
    Clock::time_point finishedAt_{};
    std::atomic<bool> done_{false};
    std::thread thread_;  // last, so that it starts with everything above in place
};

// Runs the main thread's queue (where the component's events run) until
// `done` returns true, or until nothing has moved for kStallLimit, as told
// by `progress` changing its answer. False on a stall.
bool ServiceUntil(const std::function<bool()>& done,
                  const std::function<std::uint64_t()>& progress);

}  // namespace tarn::bench
