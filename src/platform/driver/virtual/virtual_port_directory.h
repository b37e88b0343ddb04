// The virtual ports present: the list that the driver looks a name up in
// when it opens a port and that the port list shows. Names are compared
// without regard to ASCII letter case, as the system compares port names.
// Any thread; each call takes the list's own lock, never a port's.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "virtual_port_state.h"

namespace tarn::driver {

// The listed port of that name, or null.
std::shared_ptr<VirtualPortState> FindListedPort(const std::string& name);

// Lists `port` after the others. False when it is listed already; throws
// std::invalid_argument when another port of the same name is.
bool ListPort(const std::shared_ptr<VirtualPortState>& port);

// Takes `port` off the list, if it is on it.
void UnlistPort(const std::shared_ptr<VirtualPortState>& port);

// The names of the listed ports, in the order they were listed.
std::vector<std::string> ListedPortNames();

}  // namespace tarn::driver
