// tarnterm --watch: a line for each serial port that comes or goes, as it
// happens.
#pragma once

#include <string>

#include "console.h"
#include "port_details.h"

namespace tarnterm {

// "+ ttyUSB0  FT232R USB UART  0403:6001  A600ABCD" for a port that came,
// with what is known of it; "- ttyUSB0" for one that went.
std::string FormatPortChange(bool arrived, const std::string& name,
                             const tarn::PortDetails* details);

// Prints the changes until q or Ctrl-C is typed on a terminal, or, when the
// input is not a terminal, until the program is stopped. Main thread only.
int WatchPorts(Console& console);

}  // namespace tarnterm
