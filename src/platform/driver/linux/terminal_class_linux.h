// Whether a character device is a terminal, told from its device number
// alone. Opening a device can have effects of its own (a tape rewinds, a
// watchdog starts its count-down, a modem line rises), so a port is looked
// at this way before anything is opened.
#pragma once

#include <sys/types.h>

#include <string>

namespace tarn::driver {

enum class TerminalClass {
    kTerminal,     // a terminal: a serial line, a console, a pseudo-terminal
    kNotTerminal,  // some other device, which is not to be opened as a port
    kUnknown,      // the system has no device classes to ask (no sysfs)
};

// True when `device`, found at `file`, is the slave end of a pseudo-terminal.
bool IsPseudoTerminalSlave(const std::string& file, dev_t device);

// The class of the character device `device`, found at `file`. Linux names
// the class of each device in `charDirectory` (normally /sys/dev/char) as
// the link MAJOR:MINOR/subsystem; pseudo-terminal slaves have no entry
// there and are known by their device numbers or by their file system.
TerminalClass ClassifyCharDevice(const std::string& file, dev_t device,
                                 const std::string& charDirectory = "/sys/dev/char");

}  // namespace tarn::driver
