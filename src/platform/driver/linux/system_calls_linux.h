// The system calls that an open terminal makes, reached through one table
// of function pointers so that a test can stand between the backend and the
// kernel: make a call fail with EINTR, EAGAIN or an odd errno, or hand over
// fewer bytes than asked, on a real pseudo-terminal that would never do so
// by itself.
//
// The reads, writes, polls, ioctls and termios requests of an open port go
// through here, on the terminal and on its wake-up eventfds alike. Finding
// and claiming the terminal (stat, open, flock, the lock file, sysfs) and
// the port list's presence probe call the system directly: a test reaches
// their failures through the file system. Close does too, as nothing a
// caller sees depends on its result.
//
// The table is one atomic pointer: a call costs a load and an indirect
// call, with no lock, which matters on the receive path.
#pragma once

#include <poll.h>
#include <sys/types.h>

#include <atomic>
#include <cerrno>
#include <cstddef>

namespace tarn::driver {

struct LinuxSystemCalls {
    ssize_t (*read)(int fd, void* buffer, std::size_t size);
    ssize_t (*write)(int fd, const void* buffer, std::size_t size);
    int (*poll)(pollfd* fds, nfds_t count, int timeoutMs);
    // The argument of a request that takes none is null.
    int (*ioctl)(int fd, unsigned long request, void* argument);
    int (*tcdrain)(int fd);
    int (*tcflush)(int fd, int queue);
    int (*tcflow)(int fd, int action);
};

// The table that calls the C library.
const LinuxSystemCalls& RealSystemCalls();

namespace system_calls_detail {
extern std::atomic<const LinuxSystemCalls*> current;
}  // namespace system_calls_detail

// The table to call through now. Any thread.
inline const LinuxSystemCalls& SystemCalls() {
    return *system_calls_detail::current.load(std::memory_order_acquire);
}

// Calls `call` again for as long as a signal interrupts it. The call is
// made anew each time, so one that computes its time-out from a deadline
// waits only for what is left.
template <typename Call>
auto Retrying(Call call) -> decltype(call()) {
    decltype(call()) result;
    do {
        result = call();
    } while (result < 0 && errno == EINTR);
    return result;
}

// For tests only: makes the backend call through `calls` until the object
// goes, then through the table it called before. `calls` must outlive the
// object. Replacing the table is no data race, but a call already running
// on another thread finishes with the table it started with, so an
// override belongs to a test that owns every port it touches; overrides
// nest, and end in the reverse order.
class ScopedSystemCallsForTests {
public:
    explicit ScopedSystemCallsForTests(const LinuxSystemCalls& calls);
    ~ScopedSystemCallsForTests();

    ScopedSystemCallsForTests(const ScopedSystemCallsForTests&) = delete;
    ScopedSystemCallsForTests& operator=(const ScopedSystemCallsForTests&) = delete;

private:
    const LinuxSystemCalls* const previous_;
};

}  // namespace tarn::driver
