// From the Windows device path of a port to the file that holds it.
//
// The component names ports the Windows way ("\\.\COM3"), and the port list
// hands names back in capital letters, so names are resolved as Windows
// resolves them: without regard to letter case.
#pragma once

#include <string>

#include "device_path.h"

namespace tarn::driver {

// The file that a port name stands for: an absolute name is that file,
// "COMn" (any letter case, n from 1) is /dev/ttyS(n-1), and any other name is
// looked for in /dev. Does not look at the file system.
std::string DeviceFileForName(const std::string& name);

// The file that the port `name` opens, as the file system holds it now. A
// name with a slash in it that is not absolute is first a path from the
// working directory, given back absolute so that an open port does not
// depend on a later change of directory; where nothing is there, and for
// every other name, it is DeviceFileForName's file. Letter case is ignored
// as FindPathIgnoringCase ignores it.
std::string FindDeviceFile(const std::string& name);

// `path` itself when it exists; otherwise the first existing path that equals
// it when letter case is ignored, component by component (candidates taken in
// byte order). Returns `path` unchanged when nothing matches.
std::string FindPathIgnoringCase(const std::string& path);

}  // namespace tarn::driver
