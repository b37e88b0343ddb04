// The backend's part of the port details (port_details.h): what the system
// knows of the ports on its own list. port_details.cpp reads the list and
// describes the virtual ports; port_details_linux.cpp and
// port_details_win32.cpp describe the rest.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "port_details.h"

namespace tarn::driver {

// One value of the port list, in UTF-8: its value name, which is the
// system's name of the device ("\Device\Serial0", "\Device\ttyUSB0"), and
// the port name it holds, trimmed.
struct ListedPort {
    std::string device;
    std::string name;
};

// The details of each of `listed`, one record each and in the same order,
// with `name` as listed. Any thread.
std::vector<PortDetails> DescribeSystemPorts(const std::vector<ListedPort>& listed);

// Whether the two paths lead to the same device, where the system can tell
// beyond comparing the texts (links, device numbers). Any thread.
bool SameDevicePath(const std::string& a, const std::string& b);

// A USB id of one to four hexadecimal digits, in any letter case, as four
// lower-case digits ("403" -> "0403"); nothing for any other text.
std::optional<std::string> NormalUsbId(const std::string& text);

}  // namespace tarn::driver
