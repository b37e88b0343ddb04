// The remote device's data: reads from the input queue by the Win32 rules of
// read time-outs, writes handed to the connection, peeking, input waits,
// the queue status and purges.
#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <utility>

#include "read_deadlines.h"
#include "remote_device.h"

namespace tarn::driver::remote {

namespace {

// How often a drain looks whether the server has acknowledged the bytes.
constexpr std::chrono::milliseconds kAcknowledgementPoll{5};

bool Fail(std::uint32_t error) {
    SetLastError(error);
    return false;
}

using Deadline = std::optional<std::chrono::steady_clock::time_point>;

// When a write of `count` bytes runs out of time by the write time-outs;
// none when they set no total. Beyond some 24 days the clock's range would
// be the limit, not the wait.
Deadline WriteDeadline(const COMMTIMEOUTS& timeouts, std::uint32_t count) {
    const std::uint64_t totalMs =
        std::min<std::uint64_t>(std::uint64_t{timeouts.WriteTotalTimeoutMultiplier} * count +
                                    timeouts.WriteTotalTimeoutConstant,
                                std::uint64_t{1} << 31);
    if (totalMs == 0) return std::nullopt;
    return std::chrono::steady_clock::now() + std::chrono::milliseconds(totalMs);
}

// Runs `undo` when it goes out of scope.
template <typename Undo>
class AtExit {
public:
    explicit AtExit(Undo undo) : undo_(std::move(undo)) {}
    ~AtExit() { undo_(); }
    AtExit(const AtExit&) = delete;
    AtExit& operator=(const AtExit&) = delete;

private:
    Undo undo_;
};

// How a write's wait for flow control to let it go ended.
enum class Release { kGo, kOutOfTime, kAborted, kUnusable };

// Waits on `lock` while `mayGo` does not hold, until it does, a purge has
// `aborted` the write, the device is no longer `usable` or `deadline`
// passes.
template <typename MayGo, typename Aborted, typename Usable>
Release WaitForRelease(std::condition_variable& changed, std::unique_lock<std::mutex>& lock,
                       Deadline deadline, MayGo mayGo, Aborted aborted, Usable usable) {
    if (mayGo()) return Release::kGo;
    const auto ended = [&] { return !usable() || mayGo() || aborted(); };
    bool inTime = true;
    if (!deadline) {
        changed.wait(lock, ended);
    } else {
        inTime = changed.wait_until(lock, *deadline, ended);
    }
    if (!usable()) return Release::kUnusable;
    if (aborted()) return Release::kAborted;
    return inTime ? Release::kGo : Release::kOutOfTime;
}

}  // namespace

bool RemoteDevice::ClearCommError(std::uint32_t* errors, COMSTAT* stat) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (errors != nullptr) *errors = 0;
    if (!Usable()) return FailUnusable();
    if (errors != nullptr) {
        if (lineErrors_ & kLineBreak) *errors |= CE_BREAK;
        if (lineErrors_ & kLineFraming) *errors |= CE_FRAME;
        if (lineErrors_ & kLineParity) *errors |= CE_RXPARITY;
        if (lineErrors_ & kLineOverrun) *errors |= CE_OVERRUN;
    }
    lineErrors_ = 0;
    if (stat != nullptr) {
        *stat = COMSTAT{};
        stat->cbInQue = static_cast<std::uint32_t>(input_.size());
        // Queued are the bytes that a write is handing to the connection,
        // else those in the output queue and those the server has not
        // acknowledged, where the system tells; what the server holds is
        // out of sight.
        const std::uint64_t waiting =
            unsentBytes_ + connection_->Unacknowledged().value_or(std::size_t{0});
        stat->cbOutQue = static_cast<std::uint32_t>(
            std::min<std::uint64_t>(std::max(bytesUnderway_, waiting), 0xFFFFFFFFu));
    }
    return true;
}

bool RemoteDevice::ReadFile(void* buffer, std::uint32_t count, std::uint32_t* read) {
    Lock lock(mutex_);
    if (read != nullptr) *read = 0;
    if (!Usable()) return FailUnusable();
    if (count == 0) return true;
    const unsigned abortsAtStart = receiveAborts_;
    ReadDeadlines deadlines(timeouts_, count, Clock::now());
    auto* out = static_cast<char*>(buffer);
    std::uint32_t done = 0;
    for (;;) {
        const std::size_t n = std::min<std::size_t>(count - done, input_.size());
        if (n > 0) {
            std::memcpy(out + done, input_.data(), n);
            input_.erase(0, n);
            inputTaken_ += n;
            done += static_cast<std::uint32_t>(n);
            if (read != nullptr) *read = done;
            deadlines.Arrived(Clock::now());
            changed_.notify_all();  // room for the reader
        }
        if (done == count || deadlines.EndsWhenNothingQueued(done)) return true;
        const std::optional<Clock::time_point> until = deadlines.WaitUntil();
        if (until && Clock::now() >= *until) return true;
        const auto ready = [&] {
            return !Usable() || !input_.empty() || receiveAborts_ != abortsAtStart;
        };
        if (until) {
            changed_.wait_until(lock, *until, ready);
        } else {
            changed_.wait(lock, ready);
        }
        if (!Usable()) return FailUnusable();
        if (receiveAborts_ != abortsAtStart) return Fail(ERROR_OPERATION_ABORTED);
    }
}

bool RemoteDevice::WriteFile(const void* buffer, std::uint32_t count, std::uint32_t* written) {
    Lock lock(mutex_);
    if (written != nullptr) *written = 0;
    if (!Usable()) return FailUnusable();
    if (count == 0) return true;
    drained_ = false;
    bytesUnderway_ += count;
    // Declared after the lock, so that it ends while the lock is held.
    const AtExit underway([this, count] {
        bytesUnderway_ -= count;
        changed_.notify_all();
    });

    // While the server asks us to stop sending, or SETXOFF holds this end,
    // the write waits as one held back by flow control does, and while the
    // connection has no room, within the write time-outs; one that runs out
    // before its bytes are taken succeeds with nothing taken.
    const Deadline deadline = WriteDeadline(timeouts_, count);
    const unsigned abortsAtStart = transmitAborts_;
    const Release release = WaitForRelease(
        changed_, lock, deadline,
        [&] { return !(telnet_ && client_.SendingSuspended()) && !localXoff_; },
        [&] { return transmitAborts_ != abortsAtStart; }, [&] { return Usable(); });
    if (release == Release::kUnusable) return FailUnusable();
    if (release == Release::kAborted) return Fail(ERROR_OPERATION_ABORTED);
    if (release == Release::kOutOfTime) return true;
    lock.unlock();

    SendLock send(sendMutex_, std::defer_lock);
    if (!deadline) {
        send.lock();
    } else if (!send.try_lock_until(*deadline)) {
        lock.lock();
        return true;
    }
    // What an earlier write left in the output queue goes first; while it
    // cannot, this write takes nothing.
    const bool sendable = SendUnsent(deadline);
    lock.lock();
    if (!sendable) return FailUnusable();
    if (!unsent_.empty()) return true;
    if (!Usable()) return FailUnusable();
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    if (telnet_) {
        // Queued behind the requests before it, and sent in that order.
        client_.SendData(bytes, count);
    } else {
        unsent_.assign(reinterpret_cast<const char*>(bytes), count);
    }
    lock.unlock();
    const bool sent = SendQueued(send, deadline);
    lock.lock();
    if (!sent) return FailUnusable();
    if (written != nullptr) *written = count;
    return true;
}

bool RemoteDevice::PeekInput(void* buffer, std::uint32_t count, std::uint32_t* peeked) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (peeked != nullptr) *peeked = 0;
    if (!Usable()) return FailUnusable();
    const std::size_t n = std::min<std::size_t>(count, input_.size());
    if (n > 0) std::memcpy(buffer, input_.data(), n);
    if (peeked != nullptr) *peeked = static_cast<std::uint32_t>(n);
    return true;
}

bool RemoteDevice::WaitCommInput(std::uint32_t milliseconds, std::uint64_t wakesSeen) {
    Lock lock(mutex_);
    if (!Usable()) return FailUnusable();
    const unsigned changesAtStart = modemChanges_;
    changed_.wait_for(lock, std::chrono::milliseconds(milliseconds), [&] {
        return !Usable() || waitsCancelled_ || wakes_.Since(wakesSeen) || !input_.empty() ||
               modemChanges_ != changesAtStart;
    });
    return Usable() || FailUnusable();
}

void RemoteDevice::CancelCommWaits() {
    std::lock_guard<std::mutex> lock(mutex_);
    waitsCancelled_ = true;
    changed_.notify_all();
}

void RemoteDevice::WakeCommWaits() {
    std::lock_guard<std::mutex> lock(mutex_);
    wakes_.Ask();
    changed_.notify_all();
}

std::uint64_t RemoteDevice::CommWakesAsked() const { return wakes_.Asked(); }

void RemoteDevice::TakeInputBefore(std::uint64_t position) {
    if (position <= inputTaken_) return;
    const auto n =
        static_cast<std::size_t>(std::min<std::uint64_t>(position - inputTaken_, input_.size()));
    input_.erase(0, n);
    inputTaken_ += n;
}

bool RemoteDevice::PurgeComm(std::uint32_t flags) {
    Lock lock(mutex_);
    if (!Usable()) return FailUnusable();
    if (flags & PURGE_RXCLEAR) TakeInputBefore(inputTaken_ + input_.size());
    if (flags & PURGE_RXABORT) ++receiveAborts_;
    // A write that waits for the server to resume ends; one that the
    // connection is taking finishes, as its bytes are on their way.
    if (flags & PURGE_TXABORT) ++transmitAborts_;
    changed_.notify_all();
    if (!ComPortInForce()) return true;
    // The server's own buffers: its receive side holds bytes from the line
    // for us, its transmit side bytes from us for the line.
    const bool receive = (flags & PURGE_RXCLEAR) != 0;
    // Bytes that a drain saw leave are on their way to the server's line,
    // as a local port's would already be on its line, where no purge
    // reaches them: the purge that closing a port makes after a drain must
    // not throw them away at the server.
    const bool transmit = (flags & PURGE_TXCLEAR) != 0 && !drained_;
    if (!receive && !transmit) return true;
    client_.RequestPurge(receive && transmit ? WirePurge::Both
                         : receive           ? WirePurge::Receive
                                             : WirePurge::Transmit);
    lock.unlock();
    // Not waited for behind a write that is stuck on a full connection:
    // that write's sender takes the request along when it gets through.
    // Nor for room in the connection: what does not fit now goes first
    // with the next send, or when closing.
    if (!FlushOutgoing(false, Clock::now())) return false;
    if (!receive || silentPurge_) return true;
    // Bytes the server sent before it purged are still on their way here,
    // and bytes from the line after this call must not fall to its purge:
    // the call returns with the server's answer, and what came before that
    // answer goes too, while what came after it stays.
    lock.lock();
    const bool requestSent = unsentBytes_ == 0;
    const bool answered =
        WaitUntil(lock, Clock::now() + std::chrono::milliseconds(kLineAnswerTimeoutMs),
                  [this] { return client_.Purge().answered; });
    if (!Usable()) return FailUnusable();
    if (answered) {
        TakeInputBefore(purgeAnswerAt_);
    } else if (requestSent) {
        // A server that does not answer purges is not waited for again.
        silentPurge_ = true;
    }
    return true;
}

bool RemoteDevice::DrainCommOutput(std::uint32_t milliseconds) {
    // Drained means handed to the connection and, where the system tells,
    // acknowledged by the server: whether the server has put the bytes on
    // its line cannot be seen from here.
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    Lock lock(mutex_);
    const unsigned abortsAtStart = transmitAborts_;
    lock.unlock();
    {
        // What a write left in the output queue goes within the drain's time.
        SendLock send(sendMutex_, std::defer_lock);
        if (send.try_lock_until(deadline) && !SendQueued(send, deadline)) {
            lock.lock();
            return FailUnusable();
        }
    }
    lock.lock();
    for (;;) {
        if (!Usable()) return FailUnusable();
        if (transmitAborts_ != abortsAtStart) return Fail(ERROR_OPERATION_ABORTED);
        if (bytesUnderway_ == 0 && unsentBytes_ == 0 && Acknowledged()) break;
        const Clock::time_point now = Clock::now();
        if (now >= deadline) return Fail(ERROR_SEM_TIMEOUT);
        // Nothing announces an acknowledgement: it is looked for again soon.
        changed_.wait_until(lock, std::min(deadline, now + kAcknowledgementPoll));
    }
    drained_ = true;
    return true;
}

}  // namespace tarn::driver::remote
