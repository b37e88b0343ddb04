// Run-time binding of a function exported by a shared library. On Windows
// these are kernel32's; elsewhere the same contract over the dynamic loader.
// A failure returns null and sets the last error (host_system_error.h).
#pragma once

#include <cstdint>
#include <string>

namespace tarn::host {

using HMODULE = void*;
using FARPROC = void (*)();
HMODULE GetModuleHandleA(const std::string& library);
HMODULE LoadLibraryA(const std::string& library);
FARPROC GetProcAddress(HMODULE module, const std::string& name);

// Calls a bound function that takes one 32-bit unsigned value and returns
// one, in the system's calling convention for library functions (stdcall on
// 32-bit Windows), as the multimedia timer functions are.
std::uint32_t CallUintFunction(FARPROC function, std::uint32_t value);

}  // namespace tarn::host
