// The system's part of the port change signal on Linux: inotify on /dev and
// /dev/pts (see port_change_signal.h for why not uevents), and an eventfd
// that Wake and Cancel write to, both waited for in one poll.
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "device_name_linux.h"
#include "open_terminals_linux.h"
#include "port_change_signal.h"

namespace tarn::driver {
namespace {

namespace fs = std::filesystem;

// The folders whose entries the watch sees come and go; it does not see
// into their subfolders.
const char* const kWatchedFolders[] = {"/dev", "/dev/pts"};

// The most links followed from a port's name to its device, as the kernel
// gives up on a longer chain.
constexpr int kMostLinks = 40;

// True when every name that `file` goes through to its device is an entry
// of a watched folder, the links on the way included, so that none of them
// can come, go or point elsewhere unseen. A path with "." or ".." is not
// followed: through a link to a folder, ".." leads where no reading of the
// path as text would.
bool EntriesWatched(std::string file) {
    for (int hop = 0; hop <= kMostLinks; ++hop) {
        const fs::path path(file);
        if (!path.is_absolute()) return false;
        for (const fs::path& part : path) {
            if (part == "." || part == "..") return false;
        }
        const fs::path entry = path.lexically_normal();
        const fs::path folder = entry.parent_path();
        if (std::none_of(std::begin(kWatchedFolders), std::end(kWatchedFolders),
                         [&](const char* watched) { return folder == watched; })) {
            return false;
        }
        // A name that is not there yet is seen when it comes.
        struct stat st;
        if (lstat(entry.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
        std::error_code error;
        const fs::path target = fs::read_symlink(entry, error);
        if (error) return false;
        file = (target.is_absolute() ? target : folder / target).string();
    }
    return false;
}

class InotifyWatch final : public PortChangeSignal::SystemWatch {
public:
    InotifyWatch() {
        interrupt_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        inotify_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (inotify_ < 0) return;
        // Only names coming and going: reads, writes and opens of the
        // terminals would wake the watch for nothing.
        const std::uint32_t mask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;
        for (const char* folder : kWatchedFolders) {
            if (inotify_add_watch(inotify_, folder, mask) >= 0) continue;
            close(inotify_);
            inotify_ = -1;
            return;
        }
    }

    ~InotifyWatch() override {
        if (inotify_ >= 0) close(inotify_);
        if (interrupt_ >= 0) close(interrupt_);
    }

    bool Watching() const override { return inotify_ >= 0; }

    // An open terminal is listed while the file it was opened as is still
    // its device (open_terminals_linux.h); another port by the file its name
    // stands for. Entries of the serial hardware in sysfs go only with their
    // device, whose open terminal hangs up, which ends an input wait itself.
    bool Covers(const std::string& name) const override {
        const std::vector<OpenTerminal> open = PresentOpenTerminalsNamed(name);
        if (open.empty()) return EntriesWatched(FindDeviceFile(name));
        return std::all_of(open.begin(), open.end(), [](const OpenTerminal& terminal) {
            return EntriesWatched(terminal.file);
        });
    }

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
