#include "device_holders_linux.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
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

// The number of the pseudo-terminal that `device` is the terminal end of
// (/dev/pts/N), or -1 for any other device. The kernel numbers these ends
// with the majors 136 to 143.
long PseudoTerminalIndex(dev_t device) {
    const unsigned int first = 136, last = 143;
    if (major(device) < first || major(device) > last) return -1;
    return static_cast<long>((major(device) - first) * 256 + minor(device));
}

// Whether the descriptor `fd` of the folder `fdinfo` (a process's
// /proc/PID/fdinfo) is the master of the pseudo-terminal numbered `index`:
// the kernel gives a master's number as its "tty-index".
bool IsMasterOf(int fdinfo, const char* fd, long index) {
    const int file = openat(fdinfo, fd, O_RDONLY | O_CLOEXEC);
    if (file < 0) return false;
    char text[512];
    const ssize_t size = read(file, text, sizeof text - 1);
    close(file);
    if (size <= 0) return false;
    text[size] = '\0';
    const char* field = std::strstr(text, "tty-index:");
    return field != nullptr && std::strtol(field + 10, nullptr, 10) == index;
}

// Whether a descriptor of the process `pid`, other than `skipFd`, is open
// on `device`. A process that also holds the master of that pseudo-terminal
// (socat keeps both ends of the pairs it makes) is the line's far end, not
// a user of the port, and holds no claim. A process that ends meanwhile, or
// whose descriptors may not be read, holds nothing that can be known.
bool HoldsDevice(int procFd, const char* pid, dev_t device, int skipFd) {
    const std::string folder = std::string(pid) + "/fd";
    const int fd = openat(procFd, folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    DirectoryStream descriptors(fdopendir(fd));
    if (descriptors.dir == nullptr) {
        close(fd);
        return false;
    }
    const long index = PseudoTerminalIndex(device);
    const int fdinfo = index < 0 ? -1
                                 : openat(procFd, (std::string(pid) + "/fdinfo").c_str(),
                                          O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    bool holds = false;
    bool far = false;
    while (const dirent* entry = readdir(descriptors.dir)) {
        const long number = NumberIn(entry->d_name);
        if (number < 0 || number == skipFd) continue;
        // The entry is a link that stat follows to the open file itself,
        // whatever name it was opened under.
        struct stat st;
        if (fstatat(dirfd(descriptors.dir), entry->d_name, &st, 0) != 0 || !S_ISCHR(st.st_mode)) {
            continue;
        }
        if (st.st_rdev == device) holds = true;
        // The masters are all opened through the multiplexer, /dev/ptmx (5, 2).
        const bool master = major(st.st_rdev) == 5 && minor(st.st_rdev) == 2;
        if (fdinfo >= 0 && master && !far) far = IsMasterOf(fdinfo, entry->d_name, index);
    }
    if (fdinfo >= 0) close(fdinfo);
    return holds && !far;
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
