// The port details on Linux. A terminal's sysfs entry leads, through its
// `device` link, into the device tree; walking up from there, the first bus
// that tells what the hardware is decides the kind: a USB device (whose
// attributes hold the ids and strings), a PCI card, a platform UART. The
// stable path is the udev link in /dev/serial/by-id that leads to the same
// device.
#include "port_details_linux.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <utility>

#include "terminal_class_linux.h"

namespace tarn::driver {
namespace {

constexpr char kHardwarePrefix[] = "\\Device\\";
constexpr char kTerminalPrefix[] = "\\Device\\Terminal\\";

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// `path` with every link and dot resolved; empty when it does not exist.
std::string Resolved(const std::string& path) {
    char* real = realpath(path.c_str(), nullptr);
    if (real == nullptr) return {};
    std::string result = real;
    std::free(real);
    return result;
}

std::string BaseName(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool Exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// The first line of a sysfs attribute, without trailing blanks; empty when
// the device has no such attribute.
std::string ReadAttribute(const std::string& path) {
    std::ifstream file(path);
    std::string line;
    std::getline(file, line);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r' || line.back() == '\t'))
        line.pop_back();
    return line;
}

// What a link of a sysfs device folder points at, by name: the bus for
// `subsystem` ("usb", "pci"), the driver for `driver` ("cdc_acm").
std::string LinkName(const std::string& deviceFolder, const char* link) {
    const std::string target = Resolved(deviceFolder + "/" + link);
    return target.empty() ? std::string() : BaseName(target);
}

// Device files are the same device when their device numbers are; anything
// else (a scratch tree in tests) when it is the same file.
bool SameFile(const struct stat& a, const struct stat& b) {
    if (S_ISCHR(a.st_mode) && S_ISCHR(b.st_mode)) return a.st_rdev == b.st_rdev;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The links of /dev/serial/by-id, read once for all the ports of a listing.
class StableLinks {
public:
    explicit StableLinks(const std::string& devRoot) {
        const std::string folder = devRoot + "/serial/by-id";
        DIR* dir = opendir(folder.c_str());
        if (dir == nullptr) return;
        std::vector<std::string> names;
        while (const dirent* entry = readdir(dir)) {
            if (entry->d_name[0] != '.') names.push_back(entry->d_name);
        }
        closedir(dir);
        std::sort(names.begin(), names.end());
        for (const std::string& name : names) {
            struct stat target;
            // A dangling link (the device just went) leads nowhere.
            if (stat((folder + "/" + name).c_str(), &target) == 0) {
                links_.emplace_back(folder + "/" + name, target);
            }
        }
    }

    // The first link, by name, that leads to the device at `path`.
    std::string For(const std::string& path) const {
        struct stat device;
        if (links_.empty() || stat(path.c_str(), &device) != 0) return {};
        for (const auto& [link, target] : links_) {
            if (SameFile(target, device)) return link;
        }
        return {};
    }

private:
    std::vector<std::pair<std::string, struct stat>> links_;
};

// Fills what the device tree tells of the terminal `kernelName`: its kind,
// and for USB devices the ids, strings, interface and bus-port chain.
void DescribeFromSysfs(const std::string& sysRoot, const std::string& kernelName,
                       PortDetails& details) {
    const std::string devicesRoot = Resolved(sysRoot + "/devices");
    std::string folder = Resolved(sysRoot + "/class/tty/" + kernelName + "/device");
    std::string driver;
    bool driverSeen = false;
    std::string usbInterface;
    // The depth bound only guards against a tree that loops.
    for (int depth = 0; depth < 64 && !devicesRoot.empty() && StartsWith(folder, devicesRoot + "/");
         ++depth, folder = folder.substr(0, folder.rfind('/'))) {
        const std::string bus = LinkName(folder, "subsystem");
        // The serial core's port and controller devices (kernels from 6.5
        // on) stand between a UART's terminal and its hardware and tell
        // nothing of either.
        if (bus == "serial-base") continue;
        if (!driverSeen) {
            driver = LinkName(folder, "driver");
            driverSeen = true;
        }
        if (bus == "usb") {
            // A USB device's ports hang off one of its interfaces.
            if (Exists(folder + "/bInterfaceNumber")) {
                usbInterface = folder;
                continue;
            }
            if (!Exists(folder + "/idVendor")) continue;
            details.kind = driver == "cdc_acm" ? PortKind::UsbAcm : PortKind::Usb;
            details.vendorId = NormalUsbId(ReadAttribute(folder + "/idVendor")).value_or("");
            details.productId = NormalUsbId(ReadAttribute(folder + "/idProduct")).value_or("");
            details.serialNumber = ReadAttribute(folder + "/serial");
            details.manufacturer = ReadAttribute(folder + "/manufacturer");
            details.product = ReadAttribute(folder + "/product");
            if (!usbInterface.empty()) {
                details.interfaceNumber = ReadAttribute(usbInterface + "/bInterfaceNumber");
            }
            details.location = BaseName(folder);  // "1-1.4": bus 1, port 1, then port 4
            return;
        }
        if (bus == "pci") {
            details.kind = PortKind::Pci;
            details.location = BaseName(folder);
            return;
        }
        if (bus == "platform" || bus == "pnp" || bus == "amba" || bus == "acpi" || bus == "isa") {
            details.kind = PortKind::PlatformUart;
            details.location = BaseName(folder);
            return;
        }
        if (bus == "bluetooth") {
            details.kind = PortKind::Bluetooth;
            return;
        }
    }
    // RFCOMM terminals are virtual devices, without a bus of their own.
    if (StartsWith(kernelName, "rfcomm"))
        details.kind = PortKind::Bluetooth;
    else if (driver == "serial8250")
        details.kind = PortKind::PlatformUart;
}

std::string DescriptionOf(const PortDetails& details, const std::string& kernelName) {
    switch (details.kind) {
        case PortKind::Usb:
        case PortKind::UsbAcm:
            return details.product.empty() ? "USB serial port " + kernelName : details.product;
        case PortKind::Pci:
            return "PCI serial port " + kernelName;
        case PortKind::Bluetooth:
            return "Bluetooth serial port " + kernelName;
        case PortKind::PseudoTerminal:
            return "Pseudo-terminal " + details.path;
        default:
            return "Serial port " + kernelName;
    }
}

PortDetails Describe(const ListedPort& port, const std::string& sysRoot, const std::string& devRoot,
                     const StableLinks& stableLinks) {
    PortDetails details;
    details.name = port.name;
    std::string kernelName;
    if (StartsWith(port.device, kTerminalPrefix)) {
        // A terminal open by path: a pseudo-terminal, or a device that the
        // hardware listing leaves out, or reached through a link.
        // The file's own leading slash is the prefix's last backslash.
        details.path = port.device.substr(sizeof kTerminalPrefix - 2);
        std::replace(details.path.begin(), details.path.end(), '\\', '/');
        struct stat st;
        if (stat(details.path.c_str(), &st) == 0 && S_ISCHR(st.st_mode) &&
            IsPseudoTerminalSlave(details.path, st.st_rdev)) {
            details.kind = PortKind::PseudoTerminal;
            details.description = DescriptionOf(details, kernelName);
            return details;
        }
        kernelName = BaseName(Resolved(details.path));
        if (kernelName.empty()) kernelName = BaseName(details.path);
    } else {
        kernelName = port.device.substr(std::min(port.device.size(), sizeof kHardwarePrefix - 1));
        details.path = devRoot + "/" + kernelName;
    }
    if (!kernelName.empty() && Exists(sysRoot + "/class/tty/" + kernelName)) {
        DescribeFromSysfs(sysRoot, kernelName, details);
    }
    details.stablePath = stableLinks.For(details.path);
    details.description = DescriptionOf(details, kernelName);
    return details;
}

}  // namespace

std::vector<PortDetails> DescribeSystemPortsUnder(const std::vector<ListedPort>& listed,
                                                  const std::string& sysRoot,
                                                  const std::string& devRoot) {
    const StableLinks stableLinks(devRoot);
    std::vector<PortDetails> details;
    for (const ListedPort& port : listed) {
        details.push_back(Describe(port, sysRoot, devRoot, stableLinks));
    }
    return details;
}

std::vector<PortDetails> DescribeSystemPorts(const std::vector<ListedPort>& listed) {
    return DescribeSystemPortsUnder(listed, "/sys", "/dev");
}

bool SameDevicePath(const std::string& a, const std::string& b) {
    struct stat first;
    struct stat second;
    return stat(a.c_str(), &first) == 0 && stat(b.c_str(), &second) == 0 && SameFile(first, second);
}

}  // namespace tarn::driver
