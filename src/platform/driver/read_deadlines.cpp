#include "read_deadlines.h"

namespace tarn::driver {

namespace {

constexpr std::uint32_t kMaxDword = 0xFFFFFFFFu;
// A total beyond this (some 139 years) is no limit: added to the clock in
// nanoseconds it would overflow, and end the read at once instead of never.
constexpr std::uint64_t kLongestTotalMs = std::uint64_t{1} << 42;

}  // namespace

ReadDeadlines::ReadDeadlines(const COMMTIMEOUTS& t, std::uint32_t count, Clock::time_point start) {
    immediate_ = t.ReadIntervalTimeout == kMaxDword && t.ReadTotalTimeoutMultiplier == 0 &&
                 t.ReadTotalTimeoutConstant == 0;
    returnOnFirst_ = t.ReadIntervalTimeout == kMaxDword &&
                     t.ReadTotalTimeoutMultiplier == kMaxDword && t.ReadTotalTimeoutConstant != 0;
    // In 64 bits: a large multiplier times a large count passes 32.
    const std::uint64_t totalMs =
        returnOnFirst_ ? t.ReadTotalTimeoutConstant
                       : static_cast<std::uint64_t>(t.ReadTotalTimeoutMultiplier) * count +
                             t.ReadTotalTimeoutConstant;
    if (totalMs != 0 && totalMs <= kLongestTotalMs) {
        total_ = start + std::chrono::milliseconds(static_cast<std::int64_t>(totalMs));
    }
    if (!returnOnFirst_ && t.ReadIntervalTimeout != 0 && t.ReadIntervalTimeout != kMaxDword) {
        interval_ = std::chrono::milliseconds(t.ReadIntervalTimeout);
    }
}

std::optional<ReadDeadlines::Clock::time_point> ReadDeadlines::WaitUntil() const {
    std::optional<Clock::time_point> until = total_;
    // The interval runs only once a byte has arrived.
    if (interval_ && lastArrival_) {
        const Clock::time_point quietEnd = *lastArrival_ + *interval_;
        if (!until || quietEnd < *until) until = quietEnd;
    }
    return until;
}

}  // namespace tarn::driver
