#include "device_path.h"

namespace tarn::driver {

namespace {
constexpr std::size_t kDevicePrefixLength = sizeof kDevicePrefix - 1;
}  // namespace

std::string DevicePath(const std::string& name) { return kDevicePrefix + name; }

bool HasDevicePrefix(const std::string& path) {
    return path.compare(0, kDevicePrefixLength, kDevicePrefix) == 0;
}

std::string StripDevicePrefix(const std::string& path) {
    return HasDevicePrefix(path) ? path.substr(kDevicePrefixLength) : path;
}

}  // namespace tarn::driver
