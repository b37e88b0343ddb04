// The port details on Linux: a sysfs and /dev tree made in a scratch folder,
// shaped as the kernel and udev lay them out, and the machine's own.
#include "port_details_linux.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "pty_pair.h"
#include "serial_driver.h"
#include "serial_hardware_linux.h"

namespace tarn::driver {
namespace {

namespace fs = std::filesystem;

std::string Show(const PortDetails& p) {
    return p.name + " | " + p.path + " | " + p.stablePath + " | " + p.description + " | " +
           PortKindName(p.kind) + " | " + p.vendorId + ":" + p.productId + " | " + p.serialNumber +
           " | " + p.manufacturer + " | " + p.product + " | " + p.interfaceNumber + " | " +
           p.location;
}

// A scratch folder with sys/ and dev/, removed at the end.
class ScratchTree {
public:
    ScratchTree()
        : root_(fs::temp_directory_path() / ("tarn-details-" + std::to_string(getpid()))) {
        fs::remove_all(root_);
    }
    ~ScratchTree() { fs::remove_all(root_); }

    std::string Path(const std::string& relative) const { return (root_ / relative).string(); }

    void File(const std::string& relative, const std::string& text) {
        fs::create_directories((root_ / relative).parent_path());
        std::ofstream(root_ / relative) << text << "\n";
    }

    void Link(const std::string& relative, const std::string& target) {
        fs::create_directories((root_ / relative).parent_path());
        fs::create_directories(root_ / target);
        fs::create_directory_symlink(root_ / target, root_ / relative);
    }

    // A device folder under sys/devices on `bus`, bound to `driver`.
    void Device(const std::string& folder, const std::string& bus, const std::string& driver) {
        fs::create_directories(root_ / "sys/devices" / folder);
        Link("sys/devices/" + folder + "/subsystem", "sys/bus/" + bus);
        Link("sys/devices/" + folder + "/driver", "sys/bus/" + bus + "/drivers/" + driver);
    }

    // The terminal `name` of the device `folder`, in the tty class and /dev.
    void Terminal(const std::string& folder, const std::string& name) {
        const std::string entry = "sys/devices/" + folder + "/tty/" + name;
        Link(entry + "/device", "sys/devices/" + folder);
        Link("sys/class/tty/" + name, entry);
        File("dev/" + name, "");
    }

private:
    fs::path root_;
};

TEST(PortDetailsLinux, ScratchTreeOfEveryKind) {
    ScratchTree tree;
    // A USB serial converter: the device, its interface, the converter's
    // port, with a udev link by id.
    const std::string usb = "pci0000:00/0000:00:14.0/usb1/1-1/1-1.4";
    tree.Device(usb, "usb", "usb");
    tree.File("sys/devices/" + usb + "/idVendor", "0403");
    tree.File("sys/devices/" + usb + "/idProduct", "6001");
    tree.File("sys/devices/" + usb + "/serial", "A600ABCD");
    tree.File("sys/devices/" + usb + "/manufacturer", "FTDI");
    tree.File("sys/devices/" + usb + "/product", "FT232R USB UART");
    tree.Device(usb + "/1-1.4:1.0", "usb", "ftdi_sio");
    tree.File("sys/devices/" + usb + "/1-1.4:1.0/bInterfaceNumber", "00");
    tree.Device(usb + "/1-1.4:1.0/ttyUSB0", "usb-serial", "ftdi_sio");
    tree.Terminal(usb + "/1-1.4:1.0/ttyUSB0", "ttyUSB0");
    const std::string byId = "dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A600ABCD-if00-port0";
    fs::create_directories(tree.Path("dev/serial/by-id"));
    fs::create_symlink("../../ttyUSB0", tree.Path(byId));
    // A communications-class modem without a product string, on interface 2.
    const std::string acm = "pci0000:00/0000:00:14.0/usb1/1-2";
    tree.Device(acm, "usb", "usb");
    tree.File("sys/devices/" + acm + "/idVendor", "2341");
    tree.File("sys/devices/" + acm + "/idProduct", "8036");
    tree.File("sys/devices/" + acm + "/manufacturer", "Arduino LLC");
    tree.Device(acm + "/1-2:1.2", "usb", "cdc_acm");
    tree.File("sys/devices/" + acm + "/1-2:1.2/bInterfaceNumber", "02");
    tree.Terminal(acm + "/1-2:1.2", "ttyACM0");
    // A UART of the machine behind the serial core's port devices, and one
    // on a PCI card.
    tree.Device("pnp0/00:01", "pnp", "serial");
    tree.Device("pnp0/00:01/00:01:0", "serial-base", "ctrl");
    tree.Device("pnp0/00:01/00:01:0/00:01:0.0", "serial-base", "port");
    tree.Terminal("pnp0/00:01/00:01:0/00:01:0.0", "ttyS0");
    tree.File("sys/class/tty/ttyS0/type", "4");
    tree.Device("pci0000:00/0000:00:16.3", "pci", "serial");
    tree.Terminal("pci0000:00/0000:00:16.3", "ttyS4");
    // A pseudo-terminal held open by path is listed by its file.
    std::string whyNot;
    auto pty = test::PtyPair::Create(&whyNot);
    ASSERT_TRUE(pty) << whyNot;

    // Listed as the port list lists them (port_registry_linux.cpp).
    std::vector<ListedPort> listed;
    for (const SerialHardware& hardware : ListSerialHardware(tree.Path("sys/class/tty"))) {
        listed.push_back({"\\Device\\" + hardware.kernelName, hardware.portName});
    }
    std::string terminal = "\\Device\\Terminal" + pty->PortName();
    std::replace(terminal.begin(), terminal.end(), '/', '\\');
    listed.push_back({terminal, pty->PortName()});

    const std::string dev = tree.Path("dev");
    const PortDetails expected[] = {
        {"ttyACM0", dev + "/ttyACM0", "", "USB serial port ttyACM0", PortKind::UsbAcm, "2341",
         "8036", "", "Arduino LLC", "", "02", "1-2"},
        {"COM1", dev + "/ttyS0", "", "Serial port ttyS0", PortKind::PlatformUart, "", "", "", "",
         "", "", "00:01"},
        {"COM5", dev + "/ttyS4", "", "PCI serial port ttyS4", PortKind::Pci, "", "", "", "", "", "",
         "0000:00:16.3"},
        {"ttyUSB0", dev + "/ttyUSB0", tree.Path(byId), "FT232R USB UART", PortKind::Usb, "0403",
         "6001", "A600ABCD", "FTDI", "FT232R USB UART", "00", "1-1.4"},
        {pty->PortName(), pty->PortName(), "", "Pseudo-terminal " + pty->PortName(),
         PortKind::PseudoTerminal, "", "", "", "", "", "", ""},
    };
    const std::vector<PortDetails> described =
        DescribeSystemPortsUnder(listed, tree.Path("sys"), dev);
    ASSERT_EQ(described.size(), std::size(expected));
    for (std::size_t i = 0; i < described.size(); ++i) {
        EXPECT_EQ(Show(described[i]), Show(expected[i]));
    }
}

bool SameDevice(const std::string& a, const std::string& b) {
    struct stat first;
    struct stat second;
    return stat(a.c_str(), &first) == 0 && stat(b.c_str(), &second) == 0 &&
           first.st_rdev == second.st_rdev;
}

TEST(PortDetailsLinux, MachineListAgreesWithItsHardwareAndOpenTerminals) {
    std::string whyNot;
    auto pty = test::PtyPair::Create(&whyNot);
    ASSERT_TRUE(pty) << whyNot;
    const HANDLE handle = CreateFileA("\\\\.\\" + pty->PortName());
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);

    const std::vector<PortDetails> ports = ListPortDetails();
    for (const SerialHardware& hardware : ListSerialHardware()) {
        auto it = std::find_if(ports.begin(), ports.end(),
                               [&](const PortDetails& p) { return p.name == hardware.portName; });
        ASSERT_NE(it, ports.end()) << hardware.portName;
        EXPECT_EQ(it->path, "/dev/" + hardware.kernelName);
        EXPECT_TRUE(fs::exists(it->path)) << Show(*it);
        EXPECT_NE(it->kind, PortKind::PseudoTerminal) << Show(*it);
        EXPECT_TRUE(it->stablePath.empty() || SameDevice(it->stablePath, it->path)) << Show(*it);
    }
    auto opened = std::find_if(ports.begin(), ports.end(),
                               [&](const PortDetails& p) { return p.name == pty->PortName(); });
    ASSERT_NE(opened, ports.end());
    EXPECT_EQ(opened->kind, PortKind::PseudoTerminal);
    EXPECT_EQ(opened->path, pty->PortName());

    // A pseudo-terminal is found by its path, and by a link to it.
    const auto byPath = FindPort(*ParsePortMatch(pty->PortName()));
    EXPECT_EQ(byPath ? byPath->name : "", pty->PortName());
    const fs::path link =
        fs::temp_directory_path() / ("tarn-details-link-" + std::to_string(getpid()));
    fs::remove(link);
    fs::create_symlink(pty->PortName(), link);
    const auto byLink = FindPort(*ParsePortMatch(link.string()));
    fs::remove(link);
    EXPECT_EQ(byLink ? byLink->name : "", pty->PortName());
    CloseHandle(handle);
}

}  // namespace
}  // namespace tarn::driver
