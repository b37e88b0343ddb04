#include "demo_instrument.h"

#include <cstdio>

#include "serial_driver.h"

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
    stop_ = true;
    thread_.join();
}

std::string DemoInstrument::NextReading() {
    // A temperature that wanders a little, the same each run.
    const int step = readings_++;
    const double value = 21.5 + ((step * 37) % 41 - 20) / 100.0;
    char text[32];
    std::snprintf(text, sizeof text, "%+.2f C\r\n", value);
    return text;
}

void DemoInstrument::Answer(const std::string& line) {
    const std::string command = UpperCase(Trimmed(line));
    if (command.empty()) return;
    ringing_ = false;
    if (command == "*IDN?") {
        port_.Inject(std::string(kIdentity) + "\r\n");
    } else if (command == "MEAS?") {
        port_.Inject(NextReading());
    } else if (command == "STREAM ON") {
        streaming_ = true;
        port_.Inject("OK\r\n");
    } else if (command == "STREAM OFF") {
        streaming_ = false;
        port_.Inject("OK\r\n");
    } else if (command == "RING") {
        ringing_ = true;
        port_.Inject("OK\r\n");
    } else if (command == "HELP" || command == "?") {
        port_.Inject(
            "Commands: *IDN? (identity), MEAS? (one reading), STREAM ON / STREAM OFF,\r\n"
            "RING (raises RING until the next command), HELP.\r\n");
    } else {
        port_.Inject("ERR unknown command '" + Trimmed(line) + "'; try HELP\r\n");
    }
}

void DemoInstrument::Run() {
    namespace drv = tarn::driver;
    std::string line;
    int session = -1;
    std::uint32_t lines = 0;
    Clock::time_point nextReading = Clock::now();
    while (!stop_) {
        const std::string written = port_.WaitWritten(1, kTick);
        // Every new connection meets an instrument fresh from power-up.
        if (port_.OpenCount() != session) {
            session = port_.OpenCount();
            line.clear();
            streaming_ = false;
            ringing_ = false;
        }
        for (char c : written) {
            if (c == '\r' || c == '\n') {
                Answer(line);
                line.clear();
            } else if (line.size() < 256) {
                line += c;
            }
        }
        if (streaming_ && port_.IsOpen() && Clock::now() >= nextReading) {
            port_.Inject(NextReading());
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
