// The port details: the port list read as the component reads it, each
// value described by the backend or, for a virtual port, by the port
// itself; and the matching of a port by its USB ids or a stable path.
#include "port_details.h"

#include <algorithm>
#include <cstdint>

#include "device_path.h"
#include "port_details_backend.h"
#include "port_registry.h"
#include "virtual_port_directory.h"

namespace tarn {
namespace {

// The value name that port_registry.cpp gives each virtual port.
constexpr char kVirtualDevicePrefix[] = "\\Device\\VirtualSerial\\";

std::string Utf8(const std::u16string& text) {
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::uint32_t code = text[i];
        if (code >= 0xD800 && code < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] < 0xE000) {
            code = 0x10000 + ((code - 0xD800) << 10) + (text[++i] - 0xDC00);
        }
        if (code < 0x80) {
            bytes.push_back(static_cast<char>(code));
        } else if (code < 0x800) {
            bytes.push_back(static_cast<char>(0xC0 | (code >> 6)));
            bytes.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else if (code < 0x10000) {
            bytes.push_back(static_cast<char>(0xE0 | (code >> 12)));
            bytes.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            bytes.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else {
            bytes.push_back(static_cast<char>(0xF0 | (code >> 18)));
            bytes.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
            bytes.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            bytes.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        }
    }
    return bytes;
}

// Trimmed of the blanks that the port list trims.
std::string Trim(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t\r\n\v\f");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n\v\f") - first + 1);
}

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return LowerAscii(x) == LowerAscii(y);
           });
}

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

PortDetails DescribeVirtualPort(const std::string& name) {
    PortDetails details;
    details.name = name;
    details.path = driver::DevicePath(name);
    details.kind = PortKind::Virtual;
    details.description = "Virtual port " + name;
    // A port removed since the list was read keeps the plain record.
    if (auto port = driver::FindListedPort(name)) {
        const driver::VirtualPortDetails& own = port->details;
        if (!own.description.empty()) details.description = own.description;
        details.vendorId = own.vendorId;
        details.productId = own.productId;
        details.serialNumber = own.serialNumber;
        details.manufacturer = own.manufacturer;
        details.product = own.product;
    }
    return details;
}

// Whether `path` is absolute: "/dev/...", "\\.\COM3" or "C:\...".
bool IsAbsolutePath(const std::string& path) {
    if (path.empty()) return false;
    if (path[0] == '/' || path[0] == '\\') return true;
    const char drive = LowerAscii(path[0]);
    return path.size() > 2 && drive >= 'a' && drive <= 'z' && path[1] == ':' &&
           (path[2] == '\\' || path[2] == '/');
}

bool MatchesPath(const PortDetails& port, const std::string& path) {
    for (const std::string& own : {port.stablePath, port.path}) {
        if (!own.empty() && (own == path || driver::SameDevicePath(path, own))) return true;
    }
    return false;
}

}  // namespace

const char* PortKindName(PortKind kind) {
    switch (kind) {
        case PortKind::Usb:
            return "usb";
        case PortKind::UsbAcm:
            return "usb-acm";
        case PortKind::PlatformUart:
            return "platform-uart";
        case PortKind::Pci:
            return "pci";
        case PortKind::Bluetooth:
            return "bluetooth";
        case PortKind::PseudoTerminal:
            return "pseudo-terminal";
        case PortKind::Virtual:
            return "virtual";
        case PortKind::Unknown:
            break;
    }
    return "unknown";
}

std::vector<PortDetails> ListPortDetails() {
    // The list as the component reads it (port_discovery.cpp), with the
    // virtual ports; a value that is not a string names no port.
    std::vector<host::RegistryValue> values;
    driver::ReadRegistryKey(host::HKEY_LOCAL_MACHINE, driver::kSerialCommKey, values);
    std::vector<driver::ListedPort> listed;
    std::vector<bool> isVirtual;
    for (const host::RegistryValue& value : values) {
        if (!value.isString) continue;
        driver::ListedPort port{Utf8(value.name), Trim(Utf8(value.data))};
        if (port.name.empty()) continue;
        isVirtual.push_back(StartsWith(port.device, kVirtualDevicePrefix));
        listed.push_back(std::move(port));
    }

    // The backend sees its own ports only, and all of them at once, as it
    // may have to enumerate the system's devices to tell any one of them.
    std::vector<driver::ListedPort> system;
    for (std::size_t i = 0; i < listed.size(); ++i) {
        if (!isVirtual[i]) system.push_back(listed[i]);
    }
    std::vector<PortDetails> described = driver::DescribeSystemPorts(system);

    std::vector<PortDetails> details;
    std::size_t next = 0;
    for (std::size_t i = 0; i < listed.size(); ++i) {
        details.push_back(isVirtual[i] ? DescribeVirtualPort(listed[i].name)
                                       : std::move(described[next++]));
    }
    return details;
}

std::optional<PortMatch> ParsePortMatch(const std::string& text) {
    if (IsAbsolutePath(text)) {
        PortMatch match;
        match.stablePath = text;
        return match;
    }
    if (text.size() < 4 || !EqualIgnoringCase(text.substr(0, 4), "usb:")) return std::nullopt;
    const std::size_t vendorEnd = text.find(':', 4);
    if (vendorEnd == std::string::npos) return std::nullopt;
    const std::size_t productEnd = text.find(':', vendorEnd + 1);
    const auto vendor = driver::NormalUsbId(text.substr(4, vendorEnd - 4));
    const auto product = driver::NormalUsbId(
        text.substr(vendorEnd + 1, productEnd == std::string::npos ? std::string::npos
                                                                   : productEnd - vendorEnd - 1));
    if (!vendor || !product) return std::nullopt;
    PortMatch match;
    match.vendorId = *vendor;
    match.productId = *product;
    if (productEnd != std::string::npos) {
        // A serial number may hold colons of its own; all that follows is it.
        match.serialNumber = text.substr(productEnd + 1);
        if (match.serialNumber.empty()) return std::nullopt;
    }
    return match;
}

std::optional<PortDetails> FindPort(const PortMatch& match) {
    // Ids given by hand are taken in any form that ParsePortMatch takes.
    const std::string vendor = driver::NormalUsbId(match.vendorId).value_or(match.vendorId);
    const std::string product = driver::NormalUsbId(match.productId).value_or(match.productId);
    for (PortDetails& port : ListPortDetails()) {
        if (!vendor.empty() && port.vendorId != vendor) continue;
        if (!product.empty() && port.productId != product) continue;
        // Windows keeps serial numbers in capitals in its device ids.
        if (!match.serialNumber.empty() &&
            !EqualIgnoringCase(port.serialNumber, match.serialNumber))
            continue;
        if (!match.stablePath.empty() && !MatchesPath(port, match.stablePath)) continue;
        return std::move(port);
    }
    return std::nullopt;
}

namespace driver {

std::optional<std::string> NormalUsbId(const std::string& text) {
    if (text.empty() || text.size() > 4) return std::nullopt;
    std::string id(4 - text.size(), '0');
    for (char c : text) {
        const char lower = LowerAscii(c);
        if (!((lower >= '0' && lower <= '9') || (lower >= 'a' && lower <= 'f')))
            return std::nullopt;
        id.push_back(lower);
    }
    return id;
}

}  // namespace driver
}  // namespace tarn
