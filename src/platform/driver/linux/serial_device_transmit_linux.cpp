// Writing to a terminal: writes with the Win32 write time-outs, draining
// the output, and purging either queue.
#include "serial_device_linux.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

#include "system_calls_linux.h"

namespace tarn::driver {
namespace {

// How long a write to a pseudo-terminal waits for room before it tries
// again.
constexpr std::chrono::milliseconds kPseudoTerminalRoomRecheck{10};

}  // namespace

bool PosixSerialDevice::WriteFile(const void* buffer, std::uint32_t count, std::uint32_t* written) {
    if (written != nullptr) *written = 0;
    if (IsGone()) return false;
    if (count == 0) return true;
    const std::uint32_t abortsAtStart = txAborts_.load();
    std::lock_guard<std::mutex> writeLock(writeMutex_);

    std::uint64_t totalMs;
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        totalMs = static_cast<std::uint64_t>(timeouts_.WriteTotalTimeoutMultiplier) * count +
                  timeouts_.WriteTotalTimeoutConstant;
    }
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(totalMs);
    const Clock::time_point* limit = totalMs != 0 ? &deadline : nullptr;

    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    std::uint32_t done = 0;
    while (done < count) {
        if (txAborts_.load() != abortsAtStart) {
            if (written != nullptr) *written = done;
            return FailWith(ERROR_OPERATION_ABORTED);
        }
        const ssize_t put =
            Retrying([&] { return SystemCalls().write(fd_, bytes + done, count - done); });
        if (put > 0) {
            done += static_cast<std::uint32_t>(put);
            continue;
        }
        if (put < 0 && errno != EAGAIN) {
            if (written != nullptr) *written = done;
            return FailWithErrno(errno);
        }
        if (limit != nullptr && Clock::now() >= deadline) {
            // Windows completes a timed-out write successfully with the
            // count that went out; the code says why it is short.
            if (written != nullptr) *written = done;
            SetLastError(ERROR_SEM_TIMEOUT);
            return true;
        }
        // A pseudo-terminal wakes a waiting writer when its reader takes
        // bytes, not when its buffer work makes room later; a write to one
        // looks for room again now and then.
        const Clock::time_point recheck = Clock::now() + kPseudoTerminalRoomRecheck;
        const Clock::time_point* waitUntil = limit;
        if (pseudoTerminal_ && (limit == nullptr || recheck < deadline)) waitUntil = &recheck;
        if (Wait(POLLOUT, txWake_, waitUntil) < 0) {
            if (written != nullptr) *written = done;
            return FailWithErrno(errno);
        }
    }
    if (written != nullptr) *written = done;
    return true;
}

bool PosixSerialDevice::DrainCommOutput(std::uint32_t milliseconds) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    const std::uint32_t abortsAtStart = txAborts_.load();
    int pauseMs = 1;
    for (;;) {
        if (released_.load()) return FailWith(ERROR_INVALID_HANDLE);
        if (IsGone()) return false;
        {
            // A write that is still running has not handed over all its
            // bytes; with the write lock held, none can add to the queue.
            std::unique_lock<std::mutex> writeLock(writeMutex_, std::try_to_lock);
            int pending = 0;
            if (writeLock.owns_lock() && Ioctl(TIOCOUTQ, &pending) != 0) {
                return FailWithErrno(errno);
            }
            if (writeLock.owns_lock() && pending == 0) {
                // tcdrain has no time-out, but with the queue empty it waits
                // only for the characters in the UART's FIFO and shift
                // register.
                if (Retrying([&] { return SystemCalls().tcdrain(fd_); }) != 0) {
                    return FailWithErrno(errno);
                }
                // A purge meanwhile emptied the queue by discarding it.
                if (txAborts_.load() != abortsAtStart) return FailWith(ERROR_OPERATION_ABORTED);
                return true;
            }
        }
        const int left = PollTimeout(&deadline);
        if (left == 0) return FailWith(ERROR_SEM_TIMEOUT);
        // A plain pause: the release wake-up also ends cancelled input
        // waits for good, and would make this loop spin. A close is seen
        // at the next look.
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(pauseMs, left)));
        pauseMs = std::min(pauseMs * 2, 8);
    }
}

bool PosixSerialDevice::PurgeComm(std::uint32_t flags) {
    constexpr std::uint32_t kKnown = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
    if (IsGone()) return false;
    if ((flags & ~kKnown) != 0) return FailWith(ERROR_INVALID_PARAMETER);
    if ((flags & PURGE_TXABORT) != 0) {
        txAborts_.fetch_add(1);
        Signal(txWake_);
    }
    if ((flags & PURGE_RXABORT) != 0) {
        rxAborts_.fetch_add(1);
        Signal(rxWake_);
    }
    // An aborted write's bytes are still in the kernel's queue; Windows would
    // not send them, so they are discarded with the transmit queue. A
    // pseudo-terminal counts no queue and has none to discard: its flush
    // would take from the peer's input bytes that were reported sent.
    const bool output = (flags & (PURGE_TXABORT | PURGE_TXCLEAR)) != 0 && !pseudoTerminal_;
    const bool input = (flags & PURGE_RXCLEAR) != 0;
    if (output || input) {
        const int queue = output && input ? TCIOFLUSH : output ? TCOFLUSH : TCIFLUSH;
        if (Retrying([&] { return SystemCalls().tcflush(fd_, queue); }) != 0) {
            return FailWithErrno(errno);
        }
    }
    if (input) {
        std::lock_guard<std::mutex> lock(stateMutex_);
        filter_.Reset();
        readAhead_.clear();
        readAheadTaken_ = 0;
    }
    return true;
}

}  // namespace tarn::driver
