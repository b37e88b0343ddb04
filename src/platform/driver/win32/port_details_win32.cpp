// The port details on Windows, from the devices of the Ports class that
// SetupAPI enumerates: each device's "PortName" value ties it to a name on
// the port list, its registry properties give the description, maker and
// location, and its device ids the USB ids and serial number
// ("USB\VID_0403&PID_6001\A600ABCD"). A listed port that no device claims
// (Wine has none; a driver may list a port without a device of that class)
// keeps what the list tells: its name and the system's device name.
#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "device_path.h"
#include "port_details_backend.h"

#include "host_windows.h"

#include <cfgmgr32.h>
#include <setupapi.h>

namespace tarn::driver {
namespace {

// The Ports device class (COM and LPT ports), written out so that no GUID
// library is needed.
const ::GUID kPortsClass = {
    0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    if (size > 0) {
        ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &bytes[0],
                              size, nullptr, nullptr);
    }
    return bytes;
}

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

std::string UpperAscii(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](char c) { return UpperAscii(c); });
    return text;
}

// A string property of the device (the first string of a multi-string);
// empty when the device has none.
std::string RegistryProperty(::HDEVINFO devices, ::SP_DEVINFO_DATA* device, ::DWORD property) {
    ::DWORD type = 0;
    ::DWORD size = 0;
    ::SetupDiGetDeviceRegistryPropertyW(devices, device, property, &type, nullptr, 0, &size);
    if (size == 0) return {};
    // One more character than asked for, so that the text always ends.
    std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 2, L'\0');
    if (!::SetupDiGetDeviceRegistryPropertyW(devices, device, property, &type,
                                             reinterpret_cast<::BYTE*>(buffer.data()), size,
                                             nullptr) ||
        (type != REG_SZ && type != REG_MULTI_SZ)) {
        return {};
    }
    return Utf8(buffer.data());
}

// The port name that the device's own key holds ("COM3").
std::string PortNameOf(::HDEVINFO devices, ::SP_DEVINFO_DATA* device) {
    const ::HKEY key =
        ::SetupDiOpenDevRegKey(devices, device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == reinterpret_cast<::HKEY>(INVALID_HANDLE_VALUE)) return {};
    wchar_t name[256] = {};
    ::DWORD size = sizeof name - sizeof(wchar_t);
    ::DWORD type = 0;
    const ::LONG result = ::RegQueryValueExW(key, L"PortName", nullptr, &type,
                                             reinterpret_cast<::BYTE*>(name), &size);
    ::RegCloseKey(key);
    return result == ERROR_SUCCESS && type == REG_SZ ? Utf8(name) : std::string();
}

std::string DeviceIdOf(::DEVINST instance) {
    wchar_t id[MAX_DEVICE_ID_LEN + 1] = {};
    return ::CM_Get_Device_IDW(instance, id, MAX_DEVICE_ID_LEN, 0) == CR_SUCCESS ? Utf8(id)
                                                                                 : std::string();
}

// The value of "KEY_" in an upper-case device id ("VID_0403" -> "0403"):
// `digits` hexadecimal digits, in lower case; empty when it has none.
std::string IdField(const std::string& upperId, const std::string& key, std::size_t digits) {
    const std::size_t at = upperId.find(key + "_");
    if (at == std::string::npos ||
        (at > 0 && std::isalnum(static_cast<unsigned char>(upperId[at - 1]))))
        return {};
    std::string value = upperId.substr(at + key.size() + 1, digits);
    if (value.size() != digits) return {};
    for (char& c : value) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return {};
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return value;
}

// The serial number in the instance id of a whole USB device
// ("USB\VID_0403&PID_6001\A600ABCD"). A device without one gets an id that
// the system makes up, which holds '&' ("USB\VID_...\5&2A1B3C&0&2").
std::string UsbSerialOf(const std::string& instanceId) {
    const std::size_t first = instanceId.find('\\');
    const std::size_t second = instanceId.find('\\', first + 1);
    if (first == std::string::npos || second == std::string::npos) return {};
    if (UpperAscii(instanceId.substr(0, first)) != "USB") return {};
    if (UpperAscii(instanceId.substr(first, second - first)).find("MI_") != std::string::npos)
        return {};
    const std::string serial = instanceId.substr(second + 1);
    return serial.find('&') == std::string::npos ? serial : std::string();
}

// Fills the USB ids and serial number from the device's instance id; for a
// port of one interface of a composite device, the serial number is the
// parent's. FTDI's own bus driver writes "FTDIBUS\VID_0403+PID_6001+SERIALA\0000",
// where the serial number is followed by the channel letter.
void ReadUsbIds(::DEVINST instance, PortDetails& details) {
    const std::string id = DeviceIdOf(instance);
    const std::string upper = UpperAscii(id);
    details.vendorId = IdField(upper, "VID", 4);
    details.productId = IdField(upper, "PID", 4);
    details.interfaceNumber = IdField(upper, "MI", 2);
    if (upper.compare(0, 8, "FTDIBUS\\") == 0) {
        const std::size_t plus = id.find('+', id.find('+') + 1);
        const std::size_t end = id.find('\\', 8);
        if (plus != std::string::npos && end != std::string::npos && plus < end)
            details.serialNumber = id.substr(plus + 1, end - plus - 1);
        return;
    }
    details.serialNumber = UsbSerialOf(id);
    ::DEVINST parent = 0;
    if (details.serialNumber.empty() && !details.interfaceNumber.empty() &&
        ::CM_Get_Parent(&parent, instance, 0) == CR_SUCCESS) {
        details.serialNumber = UsbSerialOf(DeviceIdOf(parent));
    }
}

PortKind KindOf(const std::string& enumerator, const std::string& service, bool hasUsbIds) {
    if (enumerator == "USB" || enumerator == "FTDIBUS" || hasUsbIds) {
        // usbser is the system's driver for USB communications-class devices.
        return UpperAscii(service) == "USBSER" ? PortKind::UsbAcm : PortKind::Usb;
    }
    if (enumerator == "PCI") return PortKind::Pci;
    if (enumerator == "ACPI") return PortKind::PlatformUart;
    if (enumerator == "BTHENUM") return PortKind::Bluetooth;
    return PortKind::Unknown;
}

// The devices of the Ports class present, each described under its port name.
std::vector<PortDetails> PortClassDevices() {
    std::vector<PortDetails> found;
    const ::HDEVINFO devices =
        ::SetupDiGetClassDevsW(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
    if (devices == INVALID_HANDLE_VALUE) return found;
    ::SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (::DWORD index = 0; ::SetupDiEnumDeviceInfo(devices, index, &device); ++index) {
        PortDetails details;
        details.name = PortNameOf(devices, &device);
        if (details.name.empty()) continue;  // a printer port, say
        const std::string instanceId = DeviceIdOf(device.DevInst);
        const std::string enumerator = UpperAscii(instanceId.substr(0, instanceId.find('\\')));
        ReadUsbIds(device.DevInst, details);
        details.kind = KindOf(enumerator, RegistryProperty(devices, &device, SPDRP_SERVICE),
                              !details.vendorId.empty());
        const std::string deviceDescription = RegistryProperty(devices, &device, SPDRP_DEVICEDESC);
        details.description = RegistryProperty(devices, &device, SPDRP_FRIENDLYNAME);
        if (details.description.empty()) details.description = deviceDescription;
        details.manufacturer = RegistryProperty(devices, &device, SPDRP_MFG);
        if (details.kind == PortKind::Usb || details.kind == PortKind::UsbAcm) {
            details.product = deviceDescription;
        } else {
            // Only USB devices have these.
            details.vendorId.clear();
            details.productId.clear();
            details.interfaceNumber.clear();
        }
        details.location = RegistryProperty(devices, &device, SPDRP_LOCATION_INFORMATION);
        found.push_back(std::move(details));
    }
    ::SetupDiDestroyDeviceInfoList(devices);
    return found;
}

}  // namespace

std::vector<PortDetails> DescribeSystemPorts(const std::vector<ListedPort>& listed) {
    const std::vector<PortDetails> devices =
        listed.empty() ? std::vector<PortDetails>() : PortClassDevices();
    std::vector<PortDetails> details;
    for (const ListedPort& port : listed) {
        const std::string upperName = UpperAscii(port.name);
        auto device = std::find_if(devices.begin(), devices.end(), [&](const PortDetails& d) {
            return UpperAscii(d.name) == upperName;
        });
        PortDetails record;
        if (device != devices.end()) {
            record = *device;
        } else {
            record.description = "Serial port " + port.name + " (" + port.device + ")";
        }
        record.name = port.name;
        record.path = DevicePath(port.name);
        details.push_back(std::move(record));
    }
    return details;
}

bool SameDevicePath(const std::string& a, const std::string& b) {
    // Windows compares device paths without regard to case, and takes
    // either slash.
    auto normal = [](std::string path) {
        std::replace(path.begin(), path.end(), '/', '\\');
        return UpperAscii(std::move(path));
    };
    return !a.empty() && normal(a) == normal(b);
}

}  // namespace tarn::driver
