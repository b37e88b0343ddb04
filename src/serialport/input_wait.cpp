// The wait of the synchronous reads for input, and the port they read.
#include "input_wait_p.h"

#include <algorithm>
#include <chrono>
#include <optional>

#include "host_thread.h"

namespace drv = tarn::driver;
namespace host = tarn::host;

namespace tarn::serialport {
namespace {

using Clock = std::chrono::steady_clock;

// A waiting read sleeps in the driver until a byte arrives (the driver
// decides how: a wait on the device, or short sleeps between looks at its
// queue), but never longer than this in one go, so that it looks at the port
// and its own settings now and then even if a wake-up were missed. A Close
// ends the wait at once.
constexpr std::uint32_t kLongestDriverWaitMs = 1000;
// Where the driver's wait ends by itself when a byte comes and when the
// device goes, there is nothing to look at in between: the read sleeps
// until its time is up, at most this long in one go.
constexpr std::uint32_t kLongestWakingWaitMs = 24 * 60 * 60 * 1000;
constexpr std::uint32_t kWakesForInputAndRemoval = drv::COMMWAIT_INPUT | drv::COMMWAIT_REMOVAL;

std::uint32_t LongestWaitOn(drv::HANDLE handle) {
    const bool wakes =
        (drv::GetCommWaitWakes(handle) & kWakesForInputAndRemoval) == kWakesForInputAndRemoval;
    return wakes ? kLongestWakingWaitMs : kLongestDriverWaitMs;
}

// The pauses where the driver cannot wait: after a failed queue query, or
// on a closed port.
// Failed queries keep the short pause, so that a vanished device is noticed
// soon; the others double it up to the longest.
constexpr std::uint32_t kPollPauseMs = 1;
constexpr std::uint32_t kLongestPollPauseMs = 4;

// A queue query that fails this many times in a row means that the device
// has gone: drivers answer a pulled adapter or a hung-up terminal with
// several different codes, but a port that is there answers every query,
// and a single failure may be a passing one.
constexpr int kFailedQueriesMeaningGone = 20;

}  // namespace

drv::HANDLE ApplicationPort(const TTarnSerialPortPrivate& d) {
    if (d.AutoReceive()) return drv::INVALID_HANDLE_VALUE;
    return d.PortHandle();
}

bool WaitForInput(const TTarnSerialPortPrivate& d, std::int64_t limitMs, drv::HANDLE readOn) {
    const bool limited = limitMs >= 0;
    const Clock::time_point deadline =
        Clock::now() + std::chrono::milliseconds(limited ? limitMs : 0);
    int failedQueries = 0;
    std::uint32_t pauseMs = kPollPauseMs;
    // Asked once per handle, at its first silent look.
    drv::HANDLE askedHandle = drv::INVALID_HANDLE_VALUE;
    std::uint32_t longestWaitMs = kLongestDriverWaitMs;
    while (true) {
        // A Close on another thread waits for the receive thread, whose last
        // event may need this (the main) thread: a read that waited on
        // would hold both until the Close gave up.
        if (d.CloseRequested()) return false;
        const drv::HANDLE handle = d.PortHandle();
        // Taken before AutoReceive is looked at, so that switching it on
        // ends the driver's wait below, which its wake would otherwise
        // miss if it came in between.
        const std::uint64_t wakesSeen =
            handle != drv::INVALID_HANDLE_VALUE ? drv::CommWakesAsked(handle) : 0;
        // From now on the receive thread takes the bytes; the read ends as
        // it would at its time-out.
        if (d.AutoReceive()) return false;
        // Handles are never used twice: another one is another connection.
        if (readOn != drv::INVALID_HANDLE_VALUE && handle != readOn) return false;
        bool silent = false;
        bool failed = false;
        if (handle != drv::INVALID_HANDLE_VALUE) {
            if (const std::optional<std::uint32_t> waiting = drv::InputWaiting(handle)) {
                failedQueries = 0;
                if (*waiting > 0) return true;
                silent = *waiting == 0;
            } else if (++failedQueries >= kFailedQueriesMeaningGone) {
                return false;
            } else {
                failed = true;
            }
        } else if (!limited) {
            return false;
        }

        // A read with a time-out that began on a closed port waits it out;
        // the caller sees the time-out at the top of its loop.
        if (silent && handle != askedHandle) {
            askedHandle = handle;
            longestWaitMs = LongestWaitOn(handle);
        }
        std::uint32_t waitMs = silent ? longestWaitMs : pauseMs;
        if (limited) {
            const Clock::time_point now = Clock::now();
            if (now >= deadline) return true;
            // The last wait ends with the time-out, not after it.
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
            if (left.count() < waitMs) waitMs = static_cast<std::uint32_t>(left.count());
        }
        // After a wait the caller's read looks at the queue, so that a byte
        // is taken with one query, not two. A wait that the device fails is
        // followed by a query here, which counts the failure.
        if (silent && drv::WaitCommInput(handle, waitMs, wakesSeen)) return true;
        host::TThread::Sleep(silent ? kPollPauseMs : waitMs);
        pauseMs = failed ? kPollPauseMs : std::min(pauseMs * 2, kLongestPollPauseMs);
    }
}

}  // namespace tarn::serialport
