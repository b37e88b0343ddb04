// The serial hardware of the machine as the kernel lists it in sysfs.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tarn::driver {

struct SerialHardware {
    std::string kernelName;  // "ttyS0", "ttyUSB0"
    std::string portName;    // the name that opens it: "COM1", "ttyUSB0"
};

// The terminals under `classDirectory` (normally /sys/class/tty) that have a
// driver behind them (a `device/driver` link): USB adapters, modems, UARTs.
// Legacy UART nodes exist whether or not a chip is fitted; one whose `type`
// reads 0 (PORT_UNKNOWN) has none and is left out. A ttySn is named COM(n+1),
// any other terminal by its kernel name. Sorted by name, numbers by value.
std::vector<SerialHardware> ListSerialHardware(
    const std::string& classDirectory = "/sys/class/tty");

// The one entry `kernelName` of `classDirectory`, as ListSerialHardware
// would list it, or none when the listing would leave it out or it is not
// there. Looks at that entry alone.
std::optional<SerialHardware> FindSerialHardware(
    const std::string& kernelName, const std::string& classDirectory = "/sys/class/tty");

}  // namespace tarn::driver
