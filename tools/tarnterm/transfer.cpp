#include "transfer.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <utility>

#include "display.h"
#include "host_synchronize.h"

namespace tarnterm {
namespace {

using Clock = std::chrono::steady_clock;

// At fast rates the write time-out of a millisecond a byte, the least that
// can be set, is what bounds one write to a device that takes nothing.
constexpr std::size_t kLargestChunk = 256;
// How long the writes may take nothing before a send gives up.
constexpr std::chrono::seconds kPatience{5};
// Progress is redrawn at most this often.
constexpr std::chrono::milliseconds kProgressPeriod{100};
// The longest one step of a transfer's drain blocks the caller.
constexpr std::uint32_t kDrainStepMs = 50;

}  // namespace

// A folder is asked about first: some systems open one as a file, and only
// the reading fails.
std::string UnreadableFile(const std::string& path) {
    const std::filesystem::path file = std::filesystem::u8path(path);
    std::error_code error;
    if (std::filesystem::is_directory(file, error)) {
        return "cannot read " + path + "; it is a folder, name a file in it";
    }
    if (!std::ifstream(file, std::ios::binary)) {
        return "cannot read " + path + "; check the name and that you may read it";
    }
    return {};
}

bool ReadWholeFile(const std::string& path, std::string& bytes) {
    std::ifstream file(std::filesystem::u8path(path), std::ios::binary);
    if (!file) return false;
    try {
        bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    } catch (const std::ios_base::failure&) {
        // The stream library reports a failed read this way whatever the
        // stream's exception mask.
        return false;
    }
    return !file.bad();
}

std::size_t ChunkSizeFor(std::int32_t baud) {
    return std::clamp<std::size_t>(static_cast<std::size_t>(baud) / 100, 1, kLargestChunk);
}

std::uint32_t WriteTimeOutPerByteMs(std::int32_t baud) {
    constexpr std::uint64_t kBitsPerCharacter = 12;
    const std::uint64_t rate = static_cast<std::uint64_t>(std::max<std::int32_t>(baud, 1));
    const std::uint64_t twiceLineTime = (2 * kBitsPerCharacter * 1000 + rate - 1) / rate;
    return static_cast<std::uint32_t>(std::clamp<std::uint64_t>(twiceLineTime, 1, 1000));
}

// At most 12 bits a character, and no more than 64 KiB, more than drivers
// are known to queue.
std::uint32_t DrainLimitMs(std::size_t size, std::int32_t baud) {
    constexpr std::size_t kLargestQueue = 64 * 1024;
    constexpr std::uint64_t kBitsPerCharacter = 12;
    constexpr std::uint64_t kSlackMs = 2000;
    const std::uint64_t bits = kBitsPerCharacter * std::min(size, kLargestQueue);
    const std::uint64_t rate = static_cast<std::uint64_t>(std::max<std::int32_t>(baud, 1));
    return static_cast<std::uint32_t>(bits * 1000 / rate + kSlackMs);
}

ChunkedSend::ChunkedSend(TTarnSerialPort& port, std::string bytes, std::size_t chunkSize)
    : port_(port),
      bytes_(std::move(bytes)),
      chunkSize_(std::max<std::size_t>(chunkSize, 1)),
      lastTaken_(Clock::now()) {}

void ChunkedSend::Step() {
    if (Finished()) return;
    const std::size_t size = std::min(chunkSize_, bytes_.size() - sent_);
    std::uint32_t took = 0;
    try {
        took = port_.SendChars(bytes_.substr(sent_, size));
    } catch (const ETarnSerialPortException& e) {
        // A device that refused in words (a replayed port sent other
        // bytes) says more than that the port closed.
        error_ = e.ErrorCode() != 0 ? std::string(e.what()) : "the port closed while sending";
        return;
    }
    sent_ += took;
    tarn::host::CheckSynchronize(0);
    if (took > 0) {
        lastTaken_ = Clock::now();
    } else if (Clock::now() - lastTaken_ >= kPatience) {
        error_ = "the device took no data for several seconds; is flow control holding it?";
    }
}

std::size_t SendAll(TTarnSerialPort& port, const std::string& bytes, std::size_t chunkSize,
                    const std::function<void(std::size_t)>& progress, std::string& error,
                    const std::function<bool()>& stopped) {
    ChunkedSend send(port, bytes, chunkSize);
    while (!send.Finished()) {
        if (stopped && stopped()) {
            error = "the program was told to stop";
            return send.Sent();
        }
        send.Step();
        if (progress) progress(send.Sent());
    }
    error = send.Error();
    return send.Sent();
}

ProgressPace::ProgressPace(std::size_t total)
    : total_(total), start_(Clock::now()), lastDrawn_(start_ - kProgressPeriod) {}

std::string ProgressPace::Next(std::size_t sent) {
    const Clock::time_point now = Clock::now();
    if (sent >= total_ || now - lastDrawn_ < kProgressPeriod) return {};
    lastDrawn_ = now;
    return FormatProgress(sent, total_, std::chrono::duration<double>(now - start_).count());
}

std::string ProgressPace::Final() const {
    return FormatProgress(total_, total_,
                          std::chrono::duration<double>(Clock::now() - start_).count());
}

Transfer::Transfer(TTarnSerialPort& port, std::string bytes, std::int32_t baud)
    : port_(port), writes_(port, std::move(bytes), ChunkSizeFor(baud)), baud_(baud) {}

void Transfer::Step() {
    if (state_ == State::kWriting) {
        writes_.Step();
        if (!writes_.Finished()) return;
        if (!writes_.Complete()) {
            error_ = writes_.Error();
            state_ = State::kFailed;
            return;
        }
        drainDeadline_ = Clock::now() + std::chrono::milliseconds(DrainLimitMs(Size(), baud_));
        state_ = State::kDraining;
    }
    if (state_ != State::kDraining) return;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(drainDeadline_ - Clock::now());
    const auto stepMs =
        static_cast<std::uint32_t>(std::clamp<std::int64_t>(left.count(), 0, kDrainStepMs));
    if (port_.Drain(stepMs)) {
        state_ = State::kDone;
    } else if (port_.IsConnected() == spNone || port_.GetIsFaulted()) {
        error_ = "the port closed while sending";
        state_ = State::kFailed;
    } else if (stepMs == 0) {
        error_ = "the last bytes did not leave the port in time; is flow control holding them?";
        state_ = State::kFailed;
    }
}

}  // namespace tarnterm
