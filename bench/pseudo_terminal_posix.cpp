#include "pseudo_terminal_posix.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tarn::bench {
namespace {

std::string Failed(const char* step) { return std::string(step) + ": " + std::strerror(errno); }

}  // namespace

std::unique_ptr<PseudoTerminal> PseudoTerminal::Create(std::string* whyNot) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    const char* step = "posix_openpt";
    char path[128];
    if (master >= 0) {
        step = grantpt(master) != 0                        ? "grantpt"
               : unlockpt(master) != 0                     ? "unlockpt"
               : ptsname_r(master, path, sizeof path) != 0 ? "ptsname_r"
                                                           : nullptr;
        if (step == nullptr)
            return std::unique_ptr<PseudoTerminal>(new PseudoTerminal(master, path));
    }
    if (whyNot != nullptr) *whyNot = Failed(step);
    if (master >= 0) close(master);
    return nullptr;
}

PseudoTerminal::~PseudoTerminal() { close(master_); }

int PseudoTerminal::OpenSlaveRaw(std::string* whyNot) const {
    const int fd = open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (whyNot != nullptr) *whyNot = Failed("open slave");
        return -1;
    }
    termios t{};
    if (tcgetattr(fd, &t) != 0 || (cfmakeraw(&t), tcsetattr(fd, TCSANOW, &t)) != 0) {
        if (whyNot != nullptr) *whyNot = Failed("raw mode");
        close(fd);
        return -1;
    }
    return fd;
}

bool WriteAll(int fd, const char* data, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t put = write(fd, data + done, size - done);
        if (put > 0) {
            done += static_cast<std::size_t>(put);
            continue;
        }
        if (put < 0 && errno != EAGAIN && errno != EINTR) return false;
        pollfd out{fd, POLLOUT, 0};
        const int ready = poll(&out, 1, kStallMs);
        if (ready == 0) return false;
        if (ready < 0 && errno != EINTR) return false;
        if ((out.revents & (POLLERR | POLLNVAL)) != 0) return false;
    }
    return true;
}

long ReadSome(int fd, char* out, std::size_t room, int timeoutMs) {
    for (;;) {
        const ssize_t got = read(fd, out, room);
        if (got > 0) return static_cast<long>(got);
        if (got == 0 || (errno != EAGAIN && errno != EINTR)) return -1;
        pollfd in{fd, POLLIN, 0};
        const int ready = poll(&in, 1, timeoutMs);
        if (ready == 0) return 0;
        if (ready < 0 && errno != EINTR) return -1;
        // A hung-up end with nothing left to read reads as failed above.
        if ((in.revents & (POLLERR | POLLNVAL)) != 0) return -1;
    }
}

bool ReadExactly(int fd, char* out, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const long got = ReadSome(fd, out + done, size - done, kStallMs);
        if (got <= 0) return false;
        done += static_cast<std::size_t>(got);
    }
    return true;
}

}  // namespace tarn::bench
