#include "config.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

namespace tarnterm {
namespace {

std::string Trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

}  // namespace

std::string ConfigFilePath(const std::function<const char*(const char*)>& variable) {
    const std::pair<const char*, const char*> kPlaces[] = {
        {"XDG_CONFIG_HOME", ""}, {"APPDATA", ""}, {"HOME", ".config"}};
    for (const auto& [name, below] : kPlaces) {
        const char* value = variable(name);
        if (value == nullptr || *value == '\0') continue;
        std::filesystem::path path = std::filesystem::u8path(value);
        if (*below != '\0') path /= below;
        return (path / "tarnterm" / "config").u8string();
    }
    return {};
}

bool ParseConfig(const std::string& text, const std::string& source, Profiles& profiles,
                 std::string& error) {
    std::vector<std::string>* profile = nullptr;
    std::size_t number = 0;
    for (std::size_t from = 0; from < text.size(); ++number) {
        std::size_t end = text.find('\n', from);
        if (end == std::string::npos) end = text.size();
        const std::string line = Trimmed(text.substr(from, end - from));
        from = end + 1;
        const std::string where = source + ":" + std::to_string(number + 1) + ": ";
        if (line.empty() || line[0] == '#' || line[0] == ';') continue;
        if (line[0] == '[') {
            const std::string name = Trimmed(line.substr(1, line.size() - 2));
            if (line.back() != ']' || name.empty()) {
                error = where + "a profile's heading is its name in brackets, such as [bench]";
                return false;
            }
            if (profiles.count(name) != 0) {
                error = where + "the profile " + name + " is given twice";
                return false;
            }
            profile = &profiles[name];
            continue;
        }
        const std::size_t equals = line.find('=');
        const std::string name = Trimmed(line.substr(0, equals));
        if (profile == nullptr) {
            error = where + "'" + name + "' stands before the first profile, such as [bench]";
            return false;
        }
        const bool hasValue = equals != std::string::npos;
        const std::string value = hasValue ? Trimmed(line.substr(equals + 1)) : std::string();
        std::string argument = value;
        std::string why = "'port' needs a value, such as port = /dev/ttyUSB0";
        const bool taken =
            name == "port" ? !value.empty() : ProfileArgument(name, hasValue, value, argument, why);
        if (!taken) {
            error = where + why;
            return false;
        }
        profile->push_back(argument);
    }
    return true;
}

bool LoadConfig(const std::string& path, Profiles& profiles, std::string& error) {
    if (path.empty()) return true;
    const std::filesystem::path file = std::filesystem::u8path(path);
    std::error_code missing;
    if (!std::filesystem::exists(file, missing)) return true;
    std::ifstream stream(file, std::ios::binary);
    std::string text;
    try {
        text.assign(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
    } catch (const std::ios_base::failure&) {
        stream.setstate(std::ios::badbit);
    }
    if (!stream.is_open() || stream.bad()) {
        error = "cannot read the configuration file " + path;
        return false;
    }
    return ParseConfig(text, path, profiles, error);
}

}  // namespace tarnterm
