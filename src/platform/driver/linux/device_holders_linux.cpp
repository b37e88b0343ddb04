#include "device_holders_linux.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace tarn::driver {
namespace {

// The number that `name` spells, or -1 when it is not a plain decimal
// number (the entries of /proc that are no process, "." and "..").
long NumberIn(const char* name) {
    if (*name < '0' || *name > '9') return -1;
    char* end = nullptr;
    const long number = std::strtol(name, &end, 10);
    return *end == '\0' ? number : -1;
}

// Closes a directory stream on every way out.
struct DirectoryStream {
    explicit DirectoryStream(DIR* opened) : dir(opened) {}
    ~DirectoryStream() {
        if (dir != nullptr) closedir(dir);
    }
    DirectoryStream(const DirectoryStream&) = delete;
    DirectoryStream& operator=(const DirectoryStream&) = delete;
    DIR* dir;
};

// Whether a descriptor of the process `pid`, other than `skipFd`, is open
// on `device`. A process that ends meanwhile, or whose descriptors may not
// be read, holds nothing that can be known.
bool HoldsDevice(int procFd, const char* pid, dev_t device, int skipFd) {
    const std::string folder = std::string(pid) + "/fd";
    const int fd = openat(procFd, folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    DirectoryStream descriptors(fdopendir(fd));
    if (descriptors.dir == nullptr) {
        close(fd);
        return false;
    }
    while (const dirent* entry = readdir(descriptors.dir)) {
        const long number = NumberIn(entry->d_name);
        if (number < 0 || number == skipFd) continue;
        // The entry is a link that stat follows to the open file itself,
        // whatever name it was opened under.
        struct stat st;
        if (fstatat(dirfd(descriptors.dir), entry->d_name, &st, 0) == 0 && S_ISCHR(st.st_mode) &&
            st.st_rdev == device) {
            return true;
        }
    }
    return false;
}

}  // namespace

bool IsDeviceHeldElsewhere(dev_t device, int ownFd) {
    DirectoryStream processes(opendir("/proc"));
    if (processes.dir == nullptr) return false;
    const long self = static_cast<long>(getpid());
    while (const dirent* entry = readdir(processes.dir)) {
        const long pid = NumberIn(entry->d_name);
        if (pid >= 0 &&
            HoldsDevice(dirfd(processes.dir), entry->d_name, device, pid == self ? ownFd : -1)) {
            return true;
        }
    }
    return false;
}

}  // namespace tarn::driver
