// Opening a terminal as a port, and the life of the open device: the claim
// on the terminal, its raw start, the wake-ups of waits, the hang-up that
// makes it gone, and the order in which it is let go.
#include "serial_device_linux.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <limits>
#include <new>
#include <utility>

#include "comm_state.h"
#include "device_holders_linux.h"
#include "device_name_linux.h"
#include "errno_to_win32_linux.h"
#include "line_settings_linux.h"
#include "open_terminals_linux.h"
#include "system_calls_linux.h"
#include "terminal_class_linux.h"
#include "termios2_linux.h"

namespace tarn::driver {

PosixSerialDevice::PosixSerialDevice(int fd, int rxWake, int txWake, int releaseWake,
                                     bool pseudoTerminal, const DCB& dcb,
                                     std::unique_ptr<UucpLock> lockFile)
    : fd_(fd),
      rxWake_(rxWake),
      txWake_(txWake),
      releaseWake_(releaseWake),
      pseudoTerminal_(pseudoTerminal),
      lockFile_(std::move(lockFile)),
      dcb_(dcb) {
    haveCounts_ = Ioctl(TIOCGICOUNT, &counts_) == 0;
    ConfigureFilter(dcb_);
    // The receive thread and a read of the application's; more allocate.
    inputWaiters_.reserve(2);
}

PosixSerialDevice::~PosixSerialDevice() {
    UnregisterOpenTerminal(fd_);
    // The exclusive flag outlives this descriptor on a terminal that
    // someone else keeps open (the master of a pseudo-terminal).
    Ioctl(TIOCNXCL);
    close(fd_);
    close(rxWake_);
    close(txWake_);
    close(releaseWake_);
}

PosixSerialDevice::Clock::time_point PosixSerialDevice::CoarseTick() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    return Clock::time_point(std::chrono::seconds(now.tv_sec) +
                             std::chrono::nanoseconds(now.tv_nsec));
}

int PosixSerialDevice::PollTimeout(const Clock::time_point* deadline) {
    if (deadline == nullptr) return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now());
    if (left.count() <= 0) return 0;
    return static_cast<int>(std::min<std::int64_t>(left.count(), std::numeric_limits<int>::max()));
}

bool PosixSerialDevice::FailWithErrno(int error) {
    if (IsDeviceGoneErrno(error)) {
        MarkGone();
        return FailWith(kDeviceGoneError);
    }
    return FailWith(Win32ErrorFromErrno(error));
}

bool PosixSerialDevice::IsGone() {
    if (!gone_.load(std::memory_order_relaxed) && !AliveThisTick()) {
        pollfd probe{fd_, POLLIN, 0};
        if (Retrying([&] { return SystemCalls().poll(&probe, 1, 0); }) < 0) {
            FailWithErrno(errno);
            return true;
        }
        if ((probe.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
            MarkGone();
        } else {
            aliveTick_.store(CoarseTick().time_since_epoch().count(), std::memory_order_relaxed);
        }
    }
    if (gone_.load(std::memory_order_relaxed)) {
        SetLastError(kDeviceGoneError);
        return true;
    }
    return false;
}

int PosixSerialDevice::Wait(short events, int wake, const Clock::time_point* deadline) {
    pollfd fds[2] = {{fd_, events, 0}, {wake, POLLIN, 0}};
    const int ready = Retrying([&] { return SystemCalls().poll(fds, 2, PollTimeout(deadline)); });
    if (ready < 0) return -1;
    if ((fds[1].revents & POLLIN) != 0) {
        // Only the holder of the direction's mutex waits on `wake`, so
        // draining it here cannot steal another waiter's wake-up.
        std::uint64_t value = 0;
        [[maybe_unused]] const ssize_t drained = SystemCalls().read(wake, &value, sizeof value);
    }
    if ((fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
        errno = EIO;
        return -1;
    }
    return (fds[0].revents & events) != 0 ? 1 : 0;
}

void PosixSerialDevice::Signal(int wake) {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = SystemCalls().write(wake, &one, sizeof one);
}

namespace {

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

// Looks at `file` without opening it: only terminals are opened, and what
// is not one is left untouched (a regular file, a FIFO whose open could
// block, any device whose open does something by itself). Fills in `st`.
std::uint32_t CheckIsTerminal(const std::string& file, struct stat& st) {
    if (stat(file.c_str(), &st) != 0) {
        return errno == EACCES ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND;
    }
    if (!S_ISCHR(st.st_mode)) return ERROR_FILE_NOT_FOUND;
    if (ClassifyCharDevice(file, st.st_rdev) == TerminalClass::kNotTerminal) {
        return kNotTerminalError;
    }
    return ERROR_SUCCESS;
}

// Makes the terminal just opened as `fd` this port's alone, after making
// sure it is still the device that `expected` describes.
std::uint32_t ClaimTerminal(int fd, const struct stat& expected) {
    // The name may have been replaced between stat() and open().
    struct stat opened;
    if (fstat(fd, &opened) != 0 || !S_ISCHR(opened.st_mode) || opened.st_rdev != expected.st_rdev) {
        return ERROR_FILE_NOT_FOUND;
    }
    if (!isatty(fd)) return kNotTerminalError;

    // Exclusive access, as Windows gives with share mode 0, by each of the
    // conventions that other programs may use. TIOCEXCL makes the kernel
    // refuse other opens, but not the superuser's, so a terminal that
    // someone already made exclusive is refused here too.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        return errno == EWOULDBLOCK ? ERROR_ACCESS_DENIED : OpenError(errno);
    }
    const auto request = [fd](unsigned long code, void* argument) {
        return Retrying([&] { return SystemCalls().ioctl(fd, code, argument); });
    };
    // The flag belongs to the terminal, not to a descriptor: it outlives a
    // process that ended without lifting it while something else keeps the
    // terminal (the master of a pseudo-terminal). Only an open with
    // administrator rights gets here with the flag set, as the kernel
    // refuses everyone else with EBUSY. The flag is a live claim as long as
    // any other descriptor that can be seen has the device open; with none,
    // and the flock and the lock file taken above, nobody claims the port,
    // and the flag becomes this open's (TIOCEXCL below keeps it, closing
    // lifts it).
    int exclusive = 0;
    if (request(TIOCGEXCL, &exclusive) == 0 && exclusive != 0 &&
        IsDeviceHeldElsewhere(opened.st_rdev, fd)) {
        return ERROR_ACCESS_DENIED;
    }
    if (request(TIOCEXCL, nullptr) != 0 && errno != ENOTTY && errno != EINVAL) {
        return OpenError(errno);
    }
    return ERROR_SUCCESS;
}

// Starts the line raw and without flow control, keeping the rate and
// framing it had: that is the block GetCommState reports until one is set.
std::uint32_t StartRaw(int fd, DCB& dcb) {
    LineTermios current;
    if (ReadLineTermios(fd, current) != 0) return OpenError(errno);
    dcb = DcbForTermios(current);
    dcb.Flags &= ~(DCB_fOutX | DCB_fInX | DCB_fParity);
    if (dcb.XonChar == dcb.XoffChar) {
        dcb.XonChar = 0x11;
        dcb.XoffChar = 0x13;
    }
    // A line at 0 bit/s (hung up) starts at the rate every port starts at.
    if (dcb.BaudRate == 0) dcb.BaudRate = DefaultDcb().BaudRate;
    if (WriteLineTermios(fd, TermiosForDcb(dcb, current)) != 0) return OpenError(errno);
    return ERROR_SUCCESS;
}

// The wake-ups of a device: receive abort, transmit abort and release.
struct Wakes {
    Wakes() {
        for (int& wake : fds) wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    }
    // Closes those that the device has not taken over.
    ~Wakes() {
        for (int wake : fds) {
            if (wake >= 0) close(wake);
        }
    }
    bool Made() const {
        return std::none_of(std::begin(fds), std::end(fds), [](int wake) { return wake < 0; });
    }
    void HandOver() { std::fill(std::begin(fds), std::end(fds), -1); }

    int fds[3];
};

}  // namespace

std::shared_ptr<SerialDevice> OpenOsDevice(const std::string& path) {
    const std::string name = StripDevicePrefix(path);
    if (name.empty()) return RefuseOpen(-1, ERROR_FILE_NOT_FOUND);
    const std::string file = FindDeviceFile(name);
    struct stat st;
    const std::uint32_t notTerminal = CheckIsTerminal(file, st);
    if (notTerminal != ERROR_SUCCESS) return RefuseOpen(-1, notTerminal);

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
    const std::uint32_t claimError = ClaimTerminal(fd, st);
    if (claimError != ERROR_SUCCESS) return RefuseOpen(fd, claimError);
    DCB dcb{};
    const std::uint32_t startError = StartRaw(fd, dcb);
    if (startError != ERROR_SUCCESS) return RefuseOpen(fd, startError);

    Wakes wakes;
    if (!wakes.Made()) return RefuseOpen(fd, ERROR_NOT_ENOUGH_MEMORY);
    std::shared_ptr<SerialDevice> device;
    try {
        device = std::make_shared<PosixSerialDevice>(fd, wakes.fds[0], wakes.fds[1], wakes.fds[2],
                                                     IsPseudoTerminalSlave(file, st.st_rdev), dcb,
                                                     std::move(lockFile));
    } catch (const std::bad_alloc&) {
        return RefuseOpen(fd, ERROR_NOT_ENOUGH_MEMORY);
    }
    wakes.HandOver();
    RegisterOpenTerminal(fd, name, file);
    return device;
}

}  // namespace tarn::driver
