#include "script.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <system_error>

#include "connection.h"
#include "display.h"
#include "exit_status.h"
#include "host_synchronize.h"

namespace tarnterm {
namespace {

using Clock = ReceiveReader::Clock;

// How much of what a timed-out wait received its message shows.
constexpr std::size_t kTailShown = 64;
// Progress is redrawn at most this often.
constexpr std::chrono::milliseconds kProgressPeriod{100};

// Why the file to send cannot be read, in one line; empty when it can. A
// folder is asked about first: some systems open one as a file, and only
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

// About a tenth of a second of line time per write, so that progress moves
// smoothly and a stalled device is noticed soon.
std::size_t ChunkSizeFor(std::int32_t baud) {
    return std::clamp<std::size_t>(static_cast<std::size_t>(baud) / 100, 16, 4096);
}

// The longest a send waits for its last bytes to leave the port: the line
// time of what a driver can still queue after the last write (at most 12
// bits a character, and no more than 64 KiB, more than drivers are known to
// queue), and 2 s for the driver's own delays.
std::uint32_t DrainLimitMs(std::size_t size, std::int32_t baud) {
    constexpr std::size_t kLargestQueue = 64 * 1024;
    constexpr std::uint64_t kBitsPerCharacter = 12;
    constexpr std::uint64_t kSlackMs = 2000;
    const std::uint64_t bits = kBitsPerCharacter * std::min(size, kLargestQueue);
    const std::uint64_t rate = static_cast<std::uint64_t>(std::max<std::int32_t>(baud, 1));
    return static_cast<std::uint32_t>(bits * 1000 / rate + kSlackMs);
}

std::string SecondsText(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%g s", seconds);
    return text;
}

class ScriptRunner {
public:
    ScriptRunner(TTarnSerialPort& port, const Options& options, const std::string& portName,
                 Console& console, StampedLog* log, PlotSeries* plot)
        : port_(port),
          options_(options),
          portName_(portName),
          console_(console),
          reader_(port, log, plot) {}

    int Run() {
        for (const Step& step : options_.steps) {
            const int status = RunStep(step);
            if (status != kExitOk) return status;
        }
        return kExitOk;
    }

private:
    int RunStep(const Step& step) {
        switch (step.kind) {
            case Step::Kind::kSend:
                return Send(step.text, false);
            case Step::Kind::kSendFile: {
                std::string bytes;
                if (!ReadWholeFile(step.text, bytes)) {
                    const std::string why = UnreadableFile(step.text);
                    return Fail(kExitUsage, why.empty() ? "cannot read " + step.text : why);
                }
                return Send(bytes, console_.IsTerminal(Stream::kError));
            }
            case Step::Kind::kSendBreak: {
                std::string error;
                if (SendBreak(port_, options_.breakMs, error)) return kExitOk;
                return Fail(kExitFailure, "could not send a break on " + portName_ + ": " + error);
            }
            case Step::Kind::kExpect:
                return Finish(reader_.Expect(step.text, Deadline()),
                              "no '" + port_.ReplaceControlChars(step.text) + "'");
            case Step::Kind::kReadLine: {
                std::string line;
                const ReceiveReader::Result result = reader_.ReadLine(line, Deadline());
                if (result == ReceiveReader::Result::kDone) {
                    console_.Write(Stream::kOutput, line + "\n");
                }
                return Finish(result, "no complete line");
            }
        }
        return kExitOk;
    }

    int Send(const std::string& bytes, bool showProgress) {
        const Clock::time_point start = Clock::now();
        Clock::time_point lastDrawn = start - kProgressPeriod;
        auto draw = [&](std::size_t sent) {
            const Clock::time_point now = Clock::now();
            if (sent < bytes.size() && now - lastDrawn < kProgressPeriod) return;
            lastDrawn = now;
            const double elapsed = std::chrono::duration<double>(now - start).count();
            console_.Write(Stream::kError, "\r" + FormatProgress(sent, bytes.size(), elapsed));
        };
        // The bar shows 100 % only once the bytes have left the port, not
        // when the driver has taken the last of them.
        std::function<void(std::size_t)> progress;
        if (showProgress) {
            progress = [&](std::size_t sent) {
                if (sent < bytes.size()) draw(sent);
            };
        }
        std::string error;
        const std::size_t sent =
            SendAll(port_, bytes, ChunkSizeFor(options_.line.baud), progress, error);
        const bool drained =
            sent == bytes.size() && port_.Drain(DrainLimitMs(bytes.size(), options_.line.baud));
        if (showProgress) {
            if (drained) draw(sent);
            console_.Write(Stream::kError, "\n");
        }
        if (sent < bytes.size()) {
            return Fail(kExitFailure, "sent " + std::to_string(sent) + " of " +
                                          std::to_string(bytes.size()) + " bytes to " + portName_ +
                                          ": " + error);
        }
        if (drained) return kExitOk;
        if (port_.IsConnected() == spNone) {
            return Fail(kExitFailure, portName_ + " closed while sending; was the device removed?");
        }
        return Fail(kExitNotDrained,
                    "the last bytes sent did not leave " + portName_ +
                        " in time; is flow control holding them, or a server not taking them?");
    }

    Clock::time_point Deadline() const {
        const auto limit = std::chrono::duration<double>(options_.timeoutSeconds);
        return Clock::now() + std::chrono::duration_cast<Clock::duration>(limit);
    }

    int Finish(ReceiveReader::Result result, const std::string& missing) {
        switch (result) {
            case ReceiveReader::Result::kDone:
                return kExitOk;
            case ReceiveReader::Result::kTimeout:
                return Fail(kExitTimeout, missing + " from " + portName_ + " within " +
                                              SecondsText(options_.timeoutSeconds) + WhatArrived() +
                                              "; a longer --timeout may help");
            case ReceiveReader::Result::kLost:
                break;
        }
        return Fail(kExitFailure, portName_ + " closed while waiting; was the device removed?");
    }

    // What the wait that timed out received, named so that it stays on the
    // message's line: all of it with --verbose, else its tail.
    std::string WhatArrived() const {
        const std::string& seen = reader_.Seen();
        if (seen.empty()) return ", and nothing arrived";
        if (options_.verbose || seen.size() <= kTailShown) {
            return "; received '" + port_.ReplaceControlChars(seen) + "'";
        }
        return "; the last " + std::to_string(kTailShown) + " of " + std::to_string(seen.size()) +
               " bytes received: '" +
               port_.ReplaceControlChars(seen.substr(seen.size() - kTailShown)) +
               "' (--verbose shows them all)";
    }

    int Fail(int status, const std::string& message) {
        console_.Write(Stream::kError, "tarnterm: " + message + "\n");
        return status;
    }

    TTarnSerialPort& port_;
    const Options& options_;
    const std::string& portName_;
    Console& console_;
    ReceiveReader reader_;
};

}  // namespace

ReceiveReader::Result ReceiveReader::Fill(Clock::time_point deadline) {
    while (true) {
        const std::string chunk = port_.ReadBuffer();
        if (!chunk.empty()) {
            if (log_ != nullptr) log_->Write(chunk);
            if (plot_ != nullptr) plot_->AddBytes(chunk);
            pending_ += chunk;
            seen_ += chunk;
            if (seen_.size() > 2 * kSeenKept) seen_.erase(0, seen_.size() - kSeenKept);
            return Result::kDone;
        }
        if (port_.IsConnected() == spNone) return Result::kLost;
        const Clock::time_point now = Clock::now();
        if (now >= deadline) return Result::kTimeout;
        // The receive thread announces new bytes through the main thread's
        // queue, which ends this wait early. An announcement can be missed
        // when a read overlaps the thread's count, so the wait is also
        // bounded by one poll period.
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
        const auto period = std::chrono::milliseconds(std::max<std::uint32_t>(port_.GetDelay(), 5));
        tarn::host::CheckSynchronize(static_cast<int>(std::min(left, period).count()));
    }
}

ReceiveReader::Result ReceiveReader::Expect(const std::string& pattern,
                                            Clock::time_point deadline) {
    seen_ = pending_;
    while (true) {
        const std::size_t at = pending_.find(pattern);
        if (at != std::string::npos) {
            pending_.erase(0, at + pattern.size());
            skipLineFeed_ = false;
            return Result::kDone;
        }
        // Only a tail shorter than the pattern can still begin a match.
        if (pending_.size() >= pattern.size()) {
            pending_.erase(0, pending_.size() - (pattern.size() - 1));
        }
        const Result filled = Fill(deadline);
        if (filled != Result::kDone) return filled;
    }
}

ReceiveReader::Result ReceiveReader::ReadLine(std::string& line, Clock::time_point deadline) {
    seen_ = pending_;
    while (true) {
        if (skipLineFeed_ && !pending_.empty()) {
            if (pending_[0] == '\n') pending_.erase(0, 1);
            skipLineFeed_ = false;
        }
        const std::size_t end = pending_.find_first_of("\r\n");
        if (end != std::string::npos) {
            line = pending_.substr(0, end);
            skipLineFeed_ = pending_[end] == '\r';
            pending_.erase(0, end + 1);
            return Result::kDone;
        }
        const Result filled = Fill(deadline);
        if (filled != Result::kDone) return filled;
    }
}

bool CheckScriptFiles(const Options& options, std::string& error) {
    for (const Step& step : options.steps) {
        if (step.kind != Step::Kind::kSendFile) continue;
        error = UnreadableFile(step.text);
        if (!error.empty()) return false;
    }
    return true;
}

int RunScript(TTarnSerialPort& port, const Options& options, const std::string& portName,
              Console& console, StampedLog* log, PlotSeries* plot) {
    return ScriptRunner(port, options, portName, console, log, plot).Run();
}

}  // namespace tarnterm
