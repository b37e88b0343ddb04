// The terminal's count of the bytes that went one way, with the rate over
// the last two seconds, for the menu's counters.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>

namespace tarnterm {

class TrafficMeter {
public:
    using Clock = std::chrono::steady_clock;

    // Starts again from nothing at `now`.
    void Reset(Clock::time_point now);
    void Add(std::uint64_t bytes, Clock::time_point now);
    std::uint64_t Total() const { return total_; }
    // Bytes per second over the two seconds before `now`, or over the time
    // since the reset when that is shorter.
    double Rate(Clock::time_point now);

private:
    // The last two seconds in tenths, the newest at the back; the newest slot
    // began at `slotStart_`.
    static constexpr int kSlots = 20;
    static constexpr std::chrono::milliseconds kSlot{100};
    void Advance(Clock::time_point now);

    std::array<std::uint64_t, kSlots> slots_{};
    Clock::time_point reset_;
    Clock::time_point slotStart_;
    std::uint64_t total_ = 0;
};

}  // namespace tarnterm
