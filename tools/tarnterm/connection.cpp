#include "connection.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "display.h"
#include "host_exception.h"
#include "host_json.h"
#include "host_stringlist.h"
#include "host_strings.h"
#include "host_synchronize.h"

namespace tarnterm {
namespace {

// The system error codes that tell open failures apart. The component puts
// the system's text for the code at the end of its message, so the text of
// each code is what is compared.
constexpr std::uint32_t kErrorInvalidFunction = 1;
constexpr std::uint32_t kErrorFileNotFound = 2;
constexpr std::uint32_t kErrorPathNotFound = 3;
constexpr std::uint32_t kErrorAccessDenied = 5;
constexpr std::uint32_t kErrorInvalidHandle = 6;
constexpr std::uint32_t kErrorSharingViolation = 32;
constexpr std::uint32_t kErrorNotSupported = 50;
constexpr std::uint32_t kErrorInvalidParameter = 87;

constexpr int kPatienceWrites = 3;

bool EndsWith(const std::string& text, const std::string& tail) {
    return !tail.empty() && text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

bool MessageIsFor(const std::string& message, std::uint32_t code) {
    return EndsWith(message, tarn::host::UnicodeToUtf8(tarn::host::SysErrorMessage(code)));
}

// A name that points at a file which is there, but did not open as a port.
bool IsExistingFile(const std::string& name) {
    if (name.find('/') == std::string::npos && name.find('\\') == std::string::npos) {
        return false;
    }
    std::error_code error;
    return std::filesystem::exists(std::filesystem::u8path(name), error);
}

// Windows answers "access denied" for a folder, as for a busy port.
bool IsFolder(const std::string& name) {
    std::error_code error;
    return IsExistingFile(name) &&
           std::filesystem::is_directory(std::filesystem::u8path(name), error);
}

}  // namespace

void SelectPort(TTarnSerialPort& port, const std::string& name) {
    const TCommPort id = port.StringToCommPort(name);
    if (id != spCustom && id != spNone) {
        port.SetPort(id);
        return;
    }
    port.SetCustomPortName(name);
    port.SetPort(spCustom);
}

void SetLineRate(TTarnSerialPort& port, std::int32_t baud) {
    const TBaudRate rate = port.IntToBaudRate(baud);
    if (rate != brCustom) {
        port.SetBaudRate(rate);
        return;
    }
    // A custom rate is taken only while the rate is custom already; select
    // that first, then the number.
    port.SetCustomBaudRate(baud);
    port.SetBaudRate(brCustom);
}

void ApplyLineSettings(TTarnSerialPort& port, const LineSettings& line) {
    SetLineRate(port, line.baud);
    // The component checks each value against the other's current one, and
    // one stop bit goes with every width.
    port.SetStopBits(sb1Bit);
    port.SetDataWidth(line.dataBits);
    port.SetStopBits(line.stopBits);
    port.SetParity(line.parity);
    port.SetHwFlowControl(line.flow == Flow::kRtsCts   ? hfRTSCTS
                          : line.flow == Flow::kDtrDsr ? hfDTRDSR
                                                       : hfNONE);
    port.SetSwFlowControl(line.flow == Flow::kXonXoff ? sfXONXOFF : sfNONE);
    port.SetDelay(line.delayMs);
}

OpenOutcome ExplainOpenFailure(const std::string& name, const std::string& componentMessage,
                               const LineSettings& line) {
    OpenOutcome out;
    const bool notFound = MessageIsFor(componentMessage, kErrorFileNotFound) ||
                          MessageIsFor(componentMessage, kErrorPathNotFound);
    const bool notSerial = MessageIsFor(componentMessage, kErrorNotSupported) ||
                           MessageIsFor(componentMessage, kErrorInvalidFunction) ||
                           MessageIsFor(componentMessage, kErrorInvalidHandle);
    if ((notFound && IsExistingFile(name)) || notSerial || IsFolder(name)) {
        out.status = kExitNotSerial;
        out.message = name +
                      " is not a serial port; name a serial device (tarnterm --list "
                      "shows the ports present)";
    } else if (notFound) {
        out.status = kExitNoSuchPort;
        out.message = name +
                      " does not exist; tarnterm --list shows the ports present, "
                      "tarnterm --demo needs none";
    } else if (MessageIsFor(componentMessage, kErrorAccessDenied) ||
               MessageIsFor(componentMessage, kErrorSharingViolation)) {
        out.status = kExitPortBusy;
        out.message = name +
                      " is busy or access is denied; close the program that has it "
                      "open, or get the right to use it (on Linux, the dialout group)";
    } else if (MessageIsFor(componentMessage, kErrorInvalidParameter)) {
        out.status = kExitOpenFailed;
        out.message = name + " refused the line settings " + DescribeLineSettings(line) +
                      "; try another --baud, --data, --parity, --stop or --flow";
    } else {
        out.status = kExitOpenFailed;
        out.message = componentMessage + " Check the device and try again.";
    }
    return out;
}

OpenOutcome OpenPort(TTarnSerialPort& port, const std::string& name, const LineSettings& line) {
    try {
        port.Open();
    } catch (const ETarnSerialPortException& e) {
        return ExplainOpenFailure(name, e.what(), line);
    }
    OpenOutcome out;
    if (port.IsConnected() == spNone) {
        out.status = kExitNoSuchPort;
        out.message = "'" + name + "' names no port; tarnterm --list shows the ports present";
    }
    return out;
}

std::size_t SendAll(TTarnSerialPort& port, const std::string& bytes, std::size_t chunkSize,
                    const std::function<void(std::size_t)>& progress, std::string& error) {
    std::size_t sent = 0;
    int idleWrites = 0;
    while (sent < bytes.size()) {
        const std::size_t size = std::min(chunkSize, bytes.size() - sent);
        std::uint32_t took = 0;
        try {
            took = port.SendChars(bytes.substr(sent, size));
        } catch (const ETarnSerialPortException&) {
            error = "the port closed while sending";
            return sent;
        }
        sent += took;
        if (progress) progress(sent);
        // Events of the receive thread wait for the main thread; let them
        // run between writes of a long send.
        tarn::host::CheckSynchronize(0);
        if (took > 0) {
            idleWrites = 0;
        } else if (++idleWrites >= kPatienceWrites) {
            error = "the device took no data for several seconds; is flow control holding it?";
            return sent;
        }
    }
    return sent;
}

std::vector<PortEntry> PresentPorts(TTarnSerialPort& port) {
    tarn::host::TStringList names;
    port.GetExistingCommPortNames(names);
    std::vector<PortEntry> ports;
    for (int i = 0; i < names.Count(); ++i) {
        PortEntry entry;
        entry.name = tarn::host::UnicodeToUtf8(names[i]);
        const TCommPort id = port.StringToCommPort(tarn::host::UnicodeToAnsi(names[i]));
        entry.identifier =
            id == spCustom ? "spCustom" : "spCOM" + std::to_string(static_cast<int>(id));
        ports.push_back(entry);
    }
    return ports;
}

std::string FormatPortList(const std::vector<PortEntry>& ports, bool json) {
    std::string text;
    if (json) {
        text = "[";
        for (std::size_t i = 0; i < ports.size(); ++i) {
            text += i == 0 ? "\n  " : ",\n  ";
            text += "{\"name\": " + tarn::host::JsonQuoted(ports[i].name) +
                    ", \"identifier\": " + tarn::host::JsonQuoted(ports[i].identifier) + "}";
        }
        return text + (ports.empty() ? "]\n" : "\n]\n");
    }
    std::size_t width = 4;
    for (const PortEntry& entry : ports) width = std::max(width, entry.name.size());
    for (const PortEntry& entry : ports) {
        text +=
            entry.name + std::string(width - entry.name.size() + 2, ' ') + entry.identifier + "\n";
    }
    return text;
}

}  // namespace tarnterm
