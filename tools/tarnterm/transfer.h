// Sending bytes whole, the one path of --send, --send-file, typed keys and
// the terminal's file send: the file read at once, writes sized to the line
// rate and repeated where the driver took part, a progress bar paced for the
// eye, and the wait for the last bytes to leave the port.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "Tarnserialport.h"

namespace tarnterm {

// Why the file to send cannot be read, in one line; empty when it can.
std::string UnreadableFile(const std::string& path);
// The bytes of the file; false when it cannot be read whole.
bool ReadWholeFile(const std::string& path, std::string& bytes);

// About a tenth of a second of line time per write, so that progress moves
// smoothly and a stalled device is noticed soon, and at most 256 bytes, so
// that no write waits much more than half a second for one (with the write
// time-outs below).
std::size_t ChunkSizeFor(std::int32_t baud);

// The write time-outs that tarnterm opens its ports with: a write waits for
// the device twice the line time of its bytes (at least a millisecond a
// byte) and a quarter of a second more. With the component's own (a tenth
// of a second a byte) one write to a device that takes nothing would last
// minutes, and neither a stop signal nor a key would end it sooner.
std::uint32_t WriteTimeOutPerByteMs(std::int32_t baud);
constexpr std::uint32_t kWriteTimeOutConstantMs = 250;

// The longest a send waits for its last bytes to leave the port: the line
// time of what a driver can still queue after the last write, and 2 s for
// the driver's own delays.
std::uint32_t DrainLimitMs(std::size_t size, std::int32_t baud);

// Bytes sent whole in writes of at most `chunkSize`, one write a step, so
// that a caller can read keys between them. Main thread only.
class ChunkedSend {
public:
    ChunkedSend(TTarnSerialPort& port, std::string bytes, std::size_t chunkSize);

    // One write, and then the main thread's queued events, which the
    // receive thread's events wait for. Gives up when the writes have taken
    // nothing for several seconds, or when the port closes.
    void Step();
    // All sent, or given up.
    bool Finished() const { return Complete() || !error_.empty(); }
    bool Complete() const { return sent_ == bytes_.size(); }
    std::size_t Sent() const { return sent_; }
    std::size_t Size() const { return bytes_.size(); }
    // Why it gave up; empty while it has not.
    const std::string& Error() const { return error_; }

private:
    TTarnSerialPort& port_;
    const std::string bytes_;
    const std::size_t chunkSize_;
    std::size_t sent_ = 0;
    std::chrono::steady_clock::time_point lastTaken_;
    std::string error_;
};

// Sends all of `bytes` as ChunkedSend does, calling `progress` with the
// count sent so far after each write, and stops before the next write once
// `stopped` holds. Returns the count sent; `error` says why when it is
// short. Main thread only.
std::size_t SendAll(TTarnSerialPort& port, const std::string& bytes, std::size_t chunkSize,
                    const std::function<void(std::size_t)>& progress, std::string& error,
                    const std::function<bool()>& stopped = {});

// Paces a progress bar: redrawn at most every tenth of a second, and at
// 100 % only once the bytes have left the port, not when the driver has
// taken the last of them.
class ProgressPace {
public:
    using Clock = std::chrono::steady_clock;
    explicit ProgressPace(std::size_t total);

    // The bar for `sent` bytes when it is due again; empty when not, and
    // always for the whole, which only Final shows.
    std::string Next(std::size_t sent);
    // The bar for all the bytes.
    std::string Final() const;

private:
    const std::size_t total_;
    const Clock::time_point start_;
    Clock::time_point lastDrawn_;
};

// A whole send in steps: the writes, then the wait for the last bytes to
// leave the port, bounded by DrainLimitMs. Between steps the caller reads
// keys and shows what arrives. Main thread only.
class Transfer {
public:
    enum class State { kWriting, kDraining, kDone, kFailed };

    Transfer(TTarnSerialPort& port, std::string bytes, std::int32_t baud);

    // One write, or at most a twentieth of a second of the drain.
    void Step();
    State Now() const { return state_; }
    std::size_t Sent() const { return writes_.Sent(); }
    std::size_t Size() const { return writes_.Size(); }
    // Why it failed; empty unless it has.
    const std::string& Error() const { return error_; }

private:
    TTarnSerialPort& port_;
    ChunkedSend writes_;
    const std::int32_t baud_;
    State state_ = State::kWriting;
    std::chrono::steady_clock::time_point drainDeadline_;
    std::string error_;
};

}  // namespace tarnterm
