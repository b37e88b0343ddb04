#include "script.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <utility>

#include "connection.h"
#include "exit_status.h"
#include "frames.h"
#include "host_synchronize.h"
#include "transfer.h"

namespace tarnterm {
namespace {

using Clock = ReceiveReader::Clock;

// How much of what a timed-out wait received its message shows.
constexpr std::size_t kTailShown = 64;

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
          reader_(port, log, plot) {
        reader_.StopWhen([this] { return Stopped(); });
        // A frame error does not end a wait: the frame after it may be the
        // one awaited.
        reader_.ReportFrameErrors([this](TFrameErrorReason reason, const std::string& bytes) {
            console_.Write(Stream::kError, "tarnterm: " + DescribeFrameError(reason, bytes) + "\n");
        });
    }

    int Run() {
        for (const Step& step : options_.steps) {
            const int status = Stopped() ? StoppedStatus() : RunStep(step);
            if (status != kExitOk) return status;
        }
        return kExitOk;
    }

private:
    // A stop signal ends the step that runs and the script, without a
    // message: the program ends by the signal once the port is closed.
    bool Stopped() const { return console_.StopSignal() != 0; }
    int StoppedStatus() const { return kExitSignalBase + console_.StopSignal(); }

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
            case Step::Kind::kPulse:
                return Pulse(step);
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
            case Step::Kind::kSendFrame:
                return SendFrame(step.text);
            case Step::Kind::kExpectFrame:
                return ExpectFrame(step.text);
        }
        return kExitOk;
    }

    // One frame as the component encodes it for its framing, sent as any
    // other bytes are: in pieces that a stop signal can end between, and
    // a frame cut short is a failed send, not a mistake of the command line.
    int SendFrame(const std::string& payload) {
        if (port_.IsConnected() == spNone) {
            return Fail(kExitFailure, portName_ + " closed before a frame could be sent to it");
        }
        std::string frame;
        std::string problem;
        try {
            frame = port_.EncodeFrame(payload);
        } catch (const ETarnSerialPortException& e) {
            problem = e.what();
        }
        // A framing that adds nothing to the payload has no frame without
        // a byte.
        if (problem.empty() && frame.empty()) problem = "a frame of this framing needs a byte";
        if (!problem.empty()) {
            const std::string shown =
                payload.size() <= kTailShown
                    ? "'" + port_.ReplaceControlChars(payload) + "'"
                    : "'" + port_.ReplaceControlChars(payload.substr(0, kTailShown)) + "...' (" +
                          std::to_string(payload.size()) + " bytes)";
            return Fail(kExitUsage, "--send-frame " + shown + " cannot be sent as a frame: " +
                                        problem + "; change the text or --frame");
        }
        return Send(frame, false, "; the device holds a broken frame");
    }

    // Without a text, the frame that came is printed as --display shows it.
    int ExpectFrame(const std::string& wanted) {
        const bool any = wanted.empty();
        std::string frame;
        const ReceiveReader::Result result =
            reader_.ExpectFrame(any ? nullptr : &wanted, frame, Deadline());
        if (result == ReceiveReader::Result::kDone && any) {
            const auto name = [this](const std::string& bytes) {
                return port_.ReplaceControlChars(bytes);
            };
            console_.Write(Stream::kOutput, FrameText(options_.display, frame, name) + "\n");
        }
        return Finish(result,
                      any ? "no frame" : "no frame '" + port_.ReplaceControlChars(wanted) + "'");
    }

    // The line is turned from the state it opened in, then back.
    int Pulse(const Step& step) {
        const bool dtr = step.text == "DTR";
        const bool now = dtr ? port_.GetEnableDTROnOpen() : port_.GetEnableRTSOnOpen();
        const std::uint32_t ms = step.ms != 0 ? step.ms : options_.pulseMs;
        std::string error;
        if (PulseLine(port_, dtr ? &TTarnSerialPort::SetDTR : &TTarnSerialPort::SetRTS, !now, ms,
                      error)) {
            return kExitOk;
        }
        return Fail(kExitFailure,
                    "could not pulse " + step.text + " on " + portName_ + ": " + error);
    }

    // `cutShort` is said after the count of a send that did not go out whole.
    int Send(const std::string& bytes, bool showProgress, const std::string& cutShort = "") {
        ProgressPace pace(bytes.size());
        std::function<void(std::size_t)> progress;
        if (showProgress) {
            progress = [&](std::size_t sent) {
                const std::string bar = pace.Next(sent);
                if (!bar.empty()) console_.Write(Stream::kError, "\r" + bar);
            };
        }
        std::string error;
        const std::size_t sent = SendAll(port_, bytes, ChunkSizeFor(options_.line.baud), progress,
                                         error, [this] { return Stopped(); });
        const bool drained =
            sent == bytes.size() && Drain(DrainLimitMs(bytes.size(), options_.line.baud));
        if (showProgress) {
            if (drained) console_.Write(Stream::kError, "\r" + pace.Final());
            console_.Write(Stream::kError, "\n");
        }
        if (Stopped()) return StoppedStatus();
        if (sent < bytes.size()) {
            return Fail(kExitFailure, "sent " + std::to_string(sent) + " of " +
                                          std::to_string(bytes.size()) + " bytes to " + portName_ +
                                          ": " + error + cutShort);
        }
        return drained ? kExitOk : NotDrained();
    }

    // The verdict on bytes that were written but did not leave in time.
    int NotDrained() {
        if (port_.IsConnected() == spNone || port_.GetIsFaulted()) {
            return Fail(kExitFailure, portName_ + " closed while sending; was the device removed?");
        }
        return Fail(kExitNotDrained,
                    "the last bytes sent did not leave " + portName_ +
                        " in time; is flow control holding them, or a server not taking them?");
    }

    // Port::Drain in slices, so that a stop signal ends the wait soon. A
    // slice that ends before its time has not timed out: the port failed or
    // closed, and there is nothing more to wait for.
    bool Drain(std::uint32_t limitMs) {
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(limitMs);
        while (!Stopped()) {
            const Clock::time_point start = Clock::now();
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - start);
            const auto slice =
                std::clamp<std::chrono::milliseconds::rep>(left.count(), 0, kStopCheckMs);
            if (port_.Drain(static_cast<std::uint32_t>(slice))) return true;
            if (slice == left.count() || Clock::now() - start < std::chrono::milliseconds(slice)) {
                return false;
            }
        }
        return false;
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
            case ReceiveReader::Result::kStopped:
                return StoppedStatus();
            case ReceiveReader::Result::kTooLong:
                return Fail(kExitTimeout, "a line from " + portName_ + " is longer than " +
                                              std::to_string(ReceiveReader::kLongestLine / 1024) +
                                              " KiB, the longest --read-line takes" +
                                              WhatArrived());
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

ReceiveReader::~ReceiveReader() {
    if (!receiving_) return;
    // A chunk that the receive thread still delivers goes to the handler
    // that the component has when the delivery runs: the one given back.
    port_.SetAutoReceive(previousAutoReceive_);
    port_.SetOnReceive(previousOnReceive_);
    port_.SetOnFrame(previousOnFrame_);
    port_.SetOnFrameError(previousOnFrameError_);
}

namespace {

// Keeps the newest `kept` bytes of `bytes` once it holds twice as many.
void Bound(std::string& bytes, std::size_t kept) {
    if (bytes.size() > 2 * kept) bytes.erase(0, bytes.size() - kept);
}

}  // namespace

void ReceiveReader::Take(const std::string& chunk) {
    if (log_ != nullptr) log_->Write(chunk);
    if (plot_ != nullptr) plot_->AddBytes(chunk);
    pending_ += chunk;
    seen_ += chunk;
    Bound(seen_, kSeenKept);
    if (framed_) {
        sinceFrame_ += chunk;
        Bound(sinceFrame_, kSeenKept);
    }
    arrived_ = true;
}

void ReceiveReader::TakeFrame(std::string frame) {
    framesSize_ += frame.size() + 1;
    frames_.push_back(std::move(frame));
    // Frames that no step takes go, the oldest first, once they are many.
    while (framesSize_ > kSeenKept && frames_.size() > 1) {
        framesSize_ -= frames_.front().size() + 1;
        frames_.pop_front();
    }
    arrived_ = true;
}

void ReceiveReader::TakeOverReception() {
    if (receiving_) return;
    receiving_ = true;
    previousAutoReceive_ = port_.GetAutoReceive();
    previousOnReceive_ = port_.GetOnReceive();
    // The handler runs on this thread, from the queue that the waits serve
    // (and the sends and pulses between them, whose bytes wait here for
    // the next step). With AutoReceive off it would only be told of bytes,
    // with an empty string.
    port_.SetOnReceive([this](TTarnSerialPort*, std::string chunk) {
        if (!chunk.empty()) Take(chunk);
    });
    framed_ = port_.GetFraming() != frNone;
    previousOnFrame_ = port_.GetOnFrame();
    previousOnFrameError_ = port_.GetOnFrameError();
    // The frames of a chunk come after its OnReceive, on this thread too.
    port_.SetOnFrame([this](TTarnSerialPort*, std::string frame) { TakeFrame(std::move(frame)); });
    port_.SetOnFrameError([this](TTarnSerialPort*, TFrameErrorReason reason, std::string bytes) {
        if (reportFrameError_) reportFrameError_(reason, bytes);
    });
    port_.SetAutoReceive(true);
}

ReceiveReader::Result ReceiveReader::Fill(Clock::time_point deadline) {
    if (Clock::now() >= deadline) return Result::kTimeout;
    while (true) {
        // Asked first, so that a device that keeps sending cannot hold it off.
        if (stopped_ && stopped_()) return Result::kStopped;
        if (std::exchange(arrived_, false)) return Result::kDone;
        // With a framing the bytes stay for the receive thread, so that the
        // component's framing sees every one of them.
        if (!receiving_ && port_.GetFraming() == frNone) {
            const std::string chunk = port_.ReadBuffer();
            if (!chunk.empty()) {
                Take(chunk);
                arrived_ = false;
                return Result::kDone;
            }
        }
        if (port_.IsConnected() == spNone) return Result::kLost;
        const Clock::time_point now = Clock::now();
        if (now >= deadline) return Result::kTimeout;
        // Nothing waits: from here on the chunks come to Take as they
        // arrive, and the queue's first call ends this wait. A receive
        // thread that had just told of bytes, which the read above took,
        // sleeps one Delay before it reads again: once per reader.
        TakeOverReception();
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
        tarn::host::CheckSynchronize(
            static_cast<int>(std::min<std::chrono::milliseconds::rep>(left.count(), kStopCheckMs)));
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
    // The bytes before this hold no line end: each is looked at once.
    std::size_t scanned = 0;
    while (true) {
        if (skipLineFeed_ && !pending_.empty()) {
            if (pending_[0] == '\n') pending_.erase(0, 1);
            skipLineFeed_ = false;
        }
        const std::size_t end = pending_.find_first_of("\r\n", scanned);
        if (end != std::string::npos && end <= kLongestLine) {
            line = pending_.substr(0, end);
            skipLineFeed_ = pending_[end] == '\r';
            pending_.erase(0, end + 1);
            return Result::kDone;
        }
        if (end != std::string::npos || pending_.size() > kLongestLine) {
            // Too long to keep: what came of it is used up, so that a device
            // that never ends its line cannot fill the memory.
            skipLineFeed_ = end != std::string::npos && pending_[end] == '\r';
            pending_.erase(0, end == std::string::npos ? std::string::npos : end + 1);
            return Result::kTooLong;
        }
        scanned = pending_.size();
        const Result filled = Fill(deadline);
        if (filled != Result::kDone) return filled;
    }
}

ReceiveReader::Result ReceiveReader::ExpectFrame(const std::string* wanted, std::string& frame,
                                                 Clock::time_point deadline) {
    seen_ = sinceFrame_;
    while (true) {
        while (!frames_.empty()) {
            std::string next = std::move(frames_.front());
            frames_.pop_front();
            framesSize_ -= next.size() + 1;
            if (wanted == nullptr || next == *wanted) {
                frame = std::move(next);
                sinceFrame_.clear();
                return Result::kDone;
            }
        }
        const Result filled = Fill(deadline);
        if (filled != Result::kDone) return filled;
        // Frame waits use no bytes up; they are kept as far as a later byte
        // wait may still want them.
        Bound(pending_, kSeenKept);
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

OpenOutcome OpenScriptPort(TTarnSerialPort& port, const Options& options, std::string& portName,
                           Console& console) {
    // The demo's port is named by the program, not on the command line.
    const std::string wanted = options.port.empty() ? portName : options.port;
    OpenOutcome outcome = OpenWantedPort(port, wanted, portName, options.line);
    if (outcome.status != kExitNoSuchPort || !options.reconnect) return outcome;
    const std::string limit = SecondsText(options.timeoutSeconds);
    console.Write(Stream::kError, "tarnterm: waiting for " + wanted + " to appear, for up to " +
                                      limit + " (--timeout)\n");
    const Clock::time_point deadline =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(
                           std::chrono::duration<double>(options.timeoutSeconds));
    // As the terminal does, whatever keeps the port away is waited out;
    // only the last attempt's verdict is told.
    while (Clock::now() < deadline && console.StopSignal() == 0) {
        ServeEventsUntil(std::min(Clock::now() + kPortRetryPeriod, deadline));
        outcome = OpenWantedPort(port, wanted, portName, options.line);
        if (outcome.status == kExitOk) return outcome;
    }
    return outcome.status == kExitNoSuchPort ? PortDidNotAppear(wanted, limit) : outcome;
}

int RunScript(TTarnSerialPort& port, const Options& options, const std::string& portName,
              Console& console, StampedLog* log, PlotSeries* plot) {
    return ScriptRunner(port, options, portName, console, log, plot).Run();
}

}  // namespace tarnterm
