// When a read of a port ends, by the Win32 rules of a port's read
// time-outs, which the Windows serial driver applies and the Linux and
// remote backends copy:
//   MAXDWORD/0/0          returns at once with what is queued;
//   MAXDWORD/MAXDWORD/c   returns as soon as anything is there, waiting at
//                         most c ms for the first byte;
//   otherwise             the total time-out is multiplier * count +
//                         constant ms (none when both are 0), and a
//                         non-zero interval ends the read when the line
//                         stays quiet that long after a byte arrived.
// A read that runs out of time succeeds with what it has.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

#include "serial_driver.h"

namespace tarn::driver {

class ReadDeadlines {
public:
    using Clock = std::chrono::steady_clock;

    // For a read of `count` bytes that starts at `start`.
    ReadDeadlines(const COMMTIMEOUTS& timeouts, std::uint32_t count, Clock::time_point start);

    // Bytes came from the line at `when`.
    void Arrived(Clock::time_point when) { lastArrival_ = when; }

    // Whether a read that holds `done` bytes and finds nothing more queued
    // ends now, without waiting for the line.
    bool EndsWhenNothingQueued(std::uint32_t done) const {
        return immediate_ || (returnOnFirst_ && done > 0);
    }

    // Until when a read that found nothing queued waits for the line: the
    // earlier of its total time-out and the interval after the last byte;
    // none when neither applies.
    std::optional<Clock::time_point> WaitUntil() const;

private:
    bool immediate_ = false;
    bool returnOnFirst_ = false;
    std::optional<Clock::time_point> total_;
    std::optional<std::chrono::milliseconds> interval_;
    std::optional<Clock::time_point> lastArrival_;
};

}  // namespace tarn::driver
