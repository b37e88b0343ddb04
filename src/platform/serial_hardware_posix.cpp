#include "serial_hardware_posix.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <tuple>

namespace tarn::driver {
namespace {

bool Exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// "ttyUSB12" -> ("ttyUSB", 12); a name without trailing digits has -1.
std::pair<std::string, long> SplitNumber(const std::string& name) {
    std::size_t digits = name.size();
    while (digits > 0 && name[digits - 1] >= '0' && name[digits - 1] <= '9') --digits;
    if (digits == name.size() || name.size() - digits > 9) return {name, -1};
    return {name.substr(0, digits), std::stol(name.substr(digits))};
}

bool HasNoChip(const std::string& ttyDirectory) {
    std::ifstream type(ttyDirectory + "/type");
    long value = -1;
    return type >> value && value == 0;
}

}  // namespace

std::vector<SerialHardware> ListSerialHardware(const std::string& classDirectory) {
    std::vector<SerialHardware> found;
    DIR* dir = opendir(classDirectory.c_str());
    if (dir == nullptr) return found;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.empty() || name[0] == '.') continue;
        const std::string ttyDirectory = classDirectory + "/" + name;
        // stat() follows the link, so a dangling one counts as no driver.
        if (!Exists(ttyDirectory + "/device/driver")) continue;
        if (HasNoChip(ttyDirectory)) continue;
        SerialHardware hardware{name, name};
        const auto [stem, number] = SplitNumber(name);
        if (stem == "ttyS" && number >= 0) hardware.portName = "COM" + std::to_string(number + 1);
        found.push_back(hardware);
    }
    closedir(dir);
    std::sort(found.begin(), found.end(), [](const SerialHardware& a, const SerialHardware& b) {
        const auto left = SplitNumber(a.kernelName);
        const auto right = SplitNumber(b.kernelName);
        return std::tie(left.first, left.second, a.kernelName) <
               std::tie(right.first, right.second, b.kernelName);
    });
    return found;
}

}  // namespace tarn::driver
