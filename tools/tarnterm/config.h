// The configuration file: named profiles, each a set of options that
// `tarnterm PROFILE` stands for.
//
//   # the bench meter
//   [bench]
//   port = usb:0403:6001
//   baud = 9600
//   map = icrnl
//   timestamps = delta
//   echo
//
// An entry is an option's long name without its dashes, with its value
// after '=' when it takes one; "port" names the port. Blank lines and lines
// that begin with '#' or ';' are left out.
#pragma once

#include <functional>
#include <string>

#include "options.h"

namespace tarnterm {

// Where the file is: $XDG_CONFIG_HOME/tarnterm/config, else
// %APPDATA%\tarnterm\config (Windows), else $HOME/.config/tarnterm/config;
// empty when none of these variables is set. `variable` gives a variable
// of the environment, none when it is unset.
std::string ConfigFilePath(const std::function<const char*(const char*)>& variable);

// Reads the profiles of `text`, each as the arguments it stands for, every
// option with its own value ("--baud=9600"), so that none takes the next
// line for one. False, with `error` naming the place ("SOURCE:4: ...") and
// what is wrong, for a line that is no heading, entry or comment, an entry
// before the first heading, an option that does not exist, a value that is
// missing, not wanted or not accepted, or a profile given twice.
bool ParseConfig(const std::string& text, const std::string& source, Profiles& profiles,
                 std::string& error);

// Reads the file at `path`; a file that is not there holds no profiles.
// False, with `error` set, when it cannot be read or is not valid; a
// mistake is named by the path and the line, "PATH:4: ...".
bool LoadConfig(const std::string& path, Profiles& profiles, std::string& error);

}  // namespace tarnterm
