#include "device_name_linux.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

namespace tarn::driver {
namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualIgnoringCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    }
    return true;
}

bool Exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// The entry of `directory` that equals `name` without regard to case, or an
// empty string.
std::string FindEntryIgnoringCase(const std::string& directory, const std::string& name) {
    DIR* dir = opendir(directory.empty() ? "/" : directory.c_str());
    if (dir == nullptr) return {};
    std::vector<std::string> matches;
    while (const dirent* entry = readdir(dir)) {
        const std::string entryName = entry->d_name;
        if (EqualIgnoringCase(entryName, name)) matches.push_back(entryName);
    }
    closedir(dir);
    if (matches.empty()) return {};
    return *std::min_element(matches.begin(), matches.end());
}

}  // namespace

std::string DeviceFileForName(const std::string& name) {
    if (!name.empty() && name[0] == '/') return name;
    if (name.size() > 3 && LowerAscii(name[0]) == 'c' && LowerAscii(name[1]) == 'o' &&
        LowerAscii(name[2]) == 'm') {
        const std::string digits = name.substr(3);
        const bool allDigits =
            digits.size() <= 9 && digits[0] != '0' &&
            std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
        if (allDigits) {
            const unsigned long number = std::strtoul(digits.c_str(), nullptr, 10);
            return "/dev/ttyS" + std::to_string(number - 1);
        }
    }
    return "/dev/" + name;
}

std::string FindPathIgnoringCase(const std::string& path) {
    if (path.empty() || path[0] != '/' || Exists(path)) return path;
    // Walk the components from the root, keeping each exact one that exists
    // and replacing the others by an entry that differs only in case.
    std::string resolved;
    std::size_t start = 1;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        const std::string component = path.substr(start, end - start);
        start = end + 1;
        if (component.empty()) continue;
        const std::string exact = resolved + "/" + component;
        if (component == "." || component == ".." || Exists(exact)) {
            resolved = exact;
            continue;
        }
        const std::string match = FindEntryIgnoringCase(resolved, component);
        if (match.empty()) return path;
        resolved += "/" + match;
    }
    return resolved.empty() ? path : resolved;
}

std::string FindDeviceFile(const std::string& name) {
    if (!name.empty() && name[0] != '/' && name.find('/') != std::string::npos) {
        std::error_code error;
        const std::string folder = std::filesystem::current_path(error).string();
        std::string relative = name;
        while (relative.compare(0, 2, "./") == 0) relative.erase(0, 2);
        if (!error && !folder.empty()) {
            const std::string local =
                FindPathIgnoringCase((folder == "/" ? "" : folder) + "/" + relative);
            if (Exists(local)) return local;
        }
    }
    return FindPathIgnoringCase(DeviceFileForName(name));
}

}  // namespace tarn::driver
