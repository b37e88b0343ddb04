#include "serial_hardware_linux.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <mutex>
#include <tuple>
#include <unordered_map>

namespace tarn::driver {
namespace {

// Paths below are taken relative to the class directory, open as `dir`
// (AT_FDCWD for paths that hold it), so that a listing does not make the
// kernel walk the directory's own path for each entry.
bool Exists(int dir, const std::string& path) {
    struct stat st;
    return fstatat(dir, path.c_str(), &st, 0) == 0;
}

// "ttyUSB12" -> ("ttyUSB", 12); a name without trailing digits has -1.
std::pair<std::string, long> SplitNumber(const std::string& name) {
    std::size_t digits = name.size();
    while (digits > 0 && name[digits - 1] >= '0' && name[digits - 1] <= '9') --digits;
    if (digits == name.size() || name.size() - digits > 9) return {name, -1};
    return {name.substr(0, digits), std::stol(name.substr(digits))};
}

bool HasNoChip(int dir, const std::string& name) {
    const int fd = openat(dir, (name + "/type").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char text[32];
    const ssize_t size = read(fd, text, sizeof text - 1);
    close(fd);
    if (size <= 0) return false;
    text[size] = '\0';
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    return end != text && value == 0;
}

// The entries of a sysfs class directory that link into /sys/devices/virtual:
// terminals without a parent device (consoles, the pseudo-terminal
// multiplexer), so never with a driver behind them. They are most of the
// directory, and following each one's links costs many times more than
// listing the directory, which the presence check does on every idle poll.
// So where each entry's link points is read once, and remembered while the
// same entry stays: sysfs never changes a link, and an entry removed and
// made again comes back with a new inode number. Other file systems may
// reuse an inode number at once, so elsewhere nothing is remembered.
class VirtualEntries {
public:
    // Whether `name`, with inode `inode`, in the class directory open as
    // `dir` is such an entry.
    bool Contains(DIR* dir, const std::string& name, ino_t inode) {
        auto known = known_.find(name);
        if (known == known_.end() || known->second.inode != inode) {
            char target[512];
            const ssize_t size = readlinkat(dirfd(dir), name.c_str(), target, sizeof target - 1);
            const std::string link(target, size > 0 ? static_cast<std::size_t>(size) : 0);
            const bool isVirtual = link.find("/devices/virtual/") != std::string::npos;
            known = known_.insert_or_assign(name, Known{inode, isVirtual, listing_}).first;
        }
        known->second.listing = listing_;
        return known->second.isVirtual;
    }

    // Ends a listing: forgets the entries that it did not see.
    void EndListing() {
        for (auto it = known_.begin(); it != known_.end();) {
            it = it->second.listing == listing_ ? std::next(it) : known_.erase(it);
        }
        ++listing_;
    }

private:
    struct Known {
        ino_t inode;
        bool isVirtual;
        unsigned listing;  // the last listing that saw the entry
    };
    std::unordered_map<std::string, Known> known_;
    unsigned listing_ = 0;
};

// The remembered entries of each sysfs class directory listed so far.
// Discovery runs on any thread, so they are used under the mutex only.
std::mutex virtualEntriesMutex;
std::map<std::string, VirtualEntries>& VirtualEntriesByDirectory() {
    // Never destroyed: a detached thread may still list ports at exit.
    static auto* byDirectory = new std::map<std::string, VirtualEntries>;
    return *byDirectory;
}

// Whether the entry `name` of the class directory is serial hardware: a
// terminal with a driver behind it (fstatat() follows the links, so a
// dangling one counts as no driver), and not a legacy UART without a chip.
bool IsSerialHardware(int dir, const std::string& name) {
    return Exists(dir, name + "/device/driver") && !HasNoChip(dir, name);
}

SerialHardware Named(const std::string& kernelName) {
    SerialHardware hardware{kernelName, kernelName};
    const auto [stem, number] = SplitNumber(kernelName);
    if (stem == "ttyS" && number >= 0) hardware.portName = "COM" + std::to_string(number + 1);
    return hardware;
}

bool OnSysfs(DIR* dir) {
    struct statfs fs;
    return fstatfs(dirfd(dir), &fs) == 0 && fs.f_type == SYSFS_MAGIC;
}

}  // namespace

std::vector<SerialHardware> ListSerialHardware(const std::string& classDirectory) {
    std::vector<SerialHardware> found;
    DIR* dir = opendir(classDirectory.c_str());
    if (dir == nullptr) return found;
    std::unique_lock<std::mutex> lock(virtualEntriesMutex, std::defer_lock);
    VirtualEntries* virtualEntries = nullptr;
    if (OnSysfs(dir)) {
        lock.lock();
        virtualEntries = &VirtualEntriesByDirectory()[classDirectory];
    }
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.empty() || name[0] == '.') continue;
        if (virtualEntries && virtualEntries->Contains(dir, name, entry->d_ino)) continue;
        if (IsSerialHardware(dirfd(dir), name)) found.push_back(Named(name));
    }
    closedir(dir);
    if (virtualEntries) virtualEntries->EndListing();
    std::sort(found.begin(), found.end(), [](const SerialHardware& a, const SerialHardware& b) {
        const auto left = SplitNumber(a.kernelName);
        const auto right = SplitNumber(b.kernelName);
        return std::tie(left.first, left.second, a.kernelName) <
               std::tie(right.first, right.second, b.kernelName);
    });
    return found;
}

std::optional<SerialHardware> FindSerialHardware(const std::string& kernelName,
                                                 const std::string& classDirectory) {
    if (kernelName.empty() || kernelName[0] == '.' || kernelName.find('/') != std::string::npos) {
        return std::nullopt;
    }
    if (!IsSerialHardware(AT_FDCWD, classDirectory + "/" + kernelName)) return std::nullopt;
    return Named(kernelName);
}

}  // namespace tarn::driver
