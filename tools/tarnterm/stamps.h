// Stamps for the lines of received data, on the screen and in the traffic
// log: the local time with milliseconds, or the time since the line before.
#pragma once

#include <chrono>
#include <fstream>
#include <functional>
#include <optional>
#include <string>

#include "options.h"

namespace tarnterm {

class LineStamper {
public:
    using Clock = std::chrono::system_clock;

    // `withDate`: absolute stamps hold the date too, as the log's do.
    // `now` is the clock, which tests replace.
    LineStamper(StampKind kind, bool withDate,
                std::function<Clock::time_point()> now = &Clock::now);

    // `text` with a stamp before each line that begins in it:
    // "[15:03:55.123] ", "[2026-03-01 15:03:55.123] " or "[+0.250] ".
    // `atLineStart` says whether the first byte of `text` begins a line, and
    // is left saying whether the first byte of the next text will. The lines
    // of one text share one reading of the clock. Main thread only, as the
    // local time is read through the C library's shared buffer.
    std::string Stamp(const std::string& text, bool& atLineStart);

private:
    std::string StampFor(Clock::time_point now);

    StampKind kind_;
    bool withDate_;
    std::function<Clock::time_point()> now_;
    // The moment of the last stamp, from which the next delta counts.
    std::optional<Clock::time_point> last_;
};

// The traffic log with a stamp before each line. The component's own log
// stamps each chunk as one driver read brought it and ends every record
// with a line break of its own, which splits lines and adds blank ones;
// this log keeps the lines as they came. Main thread only.
class StampedLog {
public:
    StampedLog(const std::string& path, StampKind kind);
    // Appends received bytes, stamped; the file is flushed at once, so that
    // it can be followed while the program runs.
    void Write(const std::string& bytes);

private:
    std::ofstream file_;
    LineStamper stamper_;
    bool atLineStart_ = true;
};

}  // namespace tarnterm
