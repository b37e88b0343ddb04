// A port's device path, the Windows way on every system: "\\.\" and the
// port's name ("\\.\COM3"), as CreateFileA takes it and the port list gives
// it.
#pragma once

#include <string>

namespace tarn::driver {

inline constexpr char kDevicePrefix[] = "\\\\.\\";

// The device path of the port `name`.
std::string DevicePath(const std::string& name);

// True when `path` begins with the device prefix.
bool HasDevicePrefix(const std::string& path);

// `path` without its leading device prefix; a path without that prefix is
// returned as it stands.
std::string StripDevicePrefix(const std::string& path);

}  // namespace tarn::driver
