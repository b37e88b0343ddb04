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
#include <new>
#include <string>

#include "serial_device.h"
#include "serial_driver.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

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
    // opened without overlapped I/O, so the calls below need no lock.

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
        ::DWORD nativeErrors = 0;
        ::COMSTAT nativeStat;
        std::memset(&nativeStat, 0, sizeof nativeStat);
        if (!Checked(::ClearCommError(handle_, &nativeErrors, &nativeStat))) return false;
        if (errors) *errors = nativeErrors;
        if (stat) std::memcpy(stat, &nativeStat, sizeof *stat);
        return true;
    }

    bool ReadFile(void* buffer, std::uint32_t count, std::uint32_t* read) override {
        ::DWORD done = 0;
        const bool ok = Checked(::ReadFile(handle_, buffer, count, &done, nullptr));
        if (read) *read = done;
        return ok;
    }

    bool WriteFile(const void* buffer, std::uint32_t count, std::uint32_t* written) override {
        ::DWORD done = 0;
        const bool ok = Checked(::WriteFile(handle_, buffer, count, &done, nullptr));
        if (written) *written = done;
        return ok;
    }

    bool PurgeComm(std::uint32_t flags) override { return Checked(::PurgeComm(handle_, flags)); }

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
    // mask). Read time-outs that return with the first byte would work, in
    // Wine too, but they replace the time-outs that the synchronous reads
    // and the application's settings depend on, and a waiting read holds
    // up the sends in the same way.
    bool WaitCommInput(std::uint32_t milliseconds) override {
        using Clock = std::chrono::steady_clock;
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
        std::uint32_t pause = 1;
        for (;;) {
            if (waitsEnded_.load()) return true;
            ::DWORD errors = 0;
            ::COMSTAT stat;
            std::memset(&stat, 0, sizeof stat);
            if (!Checked(::ClearCommError(handle_, &errors, &stat))) return false;
            if (stat.cbInQue > 0) return true;
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) return true;
            ::Sleep(static_cast<::DWORD>(std::min<std::int64_t>(pause, left.count())));
            pause = std::min<std::uint32_t>(pause * 2, 4);
        }
    }

    void Released() override { waitsEnded_.store(true); }
    void CancelCommWaits() override { waitsEnded_.store(true); }

private:
    const ::HANDLE handle_;
    // Set when the handle is closed or its waits are cancelled; the waiting
    // loop looks at it between its looks at the queue.
    std::atomic<bool> waitsEnded_{false};
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
