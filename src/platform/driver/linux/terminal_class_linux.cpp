#include "terminal_class_linux.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace tarn::driver {
namespace {

// The Unix98 pseudo-terminal slaves take eight majors from 136 on, and live
// on the devpts file system, whose magic number this is.
constexpr unsigned kFirstPtySlaveMajor = 136;
constexpr unsigned kLastPtySlaveMajor = 143;
constexpr long kDevptsMagic = 0x1cd1;

}  // namespace

bool IsPseudoTerminalSlave(const std::string& file, dev_t device) {
    const unsigned deviceMajor = major(device);
    if (deviceMajor >= kFirstPtySlaveMajor && deviceMajor <= kLastPtySlaveMajor) return true;
    struct statfs fs;
    return statfs(file.c_str(), &fs) == 0 && static_cast<long>(fs.f_type) == kDevptsMagic;
}

TerminalClass ClassifyCharDevice(const std::string& file, dev_t device,
                                 const std::string& charDirectory) {
    if (IsPseudoTerminalSlave(file, device)) return TerminalClass::kTerminal;

    const std::string entry =
        charDirectory + "/" + std::to_string(major(device)) + ":" + std::to_string(minor(device));
    char target[4096];
    const ssize_t length = readlink((entry + "/subsystem").c_str(), target, sizeof target - 1);
    if (length > 0) {
        const std::string link(target, static_cast<std::size_t>(length));
        const std::size_t slash = link.rfind('/');
        const std::string className = slash == std::string::npos ? link : link.substr(slash + 1);
        return className == "tty" ? TerminalClass::kTerminal : TerminalClass::kNotTerminal;
    }
    // A device that the kernel lists without a class, or not at all, is no
    // terminal: every terminal driver registers its devices in the tty
    // class. Only where the list itself is missing is there no answer.
    struct stat st;
    if (stat(charDirectory.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        return TerminalClass::kNotTerminal;
    }
    return TerminalClass::kUnknown;
}

}  // namespace tarn::driver
