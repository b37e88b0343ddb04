// Reading a terminal: reads with the Win32 time-out rules, the bytes read
// ahead of a read's count, peeking, input waits, and the queue status that
// ClearCommError reports.
#include "serial_device_linux.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <optional>
#include <utility>

#include "read_deadlines.h"
#include "system_calls_linux.h"

namespace tarn::driver {
namespace {

// The errors of the line since `before`, as ClearCommError reports them.
std::uint32_t ErrorsSince(const serial_icounter_struct& before, const serial_icounter_struct& now) {
    std::uint32_t errors = 0;
    if (now.buf_overrun != before.buf_overrun) errors |= CE_RXOVER;
    if (now.overrun != before.overrun) errors |= CE_OVERRUN;
    if (now.parity != before.parity) errors |= CE_RXPARITY;
    if (now.frame != before.frame) errors |= CE_FRAME;
    if (now.brk != before.brk) errors |= CE_BREAK;
    return errors;
}

}  // namespace

bool PosixSerialDevice::ClearCommError(std::uint32_t* errors, COMSTAT* stat) {
    if (errors != nullptr) *errors = 0;
    std::unique_lock<std::mutex> lock(stateMutex_);
    if (ReadAheadAnswers()) {
        // Line errors are counted at the kernel's next answer.
        if (stat != nullptr) *stat = QueueState();
        return true;
    }
    lock.unlock();
    if (IsGone()) return false;
    int queued = 0;
    int pending = 0;
    // A read that takes from the kernel after the count and before the lock
    // would have its bytes counted twice, in the kernel's queue and as read
    // ahead; count again then.
    for (;;) {
        const std::uint32_t readsBefore = kernelReads_.load();
        if (Ioctl(FIONREAD, &queued) != 0) return FailWithErrno(errno);
        // A pseudo-terminal's writes go to the other end's input at once;
        // the kernel counts its output queue as empty whatever is unread.
        if (!pseudoTerminal_ && Ioctl(TIOCOUTQ, &pending) != 0) return FailWithErrno(errno);
        lock.lock();
        if (kernelReads_.load() == readsBefore) break;
        lock.unlock();
    }

    std::uint32_t found = 0;
    // Only real serial drivers count line errors; elsewhere the word stays 0.
    serial_icounter_struct now{};
    if (haveCounts_ && Ioctl(TIOCGICOUNT, &now) == 0) {
        found = ErrorsSince(counts_, now);
        counts_ = now;
    }
    if (errors != nullptr) *errors = found;
    kernelAnsweredTick_ = CoarseTick();
    kernelInQueue_ = static_cast<std::uint32_t>(queued);
    kernelOutQueue_ = static_cast<std::uint32_t>(pending);
    if (stat != nullptr) *stat = QueueState();
    return true;
}

long PosixSerialDevice::ReadQueued(std::uint8_t* out, std::uint32_t room, bool& rawSeen) {
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        if (ReadAheadHeld() > 0) {
            const std::size_t n = std::min<std::size_t>(ReadAheadHeld(), room);
            std::memcpy(out, readAhead_.data() + readAheadTaken_, n);
            readAheadTaken_ += n;
            rawSeen = true;
            return static_cast<long>(n);
        }
    }
    // A room that holds a whole read of the kernel takes the bytes where
    // they are to go; a smaller one takes them through a buffer of its own.
    if (room >= kKernelRead) return ReadKernel(out, room, room, nullptr, rawSeen);
    std::uint8_t cooked[kKernelRead];
    const long given = ReadKernel(cooked, sizeof cooked, room, nullptr, rawSeen);
    if (given > 0) std::memcpy(out, cooked, static_cast<std::size_t>(given));
    return given;
}

long PosixSerialDevice::ReadKernel(std::uint8_t* into, std::size_t room, std::size_t give,
                                   InputEnd* end, bool& rawSeen) {
    const ssize_t got = Retrying([&] { return SystemCalls().read(fd_, into, room); });
    if (got < 0) {
        if (errno == EAGAIN) return 0;
        FailWithErrno(errno);
        return -1;
    }
    if (got == 0) {
        // With VMIN and VTIME at 0 an empty queue reads as end of file, and
        // so does a hung-up terminal; only the latter polls as hung up.
        return IsGone() ? -1 : 0;
    }
    rawSeen = true;
    std::lock_guard<std::mutex> lock(stateMutex_);
    // The filter never writes a byte before it has read it.
    const std::size_t made = filter_.Process(into, static_cast<std::size_t>(got), into);
    std::size_t given = std::min(made, give);
    if (end != nullptr && given > 0) {
        given = std::clamp<std::size_t>(end->Find(reinterpret_cast<const char*>(into), given), 1,
                                        given);
    }
    readAhead_.assign(reinterpret_cast<const char*>(into) + given, made - given);
    readAheadTaken_ = 0;
    ++kernelReads_;
    // The kernel's last counts no longer hold.
    kernelAnsweredTick_ = Clock::time_point{};
    return static_cast<long>(given);
}

bool PosixSerialDevice::ReadFile(void* buffer, std::uint32_t count, std::uint32_t* read) {
    if (read != nullptr) *read = 0;
    {
        // A read that bytes read ahead meet completes at once. No other read
        // can be waiting meanwhile: a waiting read has taken them all.
        std::lock_guard<std::mutex> lock(stateMutex_);
        if (count > 0 && ReadAheadHeld() >= count && ReadAheadAnswers()) {
            std::memcpy(buffer, readAhead_.data() + readAheadTaken_, count);
            readAheadTaken_ += count;
            if (read != nullptr) *read = count;
            return true;
        }
    }
    if (IsGone()) return false;
    if (count == 0) return true;
    const std::uint32_t abortsAtStart = rxAborts_.load();
    std::lock_guard<std::mutex> readLock(readMutex_);

    COMMTIMEOUTS timeouts;
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        timeouts = timeouts_;
    }
    ReadDeadlines deadlines(timeouts, count, Clock::now());

    auto* out = static_cast<std::uint8_t*>(buffer);
    std::uint32_t done = 0;
    for (;;) {
        if (rxAborts_.load() != abortsAtStart) {
            if (read != nullptr) *read = done;
            return FailWith(ERROR_OPERATION_ABORTED);
        }
        bool rawSeen = false;
        const long produced = ReadQueued(out + done, count - done, rawSeen);
        if (produced < 0) {
            if (read != nullptr) *read = done;
            return false;
        }
        done += static_cast<std::uint32_t>(produced);
        if (rawSeen) deadlines.Arrived(Clock::now());
        if (done == count) break;
        if (rawSeen) continue;  // the queue may hold more
        if (deadlines.EndsWhenNothingQueued(done)) break;

        // Nothing queued: wait for the line until the read's time is up.
        const std::optional<Clock::time_point> deadline = deadlines.WaitUntil();
        if (deadline && Clock::now() >= *deadline) break;
        const int ready = Wait(POLLIN, rxWake_, deadline ? &*deadline : nullptr);
        if (ready < 0) {
            if (read != nullptr) *read = done;
            return FailWithErrno(errno);
        }
    }
    // A read that timed out still succeeds, with what it got.
    if (read != nullptr) *read = done;
    return true;
}

// A thread's wake-up descriptor for its input waits, made at its first
// wait (again at a later one where descriptors had run out) and closed when
// the thread ends. A thread waits on one device at a time, whose state
// mutex guards `signalled`.
struct PosixSerialDevice::InputWaiter {
    InputWaiter() : wake(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~InputWaiter() {
        if (wake >= 0) close(wake);
    }
    InputWaiter(const InputWaiter&) = delete;
    InputWaiter& operator=(const InputWaiter&) = delete;

    int wake;
    bool signalled = false;
};

bool PosixSerialDevice::WaitCommInput(std::uint32_t milliseconds, std::uint64_t wakesSeen) {
    // The poll below sees a hang-up by itself; only one seen before needs
    // answering here.
    if (gone_.load(std::memory_order_relaxed)) return FailWith(kDeviceGoneError);
    thread_local InputWaiter waiter;
    if (waiter.wake < 0) waiter.wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (waiter.wake < 0) return FailWith(ERROR_NOT_ENOUGH_MEMORY);
    {
        // Bytes read ahead wait already. A part of an error mark that the
        // filter holds needs its rest from the line, so it is waited for.
        std::lock_guard<std::mutex> lock(stateMutex_);
        if (ReadAheadHeld() > 0) return true;
        // Asked for under this lock, as the waits to signal are listed.
        if (wakes_.Since(wakesSeen)) return true;
        try {
            inputWaiters_.push_back(&waiter);
        } catch (const std::bad_alloc&) {
            return FailWith(ERROR_NOT_ENOUGH_MEMORY);
        }
    }
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    pollfd fds[3] = {{fd_, POLLIN, 0}, {releaseWake_, POLLIN, 0}, {waiter.wake, POLLIN, 0}};
    const int polled = Retrying([&] { return SystemCalls().poll(fds, 3, PollTimeout(&deadline)); });
    const int pollError = errno;
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        inputWaiters_.erase(std::find(inputWaiters_.begin(), inputWaiters_.end(), &waiter));
        if (std::exchange(waiter.signalled, false)) {
            // Drained also when the wait ended for input before the wake
            // came, so that the thread's next wait does not end at once.
            std::uint64_t value = 0;
            [[maybe_unused]] const ssize_t drained =
                SystemCalls().read(waiter.wake, &value, sizeof value);
        }
    }
    if (polled < 0) return FailWithErrno(pollError);
    // A hang-up polls at once and for good; the caller learns it here
    // instead of waking again and again.
    if ((fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
        MarkGone();
        return FailWith(kDeviceGoneError);
    }
    aliveTick_.store(CoarseTick().time_since_epoch().count(), std::memory_order_relaxed);
    return true;
}

void PosixSerialDevice::WakeCommWaits() {
    std::lock_guard<std::mutex> lock(stateMutex_);
    wakes_.Ask();
    for (InputWaiter* waiter : inputWaiters_) {
        if (!std::exchange(waiter->signalled, true)) Signal(waiter->wake);
    }
}

bool PosixSerialDevice::FillReadAhead() {
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        if (ReadAheadHeld() > 0) return true;
    }
    // No room: everything the kernel gives is read ahead.
    std::uint8_t none = 0;
    bool rawSeen = false;
    return ReadQueued(&none, 0, rawSeen) >= 0;
}

bool PosixSerialDevice::PeekInput(void* buffer, std::uint32_t count, std::uint32_t* peeked) {
    if (peeked != nullptr) *peeked = 0;
    // REQUIRES: stateMutex_ held.
    const auto copyHeld = [&] {
        const std::size_t n = std::min<std::size_t>(ReadAheadHeld(), count);
        if (n > 0) std::memcpy(buffer, readAhead_.data() + readAheadTaken_, n);
        if (peeked != nullptr) *peeked = static_cast<std::uint32_t>(n);
    };
    {
        // Bytes read ahead answer at once, as they answer a read.
        std::lock_guard<std::mutex> lock(stateMutex_);
        if (count > 0 && ReadAheadAnswers()) {
            copyHeld();
            return true;
        }
    }
    if (IsGone()) return false;
    if (count == 0) return true;
    // Only a holder of the read mutex adds to the bytes read ahead, so the
    // kernel is read only when none are held, and a read that is under way
    // has finished taking its bytes before they are looked at.
    std::lock_guard<std::mutex> readLock(readMutex_);
    if (!FillReadAhead()) return false;
    std::lock_guard<std::mutex> lock(stateMutex_);
    copyHeld();
    return true;
}

bool PosixSerialDevice::ReadInputUntil(void* buffer, std::uint32_t count, InputEnd& end,
                                       std::uint32_t* read) {
    *read = 0;
    // Looks for the end where the bytes are, in the read-ahead, and takes
    // them from there. REQUIRES: stateMutex_ held.
    const auto takeHeld = [&] {
        const std::size_t n = std::min<std::size_t>(ReadAheadHeld(), count);
        if (n == 0) return;
        const char* front = readAhead_.data() + readAheadTaken_;
        const std::size_t take = std::clamp<std::size_t>(end.Find(front, n), 1, n);
        std::memcpy(buffer, front, take);
        readAheadTaken_ += take;
        *read = static_cast<std::uint32_t>(take);
    };
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        if (count > 0 && ReadAheadReadable()) {
            takeHeld();
            return true;
        }
    }
    if (IsGone()) return false;
    if (count == 0) return true;
    // As for a peek: the kernel is read only when nothing is held.
    std::lock_guard<std::mutex> readLock(readMutex_);
    bool nothingHeld = false;
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        nothingHeld = ReadAheadHeld() == 0;
    }
    if (nothingHeld && count >= kKernelRead) {
        // A room as large as a read of the kernel (a receive thread's)
        // takes the bytes there; the end is looked for where they land.
        bool rawSeen = false;
        const long given =
            ReadKernel(static_cast<std::uint8_t*>(buffer), count, count, &end, rawSeen);
        if (given < 0) return false;
        *read = static_cast<std::uint32_t>(given);
        return true;
    }
    if (!FillReadAhead()) return false;
    std::lock_guard<std::mutex> lock(stateMutex_);
    takeHeld();
    return true;
}

}  // namespace tarn::driver
