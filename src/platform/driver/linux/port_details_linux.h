// The port details on Linux, read from sysfs and /dev, with both roots
// given so that tests can describe a tree of their own making.
#pragma once

#include <string>
#include <vector>

#include "port_details_backend.h"

namespace tarn::driver {

// DescribeSystemPorts with sysfs at `sysRoot` (normally "/sys") and the
// device files at `devRoot` (normally "/dev"). Each listed port is a value
// of port_registry_linux.cpp: "\Device\KERNELNAME" for serial hardware,
// "\Device\Terminal\..." for a terminal held open by path, whose file is
// the rest with its backslashes as slashes. Any thread.
std::vector<PortDetails> DescribeSystemPortsUnder(const std::vector<ListedPort>& listed,
                                                  const std::string& sysRoot,
                                                  const std::string& devRoot);

}  // namespace tarn::driver
