// Translation of the C library's errno values into the Win32 error codes
// that the driver seam reports.
#pragma once

#include <cstdint>

namespace tarn::driver {

// The Win32 code that Windows reports for the same kind of failure.
std::uint32_t Win32ErrorFromErrno(int error);

// True for the errno values with which the kernel says that a terminal has
// gone away (hung up, unplugged).
bool IsDeviceGoneErrno(int error);

}  // namespace tarn::driver
