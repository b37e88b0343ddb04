// tarnterm as a whole, from its arguments to its exit status, with the
// console passed in so that the tests can run it in-process.
#pragma once

#include <string>
#include <vector>

#include "console.h"

namespace tarnterm {

// `args` without the program name. Main thread only.
int RunProgram(const std::vector<std::string>& args, Console& console);

}  // namespace tarnterm
