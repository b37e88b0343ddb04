// The Win32 rules of read time-outs that the Linux and remote backends
// apply: when a read that finds nothing queued ends, and until when it
// waits.
#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "read_deadlines.h"

namespace tarn::driver {
namespace {

using Clock = ReadDeadlines::Clock;
using std::chrono::milliseconds;
constexpr std::uint32_t kMax = 0xFFFFFFFFu;

struct Case {
    const char* what;
    COMMTIMEOUTS timeouts;  // interval, multiplier, constant (the write ones unused)
    std::uint32_t count;
    bool endsAtOnceEmpty;  // with no byte yet
    bool endsAfterAByte;   // with one byte taken
    std::optional<int> waitBeforeAnyByteMs;
    std::optional<int> waitAfterAByteAt50Ms;  // a byte arrived 50 ms in
};

TEST(ReadDeadlines, FollowTheWin32RulesForEveryKindOfTimeOut) {
    const std::vector<Case> cases = {
        {"at once with what is queued", {kMax, 0, 0, 0, 0}, 10, true, true, {}, {}},
        {"first byte within the constant", {kMax, kMax, 500, 0, 0}, 10, false, true, 500, 500},
        {"no time-outs: waits for the count", {0, 0, 0, 0, 0}, 10, false, false, {}, {}},
        {"total of multiplier and constant", {0, 10, 100, 0, 0}, 5, false, false, 150, 150},
        {"interval only after a byte", {20, 0, 0, 0, 0}, 10, false, false, {}, 70},
        {"the earlier of interval and total", {20, 0, 60, 0, 0}, 10, false, false, 60, 60},
        {"interval earlier than total", {20, 0, 1000, 0, 0}, 10, false, false, 1000, 70},
        // MAXDWORD times a long count is centuries: no limit, rather than a
        // clock that overflows and ends the read at once.
        {"a total beyond the clock", {0, kMax, 0, 0, 0}, 1u << 20, false, false, {}, {}},
    };
    const Clock::time_point start{milliseconds(1000000)};
    const auto at = [&](std::optional<int> ms) -> std::optional<Clock::time_point> {
        if (!ms) return std::nullopt;
        return start + milliseconds(*ms);
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ReadDeadlines deadlines(c.timeouts, c.count, start);
        EXPECT_EQ(deadlines.EndsWhenNothingQueued(0), c.endsAtOnceEmpty);
        EXPECT_EQ(deadlines.WaitUntil(), at(c.waitBeforeAnyByteMs));
        deadlines.Arrived(start + milliseconds(50));
        EXPECT_EQ(deadlines.EndsWhenNothingQueued(1), c.endsAfterAByte);
        EXPECT_EQ(deadlines.WaitUntil(), at(c.waitAfterAByteAt50Ms));
    }
}

}  // namespace
}  // namespace tarn::driver
