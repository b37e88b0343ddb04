#include "demo_instrument.h"

#include <cstdio>
#include <utility>

#include "comm_types.h"

namespace tarnterm {
namespace {

using Clock = std::chrono::steady_clock;

// How often the instrument looks at its lines when nothing is written.
constexpr std::chrono::milliseconds kTick{20};

std::string Trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::string UpperCase(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

}  // namespace

DemoInstrument::DemoInstrument(const std::string& portName, std::chrono::milliseconds readingPeriod)
    : port_(portName), readingPeriod_(readingPeriod) {
    thread_ = std::thread([this] { Run(); });
}

DemoInstrument::~DemoInstrument() {
    {
        std::lock_guard<std::mutex> lock(pauseMutex_);
        stop_ = true;
    }
    pauseChanged_.notify_all();
    thread_.join();
}

void DemoInstrument::Pause(bool paused) {
    std::unique_lock<std::mutex> lock(pauseMutex_);
    paused_ = paused;
    pauseChanged_.notify_all();
    if (paused) pauseChanged_.wait(lock, [this] { return stopped_ || stop_; });
}

std::string DemoInstrument::NextReading() {
    // A temperature that wanders a little, the same each run.
    const int step = readings_++;
    const double value = 21.5 + ((step * 37) % 41 - 20) / 100.0;
    char text[32];
    std::snprintf(text, sizeof text, "%+.2f C\r\n", value);
    return text;
}

void DemoInstrument::HoldHostOutput(bool hold) {
    if (hold == holding_) return;
    holding_ = hold;
    port_.HoldOutput(hold);
}

void DemoInstrument::Send(std::string text) {
    // Held before the answer goes, so that a host that finds its input
    // queue full finds its output held too.
    HoldHostOutput(true);
    pending_ = std::move(text);
    pending_.erase(0, port_.InjectInto(opening_, pending_));
    HoldHostOutput(!pending_.empty());
}

void DemoInstrument::Answer(const std::string& line) {
    const std::string command = UpperCase(Trimmed(line));
    if (command.empty()) return;
    ringing_ = false;
    if (command == "*IDN?") {
        Send(std::string(kIdentity) + "\r\n");
    } else if (command == "MEAS?") {
        Send(NextReading());
    } else if (command == "STREAM ON") {
        streaming_ = true;
        Send("OK\r\n");
    } else if (command == "STREAM OFF") {
        streaming_ = false;
        Send("OK\r\n");
    } else if (command == "RING") {
        ringing_ = true;
        Send("OK\r\n");
    } else if (command == "HELP" || command == "?") {
        Send(
            "Commands: *IDN? (identity), MEAS? (one reading), STREAM ON / STREAM OFF,\r\n"
            "RING (raises RING until the next command), HELP.\r\n");
    } else {
        Send("ERR unknown command '" + Trimmed(line) + "'; try HELP\r\n");
    }
}

void DemoInstrument::ReadCommands() {
    std::size_t at = 0;
    while (at < unread_.size() && pending_.empty()) {
        const char c = unread_[at++];
        if (c == '\r' || c == '\n') {
            if (!lineTooLong_) Answer(line_);
            line_.clear();
            lineTooLong_ = false;
        } else if (lineTooLong_) {
            // Dropped up to the line's end.
        } else if (line_.size() < kLongestCommand) {
            line_ += c;
        } else {
            line_.clear();
            lineTooLong_ = true;
            Send("ERR command longer than " + std::to_string(kLongestCommand) +
                 " characters; try HELP\r\n");
        }
    }
    unread_.erase(0, at);
}

void DemoInstrument::StartAfresh(int opening) {
    opening_ = opening;
    line_.clear();
    lineTooLong_ = false;
    unread_.clear();
    pending_.clear();
    HoldHostOutput(false);
    streaming_ = false;
    ringing_ = false;
}

void DemoInstrument::Run() {
    namespace drv = tarn::driver;
    std::uint32_t lines = 0;
    Clock::time_point nextReading = Clock::now();
    while (!stop_) {
        {
            std::unique_lock<std::mutex> lock(pauseMutex_);
            if (paused_) {
                stopped_ = true;
                pauseChanged_.notify_all();
                pauseChanged_.wait(lock, [this] { return !paused_ || stop_; });
                stopped_ = false;
            }
        }
        // Every new connection meets an instrument fresh from power-up; the
        // answers to one that has gone reach no one.
        if (port_.OpenCount() != opening_ || (!pending_.empty() && !port_.IsOpen())) {
            StartAfresh(port_.OpenCount());
        }
        if (!pending_.empty()) {
            // The host makes room as it reads; meanwhile what it writes
            // waits in its own queue.
            port_.WaitInputRoom(kTick);
            pending_.erase(0, port_.InjectInto(opening_, pending_));
            HoldHostOutput(!pending_.empty());
        } else if (unread_.empty()) {
            tarn::driver::VirtualWrites written = port_.WaitWrittenByOneOpening(kTick);
            // Bytes of an opening that has ended are never answered.
            if (written.opening > opening_) StartAfresh(written.opening);
            if (written.opening == opening_) unread_ = std::move(written.bytes);
        }
        ReadCommands();
        if (streaming_ && pending_.empty() && port_.IsOpen() && Clock::now() >= nextReading) {
            Send(NextReading());
            nextReading = Clock::now() + readingPeriod_;
        }
        if (!streaming_) nextReading = Clock::now();

        std::uint32_t now = 0;
        if (port_.Dtr()) now |= drv::MS_DSR_ON;
        if (port_.Rts()) now |= drv::MS_CTS_ON;
        if (streaming_) now |= drv::MS_RLSD_ON;
        if (ringing_) now |= drv::MS_RING_ON;
        if (now != lines) {
            port_.SetModemStatus(now);
            lines = now;
        }
    }
}

}  // namespace tarnterm
