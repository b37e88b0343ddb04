// What the scenarios share: the pseudo-terminal pair with its two ends,
// opening the component on it, the plain port of the baseline, the peer
// thread that drives the other end with its own processor time, and the
// servicing of the main thread's queue while the component works.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Tarnserialport.h"
#include "measure.h"
#include "scenarios.h"

namespace tarn::bench {

RunOutcome Failed(std::string why);

// A pseudo-terminal pair: the port end, which the component and the baseline
// open by name, and the peer end, which the scenario's peer thread drives.
// On Linux the pair is the process's own, the peer its master; under Wine
// socat joins two terminals and the port end is a COM port.
class Line {
public:
    // Null with the reason in `whyNot` on failure.
    static std::unique_ptr<Line> Create(std::string* whyNot);
    virtual ~Line() = default;

    virtual std::string PortName() const = 0;

    // Writes all `size` bytes to the peer end. False when it fails or takes
    // no byte for kStallLimit.
    virtual bool WritePeer(const char* data, std::size_t size) = 0;
    // Reads at most `room` bytes from the peer end once any have come.
    // Returns the count; 0 when nothing came within `timeoutMs`; -1 on
    // failure.
    virtual long ReadPeer(char* out, std::size_t room, int timeoutMs) = 0;
    // Reads exactly `size` bytes, each wait limited by kStallLimit.
    bool ReadPeerExactly(char* out, std::size_t size);
};

// The port end opened and driven the plain way, as the baseline does: on
// Linux non-blocking and raw with read, write and poll; on Windows with
// CreateFile, SetCommState, SetCommTimeouts, ReadFile and WriteFile.
class RawPort {
public:
    // Null with the reason in `whyNot` on failure.
    static std::unique_ptr<RawPort> Open(const Line& line, std::string* whyNot);
    virtual ~RawPort() = default;

    // As Line::WritePeer and Line::ReadPeer, on the port end.
    virtual bool WriteAll(const char* data, std::size_t size) = 0;
    virtual long ReadSome(char* out, std::size_t room, int timeoutMs) = 0;
};

// Opens `port` on the port end of `line`, named as a custom port (a "COMn"
// name connects as that COM port); empty on success, otherwise why not.
std::string OpenOnLine(TTarnSerialPort& port, const Line& line);

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

// The figures of a round-trip run: the median and 99th percentile of the
// trips' times in microseconds, and the echoing side's processor time per
// trip.
RunOutcome TripFigures(const std::vector<double>& micros, std::size_t trips, double cpuSeconds);

// Runs the main thread's queue (where the component's events run) until
// `done` returns true, or until nothing has moved for kStallLimit, as told
// by `progress` changing its answer. False on a stall.
bool ServiceUntil(const std::function<bool()>& done,
                  const std::function<std::uint64_t()>& progress);

}  // namespace tarn::bench
