// tarnterm as a whole, from its arguments to its exit status, with the
// console passed in so that the tests can run it in-process.
#pragma once

#include <string>
#include <vector>

#include "config.h"
#include "console.h"

namespace tarnterm {

// `args` without the program name; `configFile` holds the profiles that a
// port argument may name (config.h), none when empty or not there. Main
// thread only.
int RunProgram(const std::vector<std::string>& args, Console& console,
               const std::string& configFile = {});

}  // namespace tarnterm
