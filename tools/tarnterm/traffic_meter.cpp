#include "traffic_meter.h"

#include <algorithm>

namespace tarnterm {

void TrafficMeter::Reset(Clock::time_point now) {
    slots_.fill(0);
    reset_ = now;
    slotStart_ = now;
    total_ = 0;
}

void TrafficMeter::Advance(Clock::time_point now) {
    if (now < slotStart_ + kSlot) return;
    const auto passed = std::min<std::int64_t>((now - slotStart_) / kSlot, kSlots);
    std::rotate(slots_.begin(), slots_.begin() + passed, slots_.end());
    std::fill(slots_.end() - passed, slots_.end(), 0);
    slotStart_ += kSlot * ((now - slotStart_) / kSlot);
}

void TrafficMeter::Add(std::uint64_t bytes, Clock::time_point now) {
    Advance(now);
    slots_.back() += bytes;
    total_ += bytes;
}

double TrafficMeter::Rate(Clock::time_point now) {
    Advance(now);
    // The older slots are whole; the newest has run until now.
    const Clock::duration window =
        std::min(now - reset_, (kSlots - 1) * Clock::duration(kSlot) + (now - slotStart_));
    const double seconds = std::chrono::duration<double>(window).count();
    if (seconds <= 0) return 0;
    std::uint64_t bytes = 0;
    for (const std::uint64_t slot : slots_) bytes += slot;
    return static_cast<double>(bytes) / seconds;
}

}  // namespace tarnterm
