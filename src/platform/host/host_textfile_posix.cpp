#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "host_textfile.h"

namespace tarn::host::detail {

bool AnsiPathIsFile(const AnsiString& path) {
    struct stat info {};
    // stat, not lstat: a link counts as the file it points to.
    return !path.empty() && ::stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

std::optional<FileIdentity> AnsiPathIdentity(const AnsiString& path) {
    struct stat info {};
    if (path.empty() || ::stat(path.c_str(), &info) != 0) return std::nullopt;
    return FileIdentity{static_cast<std::uint64_t>(info.st_dev),
                        static_cast<std::uint64_t>(info.st_ino)};
}

bool CloseCutTo(std::FILE* file, std::uint64_t size) {
    // What the stream still holds may reach the file as it closes; the cut
    // comes after that, on a descriptor of its own.
    const int fd = ::fcntl(::fileno(file), F_DUPFD_CLOEXEC, 0);
    std::fclose(file);
    if (fd < 0) return false;
    int status = 0;
    do {
        status = ::ftruncate(fd, static_cast<off_t>(size));
    } while (status != 0 && errno == EINTR);
    ::close(fd);
    return status == 0;
}

std::FILE* OpenRegularFile(const AnsiString& path, bool append) {
    // Without O_NONBLOCK, opening a FIFO that has no reader for writing
    // waits for one for good, and a terminal may wait for its carrier.
    const int flags =
        O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (append ? O_APPEND : O_CREAT | O_TRUNC);
    int fd = -1;
    do {
        fd = ::open(path.c_str(), flags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return nullptr;

    // The check is on what was opened, not on the path, so that nothing can
    // be swapped in between. Writes to the file then block as usual.
    struct stat info {};
    int status = -1;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || (status = ::fcntl(fd, F_GETFL)) < 0 ||
        ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return nullptr;
    }
    std::FILE* file = ::fdopen(fd, append ? "ab" : "wb");
    if (file == nullptr) ::close(fd);
    return file;
}

}  // namespace tarn::host::detail
