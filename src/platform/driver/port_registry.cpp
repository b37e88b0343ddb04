// The registry as the port list sees it: the backend's own key, plus one
// string value for each virtual port present.
#include <string>

#include "port_registry.h"
#include "virtual_port.h"

namespace tarn::driver {

namespace {

std::u16string UpperAscii(std::u16string text) {
    for (char16_t& c : text) {
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    }
    return text;
}

// Virtual port names are plain ASCII in practice; each byte is taken as the
// character of the same code.
std::u16string Widen(const std::string& bytes) {
    std::u16string text;
    for (unsigned char c : bytes) text.push_back(static_cast<char16_t>(c));
    return text;
}

}  // namespace

bool IsSerialCommKey(HKEY root, const std::u16string& path) {
    if (root != HKEY_LOCAL_MACHINE) return false;
    std::u16string key = path;
    while (!key.empty() && key.front() == u'\\') key.erase(0, 1);
    while (!key.empty() && key.back() == u'\\') key.pop_back();
    return UpperAscii(key) == kSerialCommKey;
}

bool ReadRegistryKey(HKEY root, const std::u16string& path, std::vector<RegistryValue>& values) {
    values.clear();
    bool opened = ReadOsRegistryKey(root, path, values);
    if (!IsSerialCommKey(root, path)) return opened;

    const std::vector<std::string> names = VirtualPort::PresentNames();
    if (!opened) {
        // Without virtual ports a missing key stays missing.
        values.clear();
        if (names.empty()) return false;
    }
    for (const std::string& name : names) {
        RegistryValue value;
        value.name = u"\\Device\\VirtualSerial\\" + Widen(name);
        value.isString = true;
        value.data = Widen(name);
        values.push_back(std::move(value));
    }
    return true;
}

}  // namespace tarn::driver
