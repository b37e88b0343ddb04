// The serial hardware of the machine as the kernel lists it in sysfs.
#pragma once

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

}  // namespace tarn::driver
