// Only the kernel's terminal header may be included here; see the header.
#include "termios2_linux.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cstring>

#include "system_calls_linux.h"

namespace tarn::driver {

static_assert(NCCS == kKernelControlChars, "the kernel's control-character count");

namespace {

int TerminalIoctl(int fd, unsigned long request, struct termios2& t) {
    return Retrying([&] { return SystemCalls().ioctl(fd, request, &t); });
}

}  // namespace

int ReadLineTermios(int fd, LineTermios& settings) {
    struct termios2 t;
    std::memset(&t, 0, sizeof t);
    if (TerminalIoctl(fd, TCGETS2, t) != 0) return -1;
    settings.iflag = t.c_iflag;
    settings.oflag = t.c_oflag;
    settings.cflag = t.c_cflag & ~static_cast<tcflag_t>(CBAUD | CIBAUD);
    settings.lflag = t.c_lflag;
    std::memcpy(settings.cc, t.c_cc, sizeof settings.cc);
    // The kernel keeps c_ospeed current for standard rates too.
    settings.rate = t.c_ospeed;
    return 0;
}

int WriteLineTermios(int fd, const LineTermios& settings) {
    struct termios2 t;
    std::memset(&t, 0, sizeof t);
    // Read first so that the line discipline number is kept.
    if (TerminalIoctl(fd, TCGETS2, t) != 0) return -1;
    t.c_iflag = settings.iflag;
    t.c_oflag = settings.oflag;
    // An input rate field of zero makes the input rate follow the output rate.
    t.c_cflag = (settings.cflag & ~static_cast<tcflag_t>(CBAUD | CIBAUD)) | BOTHER;
    t.c_lflag = settings.lflag;
    std::memcpy(t.c_cc, settings.cc, sizeof t.c_cc);
    t.c_ispeed = settings.rate;
    t.c_ospeed = settings.rate;
    return TerminalIoctl(fd, TCSETS2, t);
}

}  // namespace tarn::driver
