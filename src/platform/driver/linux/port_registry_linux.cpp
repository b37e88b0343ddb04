// The registry outside Windows: only the port-list key exists, made up from
// the serial hardware in sysfs and the terminals that this backend holds
// open.
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "open_terminals_linux.h"
#include "port_registry.h"
#include "serial_hardware_linux.h"
#include "virtual_port.h"

namespace tarn::driver {
namespace {

// Device names are ASCII in practice; each byte is taken as the character of
// the same code.
std::u16string Widen(const std::string& bytes) {
    std::u16string text;
    for (unsigned char c : bytes) text.push_back(static_cast<char16_t>(c));
    return text;
}

char16_t UpperAscii(char16_t c) { return (c >= u'a' && c <= u'z') ? c - u'a' + u'A' : c; }

bool EqualIgnoringCase(const std::u16string& a, const std::u16string& b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [](char16_t x, char16_t y) { return UpperAscii(x) == UpperAscii(y); });
}

RegistryValue StringValue(const std::u16string& name, const std::u16string& data) {
    RegistryValue value;
    value.name = name;
    value.isString = true;
    value.data = data;
    return value;
}

// The kernel name of the legacy UART that `name` ("COM1" and so on) stands
// for, or empty.
std::string UartForComName(const std::string& name) {
    if (name.size() < 4 || name.size() > 12) return {};
    if (UpperAscii(name[0]) != u'C' || UpperAscii(name[1]) != u'O' || UpperAscii(name[2]) != u'M')
        return {};
    if (!std::all_of(name.begin() + 3, name.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return {};
    const long number = std::strtol(name.c_str() + 3, nullptr, 10);
    return number >= 1 ? "ttyS" + std::to_string(number - 1) : std::string();
}

}  // namespace

std::vector<std::u16string> ListedOsPortsNamed(const std::u16string& name) {
    std::string bytes;
    for (char16_t c : name) {
        if (c > 0x7F) return {};  // no device is named so
        bytes.push_back(static_cast<char>(c));
    }
    const std::size_t first = bytes.find_first_not_of(" \t\r\n\v\f");
    if (first == std::string::npos) return {};
    bytes = bytes.substr(first, bytes.find_last_not_of(" \t\r\n\v\f") - first + 1);

    std::vector<std::u16string> listed;
    const std::u16string wide = Widen(bytes);
    for (const std::string& port : VirtualPort::PresentNames()) {
        if (EqualIgnoringCase(Widen(port), wide)) listed.push_back(Widen(port));
    }
    for (const OpenTerminal& terminal : PresentOpenTerminalsNamed(bytes)) {
        listed.push_back(Widen(terminal.name));
    }
    // Sysfs names are case-sensitive: a name in other letters than the
    // kernel's is left to the whole list.
    const std::string uart = UartForComName(bytes);
    if (auto hardware = FindSerialHardware(uart.empty() ? bytes : uart)) {
        listed.push_back(Widen(hardware->portName));
    }
    return listed;
}

bool ReadOsRegistryKey(HKEY root, const std::u16string& path, std::vector<RegistryValue>& values) {
    if (!IsSerialCommKey(root, path)) return false;
    for (const SerialHardware& hardware : ListSerialHardware()) {
        values.push_back(
            StringValue(u"\\Device\\" + Widen(hardware.kernelName), Widen(hardware.portName)));
    }
    // A terminal that no hardware listing shows (a pseudo-terminal, say) is
    // listed under the name it was opened with while it is open and there,
    // so that the presence check does not take an open port for a vanished
    // one, and drops out as soon as it goes.
    for (const OpenTerminal& terminal : PresentOpenTerminals()) {
        const std::u16string data = Widen(terminal.name);
        const bool listed = std::any_of(values.begin(), values.end(), [&](const RegistryValue& v) {
            return v.isString && EqualIgnoringCase(v.data, data);
        });
        if (listed) continue;
        std::u16string name = u"\\Device\\Terminal";
        for (char16_t c : Widen(terminal.file)) name.push_back(c == u'/' ? u'\\' : c);
        values.push_back(StringValue(name, data));
    }
    return true;
}

}  // namespace tarn::driver
