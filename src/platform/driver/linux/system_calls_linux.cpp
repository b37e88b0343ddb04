#include "system_calls_linux.h"

#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace tarn::driver {
namespace {

// ioctl() takes a variable argument list, whose address cannot stand in
// the table; every request made here passes one pointer or none.
int IoctlWithPointer(int fd, unsigned long request, void* argument) {
    return ::ioctl(fd, request, argument);
}

constexpr LinuxSystemCalls kRealSystemCalls = {
    &::read, &::write, &::poll, &IoctlWithPointer, &::tcdrain, &::tcflush, &::tcflow,
};

}  // namespace

namespace system_calls_detail {
// Constant-initialised, so that it holds the real table before any static
// constructor could open a port.
std::atomic<const LinuxSystemCalls*> current{&kRealSystemCalls};
}  // namespace system_calls_detail

const LinuxSystemCalls& RealSystemCalls() { return kRealSystemCalls; }

ScopedSystemCallsForTests::ScopedSystemCallsForTests(const LinuxSystemCalls& calls)
    : previous_(system_calls_detail::current.exchange(&calls, std::memory_order_acq_rel)) {}

ScopedSystemCallsForTests::~ScopedSystemCallsForTests() {
    system_calls_detail::current.store(previous_, std::memory_order_release);
}

}  // namespace tarn::driver
