// The system's part of the port change signal on Linux: inotify on /dev and
// /dev/pts (see port_change_signal.h for why not uevents), and an eventfd
// that Wake and Cancel write to, both waited for in one poll.
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cstdint>
#include <memory>

#include "port_change_signal.h"

namespace tarn::driver {
namespace {

class InotifyWatch final : public PortChangeSignal::SystemWatch {
public:
    InotifyWatch() {
        interrupt_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        inotify_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (inotify_ < 0) return;
        // Only names coming and going: reads, writes and opens of the
        // terminals would wake the watch for nothing.
        const std::uint32_t mask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;
        const bool dev = inotify_add_watch(inotify_, "/dev", mask) >= 0;
        const bool pts = inotify_add_watch(inotify_, "/dev/pts", mask) >= 0;
        if (!dev || !pts) {
            close(inotify_);
            inotify_ = -1;
        }
    }

    ~InotifyWatch() override {
        if (inotify_ >= 0) close(inotify_);
        if (interrupt_ >= 0) close(interrupt_);
    }

    bool Watching() const override { return inotify_ >= 0; }

    bool Wait(std::uint32_t timeoutMs) override {
        pollfd fds[2] = {{interrupt_, POLLIN, 0}, {inotify_, POLLIN, 0}};
        const int count = poll(fds, inotify_ >= 0 ? 2 : 1, static_cast<int>(timeoutMs));
        if (count <= 0) return false;  // the time passed, or a signal broke in
        if (fds[0].revents != 0) {
            std::uint64_t value = 0;
            while (read(interrupt_, &value, sizeof value) > 0) {
            }
        }
        if (inotify_ < 0 || fds[1].revents == 0) return false;
        // What changed does not matter, only that something did: the caller
        // reads the whole list again.
        alignas(inotify_event) char events[4096];
        while (read(inotify_, events, sizeof events) > 0) {
        }
        return true;
    }

    void Interrupt() override {
        const std::uint64_t one = 1;
        // A full counter already wakes the wait; nothing else can fail here.
        [[maybe_unused]] const ssize_t written = write(interrupt_, &one, sizeof one);
    }

private:
    int inotify_ = -1;
    int interrupt_ = -1;
};

}  // namespace

namespace detail {

std::unique_ptr<PortChangeSignal::SystemWatch> OpenSystemWatch() {
    return std::make_unique<InotifyWatch>();
}

}  // namespace detail

}  // namespace tarn::driver
