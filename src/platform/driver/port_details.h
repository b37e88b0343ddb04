// What is known of each serial port present: beyond the bare names of the
// port list, the system's path for it, a stable path where the system keeps
// one, a description for people, what kind of device it is and, for USB
// devices, the ids and strings the device reports. Every field that cannot
// be told is empty.
//
// This header is installed with the package.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tarn {

enum class PortKind {
    Unknown,
    Usb,             // a USB serial converter (FTDI-like, CP210x, CH34x, PL2303 ...)
    UsbAcm,          // a USB communications-class device (modems, boards)
    PlatformUart,    // a UART of the machine itself
    Pci,             // a PCI or PCI Express serial card
    Bluetooth,       // an RFCOMM link
    PseudoTerminal,  // a pseudo-terminal opened by path
    Virtual,         // a virtual port of this process
};

// The word for a kind: "unknown", "usb", "usb-acm", "platform-uart", "pci",
// "bluetooth", "pseudo-terminal", "virtual".
const char* PortKindName(PortKind kind);

struct PortDetails {
    // The name a program gives the component to open the port ("COM3",
    // "ttyUSB0", "VCOM7"), as the list of present ports holds it: trimmed,
    // in the system's letter case (GetExistingCommPortNames gives the same
    // names in capitals).
    std::string name;
    // The system's path for the device: "/dev/ttyUSB0", "\\.\COM3".
    std::string path;
    // A path that stays the same when the device is plugged again, where the
    // system keeps one ("/dev/serial/by-id/usb-..."); empty elsewhere.
    std::string stablePath;
    std::string description;
    PortKind kind = PortKind::Unknown;
    // USB devices (and virtual ports given them) only: four lower-case
    // hexadecimal digits each.
    std::string vendorId;
    std::string productId;
    std::string serialNumber;
    std::string manufacturer;
    std::string product;
    // The USB interface the port belongs to, as two hexadecimal digits
    // ("00"), for devices with several.
    std::string interfaceNumber;
    // Where the device sits: the USB bus and port chain ("1-1.4"), or the
    // system's location text; empty when unknown.
    std::string location;
};

// The details of every port present: one record for each name of the port
// list, in its order. Read afresh at each call. Any thread.
std::vector<PortDetails> ListPortDetails();

// What a program may ask for instead of a name: "usb:VID:PID" or
// "usb:VID:PID:SERIAL" (ids in hexadecimal, any letter case), or a stable
// path. Empty fields match anything.
struct PortMatch {
    std::string vendorId;
    std::string productId;
    std::string serialNumber;
    std::string stablePath;
};

// Reads "usb:VID:PID[:SERIAL]" or an absolute path; nothing for any other
// text, or for ids that are not one to four hexadecimal digits.
std::optional<PortMatch> ParsePortMatch(const std::string& text);

// The first port present, in the order of ListPortDetails, that matches
// every field given: USB ids exactly (in the form ParsePortMatch gives),
// the serial number without regard to ASCII letter case (Windows keeps it
// in capitals), and a path when it is the port's path or stable path or
// leads to the same device. Any thread.
std::optional<PortDetails> FindPort(const PortMatch& match);

}  // namespace tarn
