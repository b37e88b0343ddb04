// The registry as the port list reads it. On Windows this is the real
// registry; elsewhere the one key that the component reads,
// HARDWARE\DEVICEMAP\SERIALCOMM under HKEY_LOCAL_MACHINE, is made up from
// the serial devices present (port_registry_linux.cpp). In every build the
// virtual ports that exist, and the remote ports open with their connection
// alive, are added to that key's values.
#pragma once

#include <string>
#include <vector>

#include "host_registry.h"

namespace tarn::driver {

using host::HKEY;
using host::HKEY_CURRENT_USER;
using host::HKEY_LOCAL_MACHINE;
using host::RegistryValue;

// The key that lists the serial ports present.
inline constexpr char16_t kSerialCommKey[] = u"HARDWARE\\DEVICEMAP\\SERIALCOMM";

// Reads all values of `root`\`path`, in the order the registry enumerates
// them. Returns false when the key cannot be opened. Safe on any thread.
bool ReadRegistryKey(HKEY root, const std::u16string& path, std::vector<RegistryValue>& values);

// The backend's own part of ReadRegistryKey, without the virtual ports
// (port_registry_win32.cpp, port_registry_linux.cpp).
bool ReadOsRegistryKey(HKEY root, const std::u16string& path, std::vector<RegistryValue>& values);

// Data of values of the port list that may equal `name` (ASCII letter case
// and surrounding blanks aside), found without reading the whole list,
// which the presence check would otherwise do on every idle poll. Each one
// returned is in the list as a read of it now would give it; the caller
// compares them with `name` itself. Empty when the backend cannot tell that
// cheaply, which is always so on Windows, where only reading the key tells
// (and tells also of values that are not strings). Safe on any thread.
std::vector<std::u16string> ListedPortsNamed(const std::u16string& name);
// The backend's own part of ListedPortsNamed, without the remote ports
// (port_registry_win32.cpp, port_registry_linux.cpp).
std::vector<std::u16string> ListedOsPortsNamed(const std::u16string& name);

// True when `path` names the port list key, compared without regard to case
// and to a leading backslash, as the registry itself does.
bool IsSerialCommKey(HKEY root, const std::u16string& path);

}  // namespace tarn::driver
