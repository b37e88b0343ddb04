// The terminals that this backend holds open, so that the port list can name
// the ones that no listing of the machine's serial hardware would show
// (pseudo-terminals, consoles): a port that is open must be found by the
// presence check for as long as it is really there.
#pragma once

#include <string>
#include <vector>

namespace tarn::driver {

struct OpenTerminal {
    std::string name;  // the port name as it was opened, without "\\.\"
    std::string file;  // the file that was opened
};

// Records that `fd` holds `file`, opened under `name`. Any thread.
void RegisterOpenTerminal(int fd, const std::string& name, const std::string& file);

// Forgets `fd`. Must be called before the descriptor is closed, so that no
// other thread can look at a descriptor number that has been reused. Any
// thread.
void UnregisterOpenTerminal(int fd);

// The registered terminals that are still there: the file still exists and
// is still the device that was opened, and the line has not been hung up
// (a pseudo-terminal whose other end closed, an unplugged adapter). In the
// order of opening. Any thread; holds the table's lock while it checks.
std::vector<OpenTerminal> PresentOpenTerminals();

// Those of them opened under `name`, ASCII letter case ignored, checked
// alone.
std::vector<OpenTerminal> PresentOpenTerminalsNamed(const std::string& name);

}  // namespace tarn::driver
