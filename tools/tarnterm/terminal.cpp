#include "terminal.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string_view>
#include <utility>
#include <vector>

#include "demo_instrument.h"
#include "exit_status.h"
#include "frames.h"
#include "host_synchronize.h"

namespace tarnterm {
namespace {

using Clock = std::chrono::steady_clock;

// The longest wait for keys; keys and queued events end it sooner.
constexpr int kIdleWaitMs = 500;
constexpr std::size_t kReceivedKept = 64 * 1024;

}  // namespace

std::string RecordingStoppedEarly(const std::string& file) {
    return "the recording to " + file +
           " stopped early: the file could not be written (a full disk, or a limit on file "
           "size); make room, or record elsewhere";
}

Terminal::Terminal(TTarnSerialPort& port, Console& console, TerminalSettings settings,
                   DemoInstrument* demo)
    : port_(port),
      console_(console),
      settings_(std::move(settings)),
      demo_(demo),
      stamper_(settings_.timestamps, false),
      display_([this](const std::string& text) { console_.Write(Stream::kOutput, text); },
               [this](const std::string& bytes) { return port_.ReplaceControlChars(bytes); },
               settings_.display),
      dtr_(port_.GetEnableDTROnOpen()),
      rts_(port_.GetEnableRTSOnOpen()) {
    receivedMeter_.Reset(Clock::now());
    sentMeter_.Reset(Clock::now());
    if (settings_.timestamps != StampKind::kNone) display_.SetStamper(&stamper_);
    display_.SetColor(settings_.color);
    if (settings_.plot != nullptr && settings_.plotScreen != PlotMode::kNone) {
        plotScreen_ = std::make_unique<PlotScreen>(console_, *settings_.plot,
                                                   settings_.plotScreen == PlotMode::kOnly,
                                                   settings_.color, settings_.plotScale);
    }
    Attach();
}

Terminal::~Terminal() { Detach(); }

void Terminal::Attach() {
    // The receive thread queues its events for this thread and then calls
    // the hook, which ends the wait for keys so that they run at once.
    Console* console = &console_;
    tarn::host::SetWakeMainThread([console] { console->Wake(); });

    port_.SetOnConnect([this](TTarnSerialPort*, TCommPort) {
        // DTR and RTS open as the user left them (SetLine); a break does
        // not outlive its connection.
        break_ = false;
        removed_ = false;
        recordingTold_ = false;
        linesKnown_ = ModemLinesKnown(port_);
        warnedOffline_ = false;
        connectedAt_ = Clock::now();
        receivedMeter_.Reset(connectedAt_);
        sentMeter_.Reset(connectedAt_);
        if (reconnecting_) {
            display_.Status("reconnected to " + settings_.portName);
        } else {
            display_.Status("connected to " + settings_.portName + " at " +
                            DescribeLineSettings(settings_.line));
        }
    });
    port_.SetOnReceive([this](TTarnSerialPort*, std::string bytes) {
        // The screen shows the bytes mapped, or their frames; the log and
        // the chart take them as they came.
        if (!settings_.frames && ShowsText()) display_.Data(ApplyMap(settings_.map.in, bytes));
        if (settings_.log != nullptr) settings_.log->Write(bytes);
        if (settings_.plot != nullptr && settings_.plot->AddBytes(bytes) > 0 && plotScreen_) {
            plotScreen_->Changed();
        }
        receivedMeter_.Add(bytes.size(), Clock::now());
        received_ += bytes;
        if (received_.size() > 2 * kReceivedKept) {
            received_.erase(0, received_.size() - kReceivedKept);
        }
    });
    // The frames of a chunk follow its OnReceive.
    port_.SetOnFrame([this](TTarnSerialPort*, std::string frame) {
        if (ShowsText()) display_.Frame(frame);
    });
    port_.SetOnFrameError([this](TTarnSerialPort*, TFrameErrorReason reason, std::string bytes) {
        display_.Status(DescribeFrameError(reason, bytes));
    });
    port_.SetOnLineStatusChange([this](TTarnSerialPort*, TLineStatusSet lines) {
        lineStatus_ = lines;
        display_.Status("modem lines " + DescribeModemLines(lines));
    });
    port_.SetOnFault([this](TTarnSerialPort*, TCommPort) {
        removed_ = true;
        display_.Status(settings_.portName + " was removed");
    });
    port_.SetOnDisconnect([this](TTarnSerialPort*, TCommPort) {
        lineStatus_ = TLineStatusSet();
        // This may run inside a step of the send, which ends it after.
        if (fileSend_) fileSend_->lost = true;
        display_.Status("disconnected from " + settings_.portName);
        if (!closing_ && !changingRate_) ConnectionLost();
    });
}

bool Terminal::ShowsText() const {
    return settings_.plotScreen != PlotMode::kOnly || plotScreen_ == nullptr;
}

void Terminal::Detach() {
    port_.SetOnConnect(nullptr);
    port_.SetOnReceive(nullptr);
    port_.SetOnFrame(nullptr);
    port_.SetOnFrameError(nullptr);
    port_.SetOnLineStatusChange(nullptr);
    port_.SetOnFault(nullptr);
    port_.SetOnDisconnect(nullptr);
    tarn::host::SetWakeMainThread({});
}

OpenOutcome Terminal::Connect() {
    closing_ = false;
    return OpenWantedPort(port_, Wanted(), settings_.portName, settings_.line);
}

void Terminal::WaitForPort() {
    waiting_ = true;
    nextAttempt_ = Clock::now() + kPortRetryPeriod;
    display_.Status("waiting for " + Wanted() + " to appear; Ctrl-T q quits");
}

const std::string& Terminal::Wanted() const {
    return settings_.portSpec.empty() ? settings_.portName : settings_.portSpec;
}

void Terminal::Close() {
    closing_ = true;
    waiting_ = false;
    port_.Close();
}

void Terminal::Finish(int status) {
    if (finished_) return;
    finished_ = true;
    exitStatus_ = status;
}

void Terminal::ConnectionLost() {
    if (settings_.reconnect) {
        waiting_ = true;
        reconnecting_ = true;
        nextAttempt_ = Clock::now();
        display_.Status("waiting for " + Wanted() + " to come back; Ctrl-T q quits");
        return;
    }
    display_.Status(
        "the connection is lost; start tarnterm with --reconnect to wait for "
        "the device to come back");
    Finish(kExitFailure);
}

void Terminal::TryReconnect() {
    if (!waiting_ || Clock::now() < nextAttempt_) return;
    nextAttempt_ = Clock::now() + kPortRetryPeriod;
    // Whatever keeps it away, the next attempt follows.
    if (OpenWantedPort(port_, Wanted(), settings_.portName, settings_.line).status == kExitOk) {
        waiting_ = false;
    }
}

void Terminal::Service(int waitMs) {
    // A file send goes on without waiting.
    tarn::host::CheckSynchronize(fileSend_ ? 0 : waitMs);
    // Before a reconnection, so that a send whose connection went ends.
    if (fileSend_) ContinueFileSend();
    TryReconnect();
    if (plotScreen_) plotScreen_->Service();
    WatchRecording();
}

void Terminal::WatchRecording() {
    // A port that closes, or goes away, ends its recording as well; its
    // events have run by then, and said why.
    if (settings_.recordFile.empty() || recordingTold_ || removed_ || closing_ || waiting_ ||
        changingRate_ || finished_) {
        return;
    }
    if (port_.IsConnected() == spNone || port_.IsRecording()) return;
    recordingTold_ = true;
    recordingStopped_ = true;
    display_.Status(RecordingStoppedEarly(settings_.recordFile));
}

void Terminal::ShowBanner() {
    display_.Status("Ctrl-T is the menu key: Ctrl-T h for help, Ctrl-T q to quit");
    if (demo_ != nullptr) {
        display_.Status("type *IDN?, MEAS?, STREAM ON, STREAM OFF, RING or HELP and Enter;");
        display_.Status("Ctrl-T p pulls the instrument's plug");
    }
}

int Terminal::Run() {
    ShowBanner();
    while (!finished_) {
        int waitMs = kIdleWaitMs;
        if (waiting_) {
            const auto untilAttempt =
                std::chrono::ceil<std::chrono::milliseconds>(nextAttempt_ - Clock::now());
            waitMs = static_cast<int>(
                std::clamp<std::chrono::milliseconds::rep>(untilAttempt.count(), 0, waitMs));
        }
        if (plotScreen_ && plotScreen_->MsUntilDue() >= 0) {
            waitMs = std::min(waitMs, plotScreen_->MsUntilDue());
        }
        if (fileSend_) waitMs = 0;
        std::string keys;
        const bool inputOpen = console_.ReadKeys(keys, waitMs);
        Service(0);
        HandleKeys(keys);
        if (!inputOpen) {
            const int signal = console_.StopSignal();
            Finish(signal != 0 ? kExitSignalBase + signal : kExitOk);
        }
    }
    Close();
    // As a script's: the session was not all recorded, as it was told.
    if (exitStatus_ == kExitOk && recordingStopped_) exitStatus_ = kExitFailure;
    return exitStatus_;
}

bool Terminal::RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const Clock::time_point deadline = Clock::now() + limit;
    while (!done()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0 || StopSignal() != 0) return false;
        Service(static_cast<int>(std::min<std::chrono::milliseconds::rep>(left.count(), 20)));
    }
    return true;
}

void Terminal::HandleKeys(const std::string& keys) {
    std::string typed;
    for (char key : keys) {
        if (finished_) break;
        if (entry_ != Entry::kNone) {
            EntryKey(key);
        } else if (fileSend_) {
            KeyWhileSending(key);
        } else if (menuPending_) {
            menuPending_ = false;
            // What was typed before the menu key goes out first.
            SendTyped(std::exchange(typed, std::string()));
            MenuCommand(key);
        } else if (key == kMenuKey) {
            menuPending_ = true;
        } else if (key == '\r') {
            typed += EnterKeyBytes(settings_.enter);
        } else {
            typed += key;
        }
    }
    SendTyped(typed);
}

void Terminal::SendTyped(const std::string& bytes) {
    if (bytes.empty()) return;
    if (!Connected()) {
        if (!warnedOffline_) display_.Status("not connected; typed keys are not sent");
        warnedOffline_ = true;
        return;
    }
    if (settings_.echo) {
        // Whatever Enter sends, the echo moves to a new line once.
        std::string shown;
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
            shown += bytes[i] == '\r' ? '\n' : bytes[i];
        }
        display_.Text(shown);
    }
    const std::string out = ApplyMap(settings_.map.out, bytes);
    std::string error;
    const std::size_t sent = SendAll(port_, out, 4096, {}, error);
    sentMeter_.Add(sent, Clock::now());
    if (sent < out.size()) display_.Status("sending failed: " + error);
}

void Terminal::KeyWhileSending(char key) {
    if (key == kMenuKey) {
        // What the driver still holds would go on for a while.
        port_.ClearOutputBuffer();
        EndFileSend("sending " + fileSend_->path + " cancelled after " +
                    std::to_string(fileSend_->transfer.Sent()) + " of " +
                    std::to_string(fileSend_->transfer.Size()) + " bytes");
        return;
    }
    if (!warnedSending_) {
        display_.Status("typed keys are not sent while a file is; Ctrl-T cancels the send");
    }
    warnedSending_ = true;
}

void Terminal::StartFileSend(const std::string& path) {
    if (!Connected()) {
        display_.Status("nothing sent: the port is not open");
        return;
    }
    std::string bytes;
    if (!ReadWholeFile(path, bytes)) {
        const std::string why = UnreadableFile(path);
        display_.Status((why.empty() ? "cannot read " + path : why) + "; nothing sent");
        return;
    }
    display_.Status("sending " + path + ", " + std::to_string(bytes.size()) +
                    " bytes; Ctrl-T cancels");
    warnedSending_ = false;
    fileSend_ = std::make_unique<FileSend>(port_, path, std::move(bytes), settings_.line.baud);
}

void Terminal::ContinueFileSend() {
    FileSend& send = *fileSend_;
    const auto failed = [&send](const std::string& why) {
        return "sending " + send.path + " failed after " + std::to_string(send.transfer.Sent()) +
               " of " + std::to_string(send.transfer.Size()) + " bytes: " + why;
    };
    if (send.lost || !Connected()) {
        EndFileSend(failed("the port closed while sending"));
        return;
    }
    const std::size_t before = send.transfer.Sent();
    send.transfer.Step();
    sentMeter_.Add(send.transfer.Sent() - before, Clock::now());
    switch (send.transfer.Now()) {
        case Transfer::State::kWriting:
        case Transfer::State::kDraining: {
            const std::string bar = send.pace.Next(send.transfer.Sent());
            if (!bar.empty()) display_.Progress(bar);
            return;
        }
        case Transfer::State::kDone:
            display_.Progress(send.pace.Final());
            EndFileSend("sent " + send.path + ", " + std::to_string(send.transfer.Size()) +
                        " bytes");
            return;
        case Transfer::State::kFailed:
            break;
    }
    EndFileSend(failed(send.transfer.Error()));
}

void Terminal::EndFileSend(const std::string& message) {
    fileSend_.reset();
    display_.Status(message);
}

}  // namespace tarnterm
