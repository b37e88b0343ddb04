// The operating system's ports on Windows: each call goes straight to the
// kernel32 function of the same name on the handle that CreateFileA gave.
// The seam's structures are byte for byte the Win32 ones, so they are copied
// across unchanged. On failure the system's error code is handed on to the
// driver layer's own last error, which is what callers of the seam read.
//
// The seam's names (DCB, ERROR_..., INVALID_HANDLE_VALUE) are also types and
// macros of <windows.h>, so the seam's headers come first and everything
// after <windows.h> names the Win32 items with a leading "::" or by macro.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <utility>

#include "comm_wakes.h"
#include "serial_device.h"
#include "serial_driver.h"

#include "host_windows.h"

namespace {
// Taken here, outside the driver namespace, where the macro's HANDLE is the
// Win32 one and not the seam's.
const ::HANDLE kInvalidWin32Handle = INVALID_HANDLE_VALUE;
}  // namespace

namespace tarn::driver {
namespace {

static_assert(sizeof(::DCB) == 28, "the Win32 device control block is 28 bytes");
static_assert(sizeof(::DCB) == sizeof(tarn::driver::DCB), "the device control blocks differ");
static_assert(sizeof(::COMMTIMEOUTS) == sizeof(tarn::driver::COMMTIMEOUTS),
              "the time-out structures differ");
static_assert(sizeof(::COMSTAT) == sizeof(tarn::driver::COMSTAT), "the queue states differ");
static_assert(sizeof(::DWORD) == sizeof(std::uint32_t), "DWORD is 32 bits");

// Returns `ok`, recording the system's error code when the call failed.
bool Checked(BOOL ok) {
    if (!ok) tarn::driver::SetLastError(::GetLastError());
    return ok != FALSE;
}

class Win32SerialDevice final : public SerialDevice {
public:
    explicit Win32SerialDevice(::HANDLE handle) : handle_(handle) {}
    ~Win32SerialDevice() override { ::CloseHandle(handle_); }

    Win32SerialDevice(const Win32SerialDevice&) = delete;
    Win32SerialDevice& operator=(const Win32SerialDevice&) = delete;

    // The handle never changes and kernel32 serialises calls on a handle
    // opened without overlapped I/O, so the calls below need no lock, but
    // for the bytes read ahead: kernel32 cannot look at a port's input
    // without taking it, so PeekInput reads it into readAhead_, which every
    // later call treats as the front of the input queue.

    bool SetupComm(std::uint32_t inQueue, std::uint32_t outQueue) override {
        return Checked(::SetupComm(handle_, inQueue, outQueue));
    }

    bool SetCommState(const tarn::driver::DCB& dcb) override {
        ::DCB native;
        std::memcpy(&native, &dcb, sizeof native);
        return Checked(::SetCommState(handle_, &native));
    }

    bool GetCommState(tarn::driver::DCB& dcb) override {
        ::DCB native;
        std::memset(&native, 0, sizeof native);
        native.DCBlength = sizeof native;
        if (!Checked(::GetCommState(handle_, &native))) return false;
        std::memcpy(&dcb, &native, sizeof dcb);
        return true;
    }

    bool SetCommTimeouts(const tarn::driver::COMMTIMEOUTS& timeouts) override {
        ::COMMTIMEOUTS native;
        std::memcpy(&native, &timeouts, sizeof native);
        return Checked(::SetCommTimeouts(handle_, &native));
    }

    bool GetCommTimeouts(tarn::driver::COMMTIMEOUTS& timeouts) override {
        ::COMMTIMEOUTS native{};
        if (!Checked(::GetCommTimeouts(handle_, &native))) return false;
        std::memcpy(&timeouts, &native, sizeof timeouts);
        return true;
    }

    bool ClearCommError(std::uint32_t* errors, tarn::driver::COMSTAT* stat) override {
        for (;;) {
            const std::uint32_t readsBefore = kernelReads_.load();
            ::DWORD nativeErrors = 0;
            ::COMSTAT nativeStat;
            std::memset(&nativeStat, 0, sizeof nativeStat);
            if (!Checked(::ClearCommError(handle_, &nativeErrors, &nativeStat))) return false;
            std::lock_guard<std::mutex> lock(aheadMutex_);
            // A peek that read the kernel after the count would have its
            // bytes counted twice, in the kernel's queue and as read ahead.
            if (kernelReads_.load() != readsBefore) continue;
            if (errors) *errors = nativeErrors | peekErrors_;
            peekErrors_ = 0;
            if (stat) {
                std::memcpy(stat, &nativeStat, sizeof *stat);
                stat->cbInQue += static_cast<std::uint32_t>(AheadHeld());
            }
            return true;
        }
    }

    bool ReadFile(void* buffer, std::uint32_t count, std::uint32_t* read) override {
        std::lock_guard<std::mutex> readLock(readMutex_);
        auto* out = static_cast<char*>(buffer);
        std::uint32_t given = 0;
        {
            std::lock_guard<std::mutex> lock(aheadMutex_);
            given = static_cast<std::uint32_t>(std::min<std::size_t>(AheadHeld(), count));
            if (given > 0) std::memcpy(out, readAhead_.data() + aheadTaken_, given);
            aheadTaken_ += given;
        }
        if (given == count) {
            if (read) *read = given;
            return true;
        }
        ::DWORD done = 0;
        const bool ok = Checked(::ReadFile(handle_, out + given, count - given, &done, nullptr));
        if (read) *read = given + done;
        return ok;
    }

    bool PeekInput(void* buffer, std::uint32_t count, std::uint32_t* peeked) override {
        std::lock_guard<std::mutex> readLock(readMutex_);
        if (count > 0 && !FillReadAhead()) return false;
        std::lock_guard<std::mutex> lock(aheadMutex_);
        const std::size_t n = std::min<std::size_t>(AheadHeld(), count);
        if (n > 0) std::memcpy(buffer, readAhead_.data() + aheadTaken_, n);
        if (peeked) *peeked = static_cast<std::uint32_t>(n);
        return true;
    }

    // Looks for the end where the bytes are, in the read-ahead, and takes
    // them from there: no query of the port while bytes are held.
    bool ReadInputUntil(void* buffer, std::uint32_t count, InputEnd& end,
                        std::uint32_t* read) override {
        *read = 0;
        // Held bytes are taken without the read mutex: only its holder adds
        // to them, and only once none are held, so a line that waits whole
        // costs one lock.
        if (TakeHeldUntil(buffer, count, end, read)) return true;
        std::lock_guard<std::mutex> readLock(readMutex_);
        if (count > 0 && !FillReadAhead()) return false;
        TakeHeldUntil(buffer, count, end, read);
        return true;
    }

    bool WriteFile(const void* buffer, std::uint32_t count, std::uint32_t* written) override {
        ::DWORD done = 0;
        const bool ok = Checked(::WriteFile(handle_, buffer, count, &done, nullptr));
        if (written) *written = done;
        return ok;
    }

    bool PurgeComm(std::uint32_t flags) override {
        if ((flags & PURGE_TXABORT) != 0) txAborts_.fetch_add(1);
        // The purge comes first, so that it can abort a read that waits.
        if (!Checked(::PurgeComm(handle_, flags))) return false;
        if ((flags & PURGE_RXCLEAR) != 0) {
            std::lock_guard<std::mutex> lock(aheadMutex_);
            readAhead_.clear();
            aheadTaken_ = 0;
        }
        return true;
    }

    bool EscapeCommFunction(std::uint32_t function) override {
        return Checked(::EscapeCommFunction(handle_, function));
    }

    bool GetCommModemStatus(std::uint32_t* status) override {
        ::DWORD lines = 0;
        if (!Checked(::GetCommModemStatus(handle_, &lines))) return false;
        if (status) *status = lines;
        return true;
    }

    // Ports are driven by polling alone, without communication events or
    // overlapped I/O, so the wait looks at the queue with short sleeps: 1 ms
    // at first, doubling to 4 ms while the line stays silent, which keeps
    // the wake-ups of a long wait few and still takes a byte within a few
    // milliseconds. The caller holds the finer system timer meanwhile.
    //
    // The system's own ways to wait do not fit a handle opened without
    // overlapped I/O. A WaitCommEvent on it blocks every other request on
    // the handle, sends included, until an event comes (and Wine does not
    // wait at all: it fails with ERROR_NOT_SUPPORTED or returns an empty
    // mask). Nor would overlapped I/O save the wake-ups under Wine: its
    // WaitCommEvent is itself a loop that sleeps a millisecond and looks at
    // the queue, more often than this one. Read time-outs that return with
    // the first byte replace the time-outs that the synchronous reads and
    // the application's settings depend on (time-outs belong to the
    // handle, not to a call), and a waiting read holds up the sends in the
    // same way (under Wine such a read has also been seen to wait out its
    // whole constant with bytes there).
    //
    // While bytes keep coming, the next ones often follow within a fraction
    // of a millisecond (the answer to what was just sent, the rest of a
    // burst), and the shortest sleep lasts a millisecond or more: then the
    // queue is looked at for a moment with only the processor given away in
    // between, before the sleeps. A quiet port goes straight to the sleeps.
    bool WaitCommInput(std::uint32_t milliseconds, std::uint64_t wakesSeen) override {
        using Clock = std::chrono::steady_clock;
        constexpr auto kLookingWithoutSleep = std::chrono::microseconds(200);
        constexpr auto kStillComing = std::chrono::milliseconds(20);
        const Clock::time_point start = Clock::now();
        const Clock::time_point deadline = start + std::chrono::milliseconds(milliseconds);
        const bool coming =
            start - Clock::time_point(Clock::duration(lastInputSeen_.load())) < kStillComing;
        const Clock::time_point sleepsFrom =
            coming ? std::min(deadline, start + kLookingWithoutSleep) : start;
        std::uint32_t pause = 1;
        for (;;) {
            if (released_.load() || waitsEnded_.load() || wakes_.Since(wakesSeen)) return true;
            std::uint32_t errors = 0;
            tarn::driver::COMSTAT stat{};
            if (!ClearCommError(&errors, &stat)) return false;
            if (stat.cbInQue > 0) {
                lastInputSeen_.store(Clock::now().time_since_epoch().count());
                return true;
            }
            const Clock::time_point now = Clock::now();
            if (now < sleepsFrom) {
                ::SwitchToThread();
                continue;
            }
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
            if (left.count() <= 0) return true;
            ::Sleep(static_cast<::DWORD>(std::min<std::int64_t>(pause, left.count())));
            pause = std::min<std::uint32_t>(pause * 2, 4);
        }
    }

    // The wait above looks at the queue with short sleeps; nothing ends it
    // sooner.
    std::uint32_t CommWaitWakes() const override { return 0; }

    // The queue is watched as input is, with short sleeps, until it is
    // empty; only then does FlushFileBuffers wait for the rest, as it has
    // no time-out of its own. Every call on a synchronous handle waits for
    // the one before it, so a flush left running on another thread would
    // hold up the purge of a Close all the same.
    bool DrainCommOutput(std::uint32_t milliseconds) override {
        using Clock = std::chrono::steady_clock;
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
        const std::uint32_t abortsAtStart = txAborts_.load();
        std::uint32_t pause = 1;
        for (;;) {
            if (released_.load()) {
                tarn::driver::SetLastError(ERROR_INVALID_HANDLE);
                return false;
            }
            ::DWORD errors = 0;
            ::COMSTAT stat;
            std::memset(&stat, 0, sizeof stat);
            if (!Checked(::ClearCommError(handle_, &errors, &stat))) return false;
            if (stat.cbOutQue == 0 && !Checked(::FlushFileBuffers(handle_))) return false;
            // A purge that aborts the transmission empties the queue by
            // discarding it, which is no drain.
            if (txAborts_.load() != abortsAtStart) {
                tarn::driver::SetLastError(ERROR_OPERATION_ABORTED);
                return false;
            }
            if (stat.cbOutQue == 0) return true;
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) {
                tarn::driver::SetLastError(ERROR_SEM_TIMEOUT);
                return false;
            }
            ::Sleep(static_cast<::DWORD>(std::min<std::int64_t>(pause, left.count())));
            pause = std::min<std::uint32_t>(pause * 2, 8);
        }
    }

    void Released() override {
        released_.store(true);
        waitsEnded_.store(true);
    }
    void CancelCommWaits() override { waitsEnded_.store(true); }
    void WakeCommWaits() override { wakes_.Ask(); }
    std::uint64_t CommWakesAsked() const override { return wakes_.Asked(); }

private:
    // Takes the held bytes up to the first end, at most `count` of them;
    // false when none are held. REQUIRES: aheadMutex_ not held.
    bool TakeHeldUntil(void* buffer, std::uint32_t count, InputEnd& end, std::uint32_t* read) {
        std::lock_guard<std::mutex> lock(aheadMutex_);
        const std::size_t n = std::min<std::size_t>(AheadHeld(), count);
        if (n == 0) return false;
        const char* front = readAhead_.data() + aheadTaken_;
        const std::size_t take = std::clamp<std::size_t>(end.Find(front, n), 1, n);
        std::memcpy(buffer, front, take);
        aheadTaken_ += take;
        *read = static_cast<std::uint32_t>(take);
        return true;
    }

    // Reads what the port's queue holds into the read-ahead when it is
    // empty. Only what the queue holds is read, so the read returns at once
    // whatever the time-outs say. The query clears the port's error state,
    // so its errors are kept for the caller's next query. False with the
    // last error set when the port failed.
    // REQUIRES: readMutex_ held, aheadMutex_ not.
    bool FillReadAhead() {
        {
            std::lock_guard<std::mutex> lock(aheadMutex_);
            if (AheadHeld() > 0) return true;
        }
        ::DWORD errors = 0;
        ::COMSTAT stat;
        std::memset(&stat, 0, sizeof stat);
        if (!Checked(::ClearCommError(handle_, &errors, &stat))) return false;
        std::string bytes(std::min<::DWORD>(stat.cbInQue, kLongestReadAhead), '\0');
        ::DWORD done = 0;
        const bool ok = bytes.empty() ||
                        Checked(::ReadFile(handle_, &bytes[0], static_cast<::DWORD>(bytes.size()),
                                           &done, nullptr));
        bytes.resize(ok ? done : 0);
        std::lock_guard<std::mutex> lock(aheadMutex_);
        peekErrors_ |= errors;
        if (!ok) return false;
        readAhead_ = std::move(bytes);
        aheadTaken_ = 0;
        ++kernelReads_;
        return true;
    }

    // When a wait last found input, in ticks of the steady clock.
    std::atomic<std::chrono::steady_clock::rep> lastInputSeen_{0};
    // The most a peek reads ahead in one go.
    static constexpr ::DWORD kLongestReadAhead = 4096;

    // REQUIRES: aheadMutex_ held.
    std::size_t AheadHeld() const { return readAhead_.size() - aheadTaken_; }

    const ::HANDLE handle_;
    std::atomic<bool> released_{false};

    // Reads and peeks run one at a time, so that a read takes the bytes
    // read ahead before any that a peek could read after them.
    std::mutex readMutex_;
    std::mutex aheadMutex_;
    std::string readAhead_;                      // guarded by aheadMutex_
    std::size_t aheadTaken_ = 0;                 // guarded by aheadMutex_
    std::uint32_t peekErrors_ = 0;               // guarded by aheadMutex_
    std::atomic<std::uint32_t> kernelReads_{0};  // changed with aheadMutex_ held
    std::atomic<std::uint32_t> txAborts_{0};
    // Set when the handle is closed or its waits are cancelled; the waiting
    // loop looks at it between its looks at the queue.
    std::atomic<bool> waitsEnded_{false};
    CommWakes wakes_;
};

}  // namespace

std::shared_ptr<SerialDevice> OpenOsDevice(const std::string& path) {
    // Exclusive and synchronous, as every serial port is opened.
    ::HANDLE handle = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
    if (handle == kInvalidWin32Handle) {
        tarn::driver::SetLastError(::GetLastError());
        return nullptr;
    }
    try {
        return std::make_shared<Win32SerialDevice>(handle);
    } catch (const std::bad_alloc&) {
        ::CloseHandle(handle);
        tarn::driver::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
}

}  // namespace tarn::driver
