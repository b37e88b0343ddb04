// The registry as the port list sees it: the backend's own key, plus one
// string value for each virtual port present and for each remote port whose
// connection is alive.
#include <string>
#include <utility>
#include <vector>

#include "port_registry.h"
#include "remote_address.h"
#include "remote_port_list.h"
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

RegistryValue StringValue(std::u16string name, std::u16string data) {
    RegistryValue value;
    value.name = std::move(name);
    value.isString = true;
    value.data = std::move(data);
    return value;
}

std::u16string TrimmedBlanks(const std::u16string& text) {
    const auto blank = [](char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); };
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && blank(text[first])) ++first;
    while (last > first && blank(text[last - 1])) --last;
    return text.substr(first, last - first);
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
    const std::vector<remote::ListedRemotePort> remotes = remote::ListedRemotePorts();
    if (!opened) {
        // Without ports of our own a missing key stays missing.
        values.clear();
        if (names.empty() && remotes.empty()) return false;
    }
    for (const std::string& name : names) {
        values.push_back(StringValue(u"\\Device\\VirtualSerial\\" + Widen(name), Widen(name)));
    }
    for (const remote::ListedRemotePort& port : remotes) {
        values.push_back(StringValue(
            u"\\Device\\RemoteSerial\\" + Widen(std::to_string(port.number)), Widen(port.name)));
    }
    return true;
}

std::vector<std::u16string> ListedPortsNamed(const std::u16string& name) {
    // A remote port is found in the list of this process alone, which the
    // presence check of an open one then asks without the system's list.
    std::vector<std::u16string> listed;
    const std::u16string wanted = UpperAscii(TrimmedBlanks(name));
    for (const remote::ListedRemotePort& port : remote::ListedRemotePorts()) {
        if (UpperAscii(Widen(port.name)) == wanted) listed.push_back(Widen(port.name));
    }
    // No port of the system is named like an address.
    if (remote::HasUrlShape(std::string(wanted.begin(), wanted.end()))) return listed;
    for (std::u16string& os : ListedOsPortsNamed(name)) listed.push_back(std::move(os));
    return listed;
}

}  // namespace tarn::driver
