// The operating system's ports outside Windows: terminal devices driven
// through termios, with the Win32 behaviour that the seam promises
// (exclusive access, the COMMTIMEOUTS rules, queue status, escapes).
//
// One class, defined in several files by concern:
//   serial_device_linux.cpp           opening and claiming a terminal, the
//                                     device's life, waits and wake-ups;
//   serial_device_receive_linux.cpp   reads with their time-outs, bytes read
//                                     ahead, input waits, queue status;
//   serial_device_transmit_linux.cpp  writes, draining and purging;
//   serial_device_lines_linux.cpp     the line settings, modem lines and
//                                     escapes.
// Every call on the terminal goes through SystemCalls().
#pragma once

#include <linux/serial.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "comm_wakes.h"
#include "receive_filter_linux.h"
#include "serial_device.h"
#include "system_calls_linux.h"
#include "uucp_lock_linux.h"

namespace tarn::driver {

class PosixSerialDevice final : public SerialDevice {
public:
    using Clock = std::chrono::steady_clock;

    // Takes over `fd`, the three wake-up eventfds and the lock file; the
    // destructor closes and removes them.
    PosixSerialDevice(int fd, int rxWake, int txWake, int releaseWake, bool pseudoTerminal,
                      const DCB& dcb, std::unique_ptr<UucpLock> lockFile);
    ~PosixSerialDevice() override;

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
    bool WaitCommInput(std::uint32_t milliseconds, std::uint64_t wakesSeen) override;
    bool PeekInput(void* buffer, std::uint32_t count, std::uint32_t* peeked) override;
    bool ReadInputUntil(void* buffer, std::uint32_t count, InputEnd& end,
                        std::uint32_t* read) override;
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
    void WakeCommWaits() override;
    std::uint64_t CommWakesAsked() const override { return wakes_.Asked(); }

private:
    static constexpr std::uint32_t kMaxDword = 0xFFFFFFFFu;

    // The current tick of the system's coarse monotonic clock (1 to 10 ms
    // by the kernel's HZ). Reading it costs a fraction of reading the exact
    // time, which matters where it is read for every byte of a line.
    static Clock::time_point CoarseTick();

    // Milliseconds for poll() until `deadline`, 0 when it has passed; -1
    // for "no deadline".
    static int PollTimeout(const Clock::time_point* deadline);

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
    // went away makes this and every later call fail with kDeviceGoneError.
    bool FailWithErrno(int error);

    // True (with the last error set) when the terminal has gone away. Once
    // hung up, a terminal polls as POLLHUP for good; for a pseudo-terminal
    // this is the state after its master closed. A pseudo-terminal whose
    // master is open never polls so, whether or not anything was written.
    bool IsGone();

    // True when an input wait's poll found the terminal there in the current
    // tick of the coarse clock. The query and the read that follow the wait
    // then do not poll for a hang-up again, which would double the system
    // calls of a receive thread that wakes on data; a hang-up in between
    // shows at the next wait, or at the next tick at the latest, as the
    // answers of the bytes read ahead do.
    bool AliveThisTick() const {
        return aliveTick_.load(std::memory_order_relaxed) ==
               CoarseTick().time_since_epoch().count();
    }

    // Waits until `fd_` is ready for `events` or `wake` is signalled, at most
    // until `deadline` (none when null). Returns 1 when the port is ready, 0
    // on time-out or wake-up, -1 with errno on failure.
    int Wait(short events, int wake, const Clock::time_point* deadline);

    static void Signal(int wake);

    // An ioctl of the terminal, made again while a signal interrupts it.
    // Returns 0 or the request's result, or -1 with errno set.
    int Ioctl(unsigned long request, void* argument = nullptr) const {
        return Retrying([&] { return SystemCalls().ioctl(fd_, request, argument); });
    }

    // Reads what the kernel holds, up to `room` bytes, through the filter.
    // Bytes read ahead come first; a read of the kernel takes all it gives
    // and keeps what exceeds `room` as read ahead. Returns the bytes
    // produced, or -1 with the last error set. `rawSeen` tells whether
    // anything came from the line at all.
    long ReadQueued(std::uint8_t* out, std::uint32_t room, bool& rawSeen);
    // One read of the kernel into `into`, at most `room` bytes, decoded
    // where they are. The first `give` of them, or with an `end` those up to
    // where it finds one (at least one), are the caller's; the rest become
    // the bytes read ahead, in the same step. Returns the caller's count (0
    // when nothing came), or -1 with the last error set. `rawSeen` as for
    // ReadQueued.
    // REQUIRES: readMutex_ held, stateMutex_ not, nothing read ahead.
    long ReadKernel(std::uint8_t* into, std::size_t room, std::size_t give, InputEnd* end,
                    bool& rawSeen);
    // The room of a read of the kernel through the driver's own buffer, as
    // much as a pseudo-terminal hands over at a time. A caller's room at
    // least as large takes the bytes itself.
    static constexpr std::size_t kKernelRead = 4096;

    // REQUIRES: stateMutex_ held.
    std::size_t ReadAheadHeld() const { return readAhead_.size() - readAheadTaken_; }
    // Fills the read-ahead from the kernel when it is empty, so that a peek
    // sees what waits. False with the last error set when the read failed.
    // REQUIRES: readMutex_ held, stateMutex_ not.
    bool FillReadAhead();
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
    // True while bytes read ahead wait and the terminal was seen there in
    // the current clock tick, by the kernel's answer or a look of its own:
    // a read of those bytes needs no system call, as a hang-up is still
    // noticed within the tick.
    // REQUIRES: stateMutex_ held.
    bool ReadAheadReadable() const {
        if (ReadAheadHeld() == 0 || gone_.load(std::memory_order_relaxed)) return false;
        // One look at the clock for both answers: a line read asks this for
        // every line.
        const Clock::time_point tick = CoarseTick();
        return kernelAnsweredTick_ == tick ||
               aliveTick_.load(std::memory_order_relaxed) == tick.time_since_epoch().count();
    }

    const int fd_;
    const int rxWake_;  // signalled by PurgeComm(PURGE_RXABORT)
    const int txWake_;  // signalled by PurgeComm(PURGE_TXABORT)
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

    // The input waits running now, each with the wake-up descriptor of its
    // thread, which WakeCommWaits signals. One descriptor for the device
    // would be drained by the first wait that a wake ends, maybe before
    // another wait that it woke as well has looked at it again.
    struct InputWaiter;
    std::vector<InputWaiter*> inputWaiters_;  // guarded by stateMutex_
    CommWakes wakes_;
};

}  // namespace tarn::driver
