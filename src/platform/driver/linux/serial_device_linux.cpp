// The operating system's ports outside Windows: terminal devices driven
// through termios, with the Win32 behaviour that the seam promises
// (exclusive access, the COMMTIMEOUTS rules, queue status, escapes).
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <string>
#include <utility>

#include "device_name_linux.h"
#include "errno_to_win32_linux.h"
#include "line_settings_linux.h"
#include "open_terminals_linux.h"
#include "read_deadlines_linux.h"
#include "receive_filter_linux.h"
#include "serial_device.h"
#include "terminal_class_linux.h"
#include "termios2_linux.h"
#include "uucp_lock_linux.h"

namespace tarn::driver {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kMaxDword = 0xFFFFFFFFu;

// A rate that the driver rounds by more than this is refused, as Windows
// drivers refuse a divisor that is too far off.
constexpr double kRateTolerance = 0.03;

// How long a write to a pseudo-terminal waits for room before it tries
// again.
constexpr std::chrono::milliseconds kPseudoTerminalRoomRecheck{10};

// The error of every call once the terminal is known to be gone: what
// Windows reports for a pulled USB adapter.
constexpr std::uint32_t kGoneError = ERROR_BAD_COMMAND;

// The current tick of the system's coarse monotonic clock (1 to 10 ms by
// the kernel's HZ). Reading it costs a fraction of reading the exact time,
// which matters where it is read for every byte of a line.
Clock::time_point CoarseTick() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    return Clock::time_point(std::chrono::seconds(now.tv_sec) +
                             std::chrono::nanoseconds(now.tv_nsec));
}

template <typename Call>
auto Retrying(Call call) -> decltype(call()) {
    decltype(call()) result;
    do {
        result = call();
    } while (result < 0 && errno == EINTR);
    return result;
}

// Milliseconds for poll() until `deadline`, 0 when it has passed; -1 for
// "no deadline".
int PollTimeout(const Clock::time_point* deadline) {
    if (deadline == nullptr) return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now());
    if (left.count() <= 0) return 0;
    return static_cast<int>(std::min<std::int64_t>(left.count(), std::numeric_limits<int>::max()));
}

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

class PosixSerialDevice final : public SerialDevice {
public:
    PosixSerialDevice(int fd, int rxWake, int txWake, int releaseWake, bool pseudoTerminal,
                      const DCB& dcb, std::unique_ptr<UucpLock> lockFile)
        : fd_(fd),
          rxWake_(rxWake),
          txWake_(txWake),
          releaseWake_(releaseWake),
          pseudoTerminal_(pseudoTerminal),
          lockFile_(std::move(lockFile)),
          dcb_(dcb) {
        haveCounts_ = ioctl(fd_, TIOCGICOUNT, &counts_) == 0;
        ConfigureFilter(dcb_);
    }

    ~PosixSerialDevice() override {
        UnregisterOpenTerminal(fd_);
        // The exclusive flag outlives this descriptor on a terminal that
        // someone else keeps open (the master of a pseudo-terminal).
        ioctl(fd_, TIOCNXCL);
        close(fd_);
        close(rxWake_);
        close(txWake_);
        close(releaseWake_);
    }

    bool SetupComm(std::uint32_t inQueue, std::uint32_t outQueue) override {
        if (IsGone()) return false;
        // The kernel's queues have fixed sizes; any positive size is met.
        if (inQueue == 0 || outQueue == 0) return FailWith(ERROR_INVALID_PARAMETER);
        return true;
    }

    bool SetCommState(const DCB& dcb) override;
    bool GetCommState(DCB& dcb) override {
        if (IsGone()) return false;
        std::lock_guard<std::mutex> lock(stateMutex_);
        dcb = dcb_;
        return true;
    }

    bool SetCommTimeouts(const COMMTIMEOUTS& timeouts) override {
        if (IsGone()) return false;
        // The Windows driver refuses this one combination of read time-outs.
        if (timeouts.ReadIntervalTimeout == kMaxDword &&
            timeouts.ReadTotalTimeoutMultiplier == kMaxDword &&
            timeouts.ReadTotalTimeoutConstant == kMaxDword) {
            return FailWith(ERROR_INVALID_PARAMETER);
        }
        std::lock_guard<std::mutex> lock(stateMutex_);
        timeouts_ = timeouts;
        return true;
    }

    bool GetCommTimeouts(COMMTIMEOUTS& timeouts) override {
        if (IsGone()) return false;
        std::lock_guard<std::mutex> lock(stateMutex_);
        timeouts = timeouts_;
        return true;
    }

    bool ClearCommError(std::uint32_t* errors, COMSTAT* stat) override;
    bool ReadFile(void* buffer, std::uint32_t count, std::uint32_t* read) override;
    bool WriteFile(const void* buffer, std::uint32_t count, std::uint32_t* written) override;
    bool PurgeComm(std::uint32_t flags) override;
    bool EscapeCommFunction(std::uint32_t function) override;
    bool GetCommModemStatus(std::uint32_t* status) override;
    bool WaitCommInput(std::uint32_t milliseconds) override;
    bool PeekInput(void* buffer, std::uint32_t count, std::uint32_t* peeked) override;
    bool DrainCommOutput(std::uint32_t milliseconds) override;

    // A hang-up ends the poll of a wait at once. A pseudo-terminal has no
    // modem lines that could change; a real terminal's changes would need
    // TIOCMIWAIT, which blocks and cannot join a poll.
    std::uint32_t CommWaitWakes() const override {
        return COMMWAIT_INPUT | COMMWAIT_REMOVAL | (pseudoTerminal_ ? COMMWAIT_LINES : 0);
    }

    // Ends every input wait and drain for good: the handle is closed, and a
    // waiting caller should find that out now rather than at its time-out.
    void Released() override {
        released_.store(true);
        Signal(releaseWake_);
    }
    // The same wake-up, with the handle left open: the descriptor is never
    // drained, so the waits running now end and every later one returns at
    // once, whichever thread waits.
    void CancelCommWaits() override { Signal(releaseWake_); }

private:
    // REQUIRES: stateMutex_ held, or construction.
    void ConfigureFilter(const DCB& dcb) {
        const bool parityCheck = (dcb.Flags & DCB_fParity) != 0;
        filter_.Configure(parityCheck, (dcb.Flags & DCB_fErrorChar) != 0,
                          static_cast<std::uint8_t>(dcb.ErrorChar), (dcb.Flags & DCB_fNull) != 0);
    }

    static bool FailWith(std::uint32_t code) {
        SetLastError(code);
        return false;
    }

    void MarkGone() { gone_.store(true, std::memory_order_relaxed); }

    // Fails with the Win32 code for `error`; an error that says the device
    // went away makes this and every later call fail with kGoneError.
    bool FailWithErrno(int error) {
        if (IsDeviceGoneErrno(error)) {
            MarkGone();
            return FailWith(kGoneError);
        }
        return FailWith(Win32ErrorFromErrno(error));
    }

    // True (with the last error set) when the terminal has gone away. Once
    // hung up, a terminal polls as POLLHUP for good; for a pseudo-terminal
    // this is the state after its master closed. A pseudo-terminal whose
    // master is open never polls so, whether or not anything was written.
    bool IsGone() {
        if (!gone_.load(std::memory_order_relaxed) && !AliveThisTick()) {
            pollfd probe{fd_, POLLIN, 0};
            if (Retrying([&] { return poll(&probe, 1, 0); }) < 0) {
                FailWithErrno(errno);
                return true;
            }
            if ((probe.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) MarkGone();
        }
        if (gone_.load(std::memory_order_relaxed)) {
            SetLastError(kGoneError);
            return true;
        }
        return false;
    }

    // True when an input wait's poll found the terminal there in the current
    // tick of the coarse clock. The query and the read that follow the wait
    // then do not poll for a hang-up again, which would double the system
    // calls of a receive thread that wakes on data; a hang-up in between
    // shows at the next wait, or at the next tick at the latest, as the
    // answers of the bytes read ahead do.
    bool AliveThisTick() const {
        return aliveTick_.load(std::memory_order_relaxed) == CoarseTick().time_since_epoch().count();
    }

    // Waits until `fd_` is ready for `events` or `wake` is signalled, at most
    // until `deadline` (none when null). Returns 1 when the port is ready, 0
    // on time-out or wake-up, -1 with errno on failure.
    int Wait(short events, int wake, const Clock::time_point* deadline) {
        pollfd fds[2] = {{fd_, events, 0}, {wake, POLLIN, 0}};
        const int ready = Retrying([&] { return poll(fds, 2, PollTimeout(deadline)); });
        if (ready < 0) return -1;
        if ((fds[1].revents & POLLIN) != 0) {
            // Only the holder of the direction's mutex waits on `wake`, so
            // draining it here cannot steal another waiter's wake-up.
            std::uint64_t value = 0;
            [[maybe_unused]] const ssize_t drained = ::read(wake, &value, sizeof value);
        }
        if ((fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
            errno = EIO;
            return -1;
        }
        return (fds[0].revents & events) != 0 ? 1 : 0;
    }

    static void Signal(int wake) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(wake, &one, sizeof one);
    }

    // Reads what the kernel holds, up to `room` bytes, through the filter.
    // Bytes read ahead come first; a read of the kernel takes all it gives
    // and keeps what exceeds `room` as read ahead. Returns the bytes
    // produced, or -1 with the last error set. `rawSeen` tells whether
    // anything came from the line at all.
    long ReadQueued(std::uint8_t* out, std::uint32_t room, bool& rawSeen);

    // REQUIRES: stateMutex_ held.
    std::size_t ReadAheadHeld() const { return readAhead_.size() - readAheadTaken_; }
    // The queues as the kernel last counted them, with what this driver
    // holds besides: a part of an error mark, and bytes read ahead.
    // REQUIRES: stateMutex_ held.
    COMSTAT QueueState() const {
        COMSTAT stat{};
        stat.cbInQue = kernelInQueue_ + static_cast<std::uint32_t>(filter_.Held()) +
                       static_cast<std::uint32_t>(ReadAheadHeld());
        stat.cbOutQue = kernelOutQueue_;
        return stat;
    }
    // True while bytes read ahead wait and the kernel's last answer (its
    // queue counts, and that the terminal had not hung up) was given in
    // the current clock tick: then a read that they meet and the queue
    // count are answered without a system call. Bytes that reach the
    // kernel meanwhile show at the next tick at the latest, much as bytes
    // in a UART's FIFO reach a Windows driver's queue a few character
    // times late.
    // REQUIRES: stateMutex_ held.
    bool ReadAheadAnswers() const {
        return ReadAheadHeld() > 0 && !gone_.load(std::memory_order_relaxed) &&
               kernelAnsweredTick_ == CoarseTick();
    }

    const int fd_;
    const int rxWake_;       // signalled by PurgeComm(PURGE_RXABORT)
    const int txWake_;       // signalled by PurgeComm(PURGE_TXABORT)
    // Signalled by Released() and CancelCommWaits(), never drained.
    const int releaseWake_;
    // A pseudo-terminal has no transmit queue: a write hands its bytes to
    // the peer's input at once.
    const bool pseudoTerminal_;
    std::atomic<bool> released_{false};
    // Removed after the destructor's body has closed the terminal, so that
    // the claim covers every moment the port is open.
    const std::unique_ptr<UucpLock> lockFile_;
    std::atomic<bool> gone_{false};
    // The coarse tick of the last input wait that found the terminal there.
    std::atomic<Clock::rep> aliveTick_{0};
    std::atomic<std::uint32_t> rxAborts_{0};
    std::atomic<std::uint32_t> txAborts_{0};

    // Reads run one at a time, and so do writes, as the Windows driver queues
    // its requests: the bytes of two writes never interleave.
    std::mutex readMutex_;
    std::mutex writeMutex_;

    std::mutex stateMutex_;
    DCB dcb_;  // guarded by stateMutex_
    // All zero until set, as the Windows serial driver starts: a read then
    // waits for its whole count.
    COMMTIMEOUTS timeouts_{};          // guarded by stateMutex_
    ReceiveFilter filter_;             // guarded by stateMutex_
    serial_icounter_struct counts_{};  // guarded by stateMutex_
    bool haveCounts_ = false;          // guarded by stateMutex_

    // Bytes that a read or a peek took from the kernel beyond its count,
    // after the filter. They are the driver's queue as much as the kernel's
    // are: counted as waiting, read first, dropped by a purge of the receive
    // queue. One read of the kernel thus serves many short reads and peeks.
    std::string readAhead_;                      // guarded by stateMutex_
    std::size_t readAheadTaken_ = 0;             // guarded by stateMutex_
    std::atomic<std::uint32_t> kernelReads_{0};  // changed with stateMutex_ held
    // The kernel's last answer to ClearCommError; none after a read of it.
    Clock::time_point kernelAnsweredTick_{};  // guarded by stateMutex_
    std::uint32_t kernelInQueue_ = 0;         // guarded by stateMutex_
    std::uint32_t kernelOutQueue_ = 0;        // guarded by stateMutex_
};

bool PosixSerialDevice::SetCommState(const DCB& dcb) {
    if (IsGone()) return false;
    if (!IsApplicableDcb(dcb)) return FailWith(ERROR_INVALID_PARAMETER);
    std::lock_guard<std::mutex> lock(stateMutex_);

    LineTermios before;
    if (ReadLineTermios(fd_, before) != 0) return FailWithErrno(errno);
    const LineTermios wanted = TermiosForDcb(dcb, before);
    if (Retrying([&] { return WriteLineTermios(fd_, wanted); }) != 0) return FailWithErrno(errno);

    LineTermios applied;
    if (ReadLineTermios(fd_, applied) != 0) return FailWithErrno(errno);
    const double deviation = std::abs(static_cast<double>(applied.rate) - dcb.BaudRate) /
                             static_cast<double>(dcb.BaudRate);
    if (applied.rate == 0 || deviation > kRateTolerance) {
        // Put the old settings back: a refused block changes nothing.
        WriteLineTermios(fd_, before);
        return FailWith(ERROR_INVALID_PARAMETER);
    }

    // Pseudo-terminals have no modem lines; their ENOTTY/EINVAL is no reason
    // to refuse a block that the line itself took.
    const ModemLineRequest lines = ModemLinesForDcb(dcb);
    auto drive = [this](bool on, int line) {
        const int result = ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &line);
        return result == 0 || errno == ENOTTY || errno == EINVAL;
    };
    if (lines.driveDtr && !drive(lines.dtrOn, TIOCM_DTR)) return FailWithErrno(errno);
    if (lines.driveRts && !drive(lines.rtsOn, TIOCM_RTS)) return FailWithErrno(errno);

    dcb_ = dcb;
    ConfigureFilter(dcb_);
    return true;
}

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
        if (ioctl(fd_, FIONREAD, &queued) != 0) return FailWithErrno(errno);
        // A pseudo-terminal's writes go to the other end's input at once;
        // the kernel counts its output queue as empty whatever is unread.
        if (!pseudoTerminal_ && ioctl(fd_, TIOCOUTQ, &pending) != 0) return FailWithErrno(errno);
        lock.lock();
        if (kernelReads_.load() == readsBefore) break;
        lock.unlock();
    }

    std::uint32_t found = 0;
    // Only real serial drivers count line errors; elsewhere the word stays 0.
    serial_icounter_struct now{};
    if (haveCounts_ && ioctl(fd_, TIOCGICOUNT, &now) == 0) {
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
    std::uint8_t raw[4096];
    const ssize_t got = Retrying([&] { return ::read(fd_, raw, sizeof raw); });
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
    std::uint8_t cooked[sizeof raw];
    std::lock_guard<std::mutex> lock(stateMutex_);
    const std::size_t made = filter_.Process(raw, static_cast<std::size_t>(got), cooked);
    const std::size_t given = std::min<std::size_t>(made, room);
    std::memcpy(out, cooked, given);
    readAhead_.assign(reinterpret_cast<const char*>(cooked) + given, made - given);
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

bool PosixSerialDevice::WaitCommInput(std::uint32_t milliseconds) {
    // The poll below sees a hang-up by itself; only one seen before needs
    // answering here.
    if (gone_.load(std::memory_order_relaxed)) return FailWith(kGoneError);
    {
        // Bytes read ahead wait already. A part of an error mark that the
        // filter holds needs its rest from the line, so it is waited for.
        std::lock_guard<std::mutex> lock(stateMutex_);
        if (ReadAheadHeld() > 0) return true;
    }
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    pollfd fds[2] = {{fd_, POLLIN, 0}, {releaseWake_, POLLIN, 0}};
    if (Retrying([&] { return poll(fds, 2, PollTimeout(&deadline)); }) < 0) {
        return FailWithErrno(errno);
    }
    // A hang-up polls at once and for good; the caller learns it here
    // instead of waking again and again.
    if ((fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
        MarkGone();
        return FailWith(kGoneError);
    }
    aliveTick_.store(CoarseTick().time_since_epoch().count(), std::memory_order_relaxed);
    return true;
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
    bool held = false;
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        held = ReadAheadHeld() > 0;
    }
    if (!held) {
        // No room: everything the kernel gives is read ahead.
        std::uint8_t none = 0;
        bool rawSeen = false;
        if (ReadQueued(&none, 0, rawSeen) < 0) return false;
    }
    std::lock_guard<std::mutex> lock(stateMutex_);
    copyHeld();
    return true;
}

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
        const ssize_t put = Retrying([&] { return ::write(fd_, bytes + done, count - done); });
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
            if (writeLock.owns_lock() && ioctl(fd_, TIOCOUTQ, &pending) != 0) {
                return FailWithErrno(errno);
            }
            if (writeLock.owns_lock() && pending == 0) {
                // tcdrain has no time-out, but with the queue empty it waits
                // only for the characters in the UART's FIFO and shift
                // register.
                if (Retrying([&] { return tcdrain(fd_); }) != 0) return FailWithErrno(errno);
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
        if (tcflush(fd_, queue) != 0) return FailWithErrno(errno);
    }
    if (input) {
        std::lock_guard<std::mutex> lock(stateMutex_);
        filter_.Reset();
        readAhead_.clear();
        readAheadTaken_ = 0;
    }
    return true;
}

bool PosixSerialDevice::EscapeCommFunction(std::uint32_t function) {
    if (IsGone()) return false;
    std::uint32_t dtrControl;
    std::uint32_t rtsControl;
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        dtrControl = DtrControl(dcb_);
        rtsControl = RtsControl(dcb_);
    }
    int result = 0;
    int line = 0;
    switch (function) {
        case SETXOFF:
            // Transmission stops as if XOFF had been received.
            result = tcflow(fd_, TCOOFF);
            break;
        case SETXON:
            result = tcflow(fd_, TCOON);
            break;
        case SETRTS:
        case CLRRTS:
            // As in Windows, a line under handshake control is not the
            // caller's to drive.
            if (rtsControl == RTS_CONTROL_HANDSHAKE || rtsControl == RTS_CONTROL_TOGGLE) {
                return FailWith(ERROR_INVALID_PARAMETER);
            }
            line = TIOCM_RTS;
            result = ioctl(fd_, function == SETRTS ? TIOCMBIS : TIOCMBIC, &line);
            break;
        case SETDTR:
        case CLRDTR:
            if (dtrControl == DTR_CONTROL_HANDSHAKE) return FailWith(ERROR_INVALID_PARAMETER);
            line = TIOCM_DTR;
            result = ioctl(fd_, function == SETDTR ? TIOCMBIS : TIOCMBIC, &line);
            break;
        case SETBREAK:
            result = ioctl(fd_, TIOCSBRK);
            break;
        case CLRBREAK:
            result = ioctl(fd_, TIOCCBRK);
            break;
        default:
            return FailWith(ERROR_INVALID_PARAMETER);
    }
    if (result == 0) return true;
    // A pseudo-terminal has no modem lines. Windows drivers always have
    // them, so there is no Windows answer to copy; saying "not supported" is
    // the honest one.
    if (errno == ENOTTY || errno == EINVAL) return FailWith(ERROR_NOT_SUPPORTED);
    return FailWithErrno(errno);
}

bool PosixSerialDevice::GetCommModemStatus(std::uint32_t* status) {
    if (status != nullptr) *status = 0;
    if (IsGone()) return false;
    // A pseudo-terminal has no modem lines, and the kernel refuses to read
    // them every time; the answer is the same without asking.
    if (pseudoTerminal_) return FailWith(ERROR_NOT_SUPPORTED);
    int lines = 0;
    if (ioctl(fd_, TIOCMGET, &lines) != 0) {
        if (errno == ENOTTY || errno == EINVAL) return FailWith(ERROR_NOT_SUPPORTED);
        return FailWithErrno(errno);
    }
    std::uint32_t word = 0;
    if ((lines & TIOCM_CTS) != 0) word |= MS_CTS_ON;
    if ((lines & TIOCM_DSR) != 0) word |= MS_DSR_ON;
    if ((lines & TIOCM_RI) != 0) word |= MS_RING_ON;
    if ((lines & TIOCM_CD) != 0) word |= MS_RLSD_ON;
    if (status != nullptr) *status = word;
    return true;
}

// Fails the open with `code` after closing `fd` (its close error is of no
// interest: nothing was done with it).
std::shared_ptr<SerialDevice> RefuseOpen(int fd, std::uint32_t code) {
    if (fd >= 0) close(fd);
    SetLastError(code);
    return nullptr;
}

// The error for a device that is no terminal. The kernel answers every
// terminal request to such a device with ENOTTY, which becomes this code
// like any other ENOTTY; its text is "The request is not supported.", and
// programs (tarnterm among them) take it to mean "not a serial port".
constexpr std::uint32_t kNotTerminalError = ERROR_NOT_SUPPORTED;

// Errors of open() itself. A node whose hardware is missing (a legacy UART
// that is not fitted) answers EIO; Windows calls an absent port not found.
std::uint32_t OpenError(int error) {
    if (IsDeviceGoneErrno(error) || error == ENOTDIR) return ERROR_FILE_NOT_FOUND;
    return Win32ErrorFromErrno(error);
}

}  // namespace

std::shared_ptr<SerialDevice> OpenOsDevice(const std::string& path) {
    const std::string name = StripDevicePrefix(path);
    if (name.empty()) return RefuseOpen(-1, ERROR_FILE_NOT_FOUND);
    const std::string file = FindPathIgnoringCase(DeviceFileForName(name));

    // Only terminals are opened, and what is not one is left untouched: a
    // regular file, a FIFO whose open could block, and any device whose
    // open does something by itself.
    struct stat st;
    if (stat(file.c_str(), &st) != 0) {
        return RefuseOpen(-1, errno == EACCES ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND);
    }
    if (!S_ISCHR(st.st_mode)) return RefuseOpen(-1, ERROR_FILE_NOT_FOUND);
    const TerminalClass terminalClass = ClassifyCharDevice(file, st.st_rdev);
    if (terminalClass == TerminalClass::kNotTerminal) return RefuseOpen(-1, kNotTerminalError);

    // A lock file of another program keeps the port closed to this one, and
    // this one's lock file keeps the port for it before the device is even
    // opened. Programs look for the file under the device's own name, also
    // when it was opened through a link such as /dev/serial/by-id/....
    char resolved[PATH_MAX];
    const std::string deviceFile = realpath(file.c_str(), resolved) != nullptr ? resolved : file;
    std::unique_ptr<UucpLock> lockFile;
    const std::uint32_t lockError = UucpLock::Acquire(LockFolder(), deviceFile, lockFile);
    if (lockError != ERROR_SUCCESS) return RefuseOpen(-1, lockError);

    // O_NONBLOCK keeps open() from waiting for the carrier, O_NOCTTY keeps
    // the port from becoming this process's controlling terminal.
    const int fd =
        Retrying([&] { return open(file.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC); });
    if (fd < 0) return RefuseOpen(-1, OpenError(errno));
    // The name may have been replaced between stat() and open().
    struct stat opened;
    if (fstat(fd, &opened) != 0 || !S_ISCHR(opened.st_mode) || opened.st_rdev != st.st_rdev) {
        return RefuseOpen(fd, ERROR_FILE_NOT_FOUND);
    }
    if (!isatty(fd)) return RefuseOpen(fd, kNotTerminalError);

    // Exclusive access, as Windows gives with share mode 0, by each of the
    // conventions that other programs may use. TIOCEXCL makes the kernel
    // refuse other opens, but not the superuser's, so a terminal that
    // someone already made exclusive is refused here too.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        return RefuseOpen(fd, errno == EWOULDBLOCK ? ERROR_ACCESS_DENIED : OpenError(errno));
    }
    int exclusive = 0;
    if (ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0) {
        return RefuseOpen(fd, ERROR_ACCESS_DENIED);
    }
    if (ioctl(fd, TIOCEXCL) != 0 && errno != ENOTTY && errno != EINVAL) {
        return RefuseOpen(fd, OpenError(errno));
    }

    // Start raw and without flow control, keeping the rate and framing the
    // line had: that is the block GetCommState reports until one is set.
    LineTermios current;
    if (ReadLineTermios(fd, current) != 0) return RefuseOpen(fd, OpenError(errno));
    DCB dcb = DcbForTermios(current);
    dcb.Flags &= ~(DCB_fOutX | DCB_fInX | DCB_fParity);
    if (dcb.XonChar == dcb.XoffChar) {
        dcb.XonChar = 0x11;
        dcb.XoffChar = 0x13;
    }
    if (dcb.BaudRate == 0) dcb.BaudRate = 9600;
    if (Retrying([&] { return WriteLineTermios(fd, TermiosForDcb(dcb, current)); }) != 0) {
        return RefuseOpen(fd, OpenError(errno));
    }

    int wakes[3];
    for (int& wake : wakes) wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    auto closeWakes = [&wakes] {
        for (int wake : wakes) {
            if (wake >= 0) close(wake);
        }
    };
    if (std::any_of(std::begin(wakes), std::end(wakes), [](int wake) { return wake < 0; })) {
        closeWakes();
        return RefuseOpen(fd, ERROR_NOT_ENOUGH_MEMORY);
    }
    std::shared_ptr<SerialDevice> device;
    try {
        device = std::make_shared<PosixSerialDevice>(fd, wakes[0], wakes[1], wakes[2],
                                                     IsPseudoTerminalSlave(file, st.st_rdev), dcb,
                                                     std::move(lockFile));
    } catch (const std::bad_alloc&) {
        closeWakes();
        return RefuseOpen(fd, ERROR_NOT_ENOUGH_MEMORY);
    }
    RegisterOpenTerminal(fd, name, file);
    return device;
}

}  // namespace tarn::driver
