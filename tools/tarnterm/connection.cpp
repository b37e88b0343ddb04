#include "connection.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <initializer_list>
#include <optional>
#include <system_error>
#include <utility>

#include "display.h"
#include "host_exception.h"
#include "host_json.h"
#include "host_stringlist.h"
#include "host_strings.h"
#include "host_synchronize.h"
#include "host_system_error.h"
#include "transfer.h"

namespace tarnterm {
namespace {

bool IsOneOf(std::uint32_t code, std::initializer_list<std::uint32_t> codes) {
    return std::find(codes.begin(), codes.end(), code) != codes.end();
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

// A port on another machine: rfc2217://HOST:PORT or socket://HOST:PORT.
bool IsRemoteName(const std::string& name) { return name.find("://") != std::string::npos; }

// Why a port on another machine did not open, when the connection says it:
// nothing answered (which --reconnect waits out, as a port not there yet),
// or the server closed the connection at once.
std::optional<OpenOutcome> ExplainRemoteFailure(const std::string& name, std::uint32_t code) {
    namespace errors = tarn::host::system_errors;
    if (IsOneOf(code, {errors::WSAECONNREFUSED, errors::WSAETIMEDOUT, errors::WSAEHOSTUNREACH,
                       errors::WSAENETUNREACH, errors::WSAHOST_NOT_FOUND, errors::WSATRY_AGAIN})) {
        return OpenOutcome{kExitNoSuchPort,
                           name + " does not answer (" +
                               tarn::host::UnicodeToUtf8(tarn::host::SysErrorMessage(code)) +
                               "); check that its server runs and the host and port, or "
                               "wait for it with --reconnect"};
    }
    if (IsOneOf(code, {errors::WSAEDISCON, errors::WSAECONNRESET, errors::ERROR_BAD_COMMAND})) {
        return OpenOutcome{kExitPortBusy,
                           name +
                               " closed the connection as it opened; its server may be "
                               "serving another client, or its port may be unavailable"};
    }
    return std::nullopt;
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
    port.SetWriteTotalTimeoutMultiplier(WriteTimeOutPerByteMs(line.baud));
    port.SetWriteTotalTimeoutConstant(kWriteTimeOutConstantMs);
    // The receive thread sleeps in the driver until bytes come, so that what
    // arrives is shown or read at once rather than at the next poll, and an
    // idle port costs next to nothing; Delay still paces the looks at the
    // modem lines and at the device's presence.
    port.SetWakeOnData(true);
}

bool ModemLinesKnown(TTarnSerialPort& port) {
    return port.IsConnected() != spNone && port.ModemLinesReadable();
}

std::string LastDriverError() { return tarn::host::SystemErrorText(tarn::host::GetLastError()); }

OpenOutcome MissingPort(const std::string& name) {
    return {kExitNoSuchPort, name +
                                 " does not exist; tarnterm --list shows the ports present, "
                                 "tarnterm --demo needs none"};
}

OpenOutcome NoPortMatches(const std::string& wanted) {
    return {kExitNoSuchPort,
            "no port present matches " + wanted +
                "; tarnterm --list shows the ports with their USB ids and serial numbers"};
}

OpenOutcome PortDidNotAppear(const std::string& wanted, const std::string& waited) {
    if (IsRemoteName(wanted)) {
        return {kExitNoSuchPort, wanted + " did not answer within " + waited +
                                     "; check that its server runs and the host and port, or "
                                     "wait longer with a longer --timeout"};
    }
    return {kExitNoSuchPort, wanted + " did not appear within " + waited +
                                 "; tarnterm --list shows the ports present, a longer "
                                 "--timeout waits longer"};
}

OpenOutcome OpenWantedPort(TTarnSerialPort& port, const std::string& wanted, std::string& portName,
                           const LineSettings& line) {
    if (IsDeviceMatch(wanted)) {
        const std::string name = ResolvePortName(wanted);
        if (name.empty()) return NoPortMatches(wanted);
        if (name != portName) {
            SelectPort(port, name);
            portName = name;
        }
    }
    return OpenPort(port, portName, line);
}

bool PortIsPresent(const std::string& name) {
    TTarnSerialPort port;
    return port.IsExistingCommPort(tarn::host::Utf8ToUnicode(name)) || IsExistingFile(name);
}

OpenOutcome ExplainOpenFailure(const std::string& name, std::uint32_t code,
                               const std::string& componentMessage, const LineSettings& line) {
    namespace errors = tarn::host::system_errors;
    if (IsRemoteName(name)) {
        if (std::optional<OpenOutcome> remote = ExplainRemoteFailure(name, code)) return *remote;
    }
    OpenOutcome out;
    const bool notFound =
        IsOneOf(code, {errors::ERROR_FILE_NOT_FOUND, errors::ERROR_PATH_NOT_FOUND});
    const bool notSerial =
        IsOneOf(code, {errors::ERROR_NOT_SUPPORTED, errors::ERROR_INVALID_FUNCTION,
                       errors::ERROR_INVALID_HANDLE});
    if ((notFound && IsExistingFile(name)) || notSerial || IsFolder(name)) {
        out.status = kExitNotSerial;
        out.message = name +
                      " is not a serial port; name a serial device (tarnterm --list "
                      "shows the ports present)";
    } else if (notFound) {
        out = MissingPort(name);
    } else if (IsOneOf(code, {errors::ERROR_ACCESS_DENIED, errors::ERROR_SHARING_VIOLATION})) {
        out.status = kExitPortBusy;
        out.message = name +
                      " is busy or access is denied; close the program that has it "
                      "open, or get the right to use it (on Linux, the dialout group)";
    } else if (code == errors::ERROR_INVALID_PARAMETER) {
        out.status = kExitOpenFailed;
        out.message = name + " refused the line settings " + DescribeLineSettings(line) +
                      "; try another --baud, --data, --parity, --stop or --flow";
    } else {
        out.status = kExitOpenFailed;
        // A refusal in words (a record file that cannot be made, a
        // recording that cannot be replayed) says what to try; only a code
        // of the device's wants the hint.
        const bool inWords = code == 0 || (code & tarn::host::kDescribedErrorBit) != 0;
        out.message =
            inWords ? componentMessage : componentMessage + " Check the device and try again.";
    }
    return out;
}

OpenOutcome OpenPort(TTarnSerialPort& port, const std::string& name, const LineSettings& line) {
    try {
        port.Open();
    } catch (const ETarnSerialPortException& e) {
        return ExplainOpenFailure(name, e.ErrorCode(), e.what(), line);
    }
    OpenOutcome out;
    if (port.IsConnected() == spNone) {
        out.status = kExitNoSuchPort;
        out.message = "'" + name + "' names no port; tarnterm --list shows the ports present";
    }
    return out;
}

void ServeEventsUntil(std::chrono::steady_clock::time_point until) {
    for (auto now = std::chrono::steady_clock::now(); now < until;
         now = std::chrono::steady_clock::now()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - now);
        tarn::host::CheckSynchronize(static_cast<int>(left.count()));
    }
}

bool PulseLine(TTarnSerialPort& port, bool (TTarnSerialPort::*set)(bool), bool on, std::uint32_t ms,
               std::string& error) {
    if (!(port.*set)(on)) {
        error = port.IsConnected() == spNone ? "the port is not open"
                                             : "the driver says: " + LastDriverError();
        return false;
    }
    ServeEventsUntil(std::chrono::steady_clock::now() + std::chrono::milliseconds(ms));
    // A port that went meanwhile has no line to put back.
    (port.*set)(!on);
    return true;
}

bool SendBreak(TTarnSerialPort& port, std::uint32_t ms, std::string& error) {
    return PulseLine(port, &TTarnSerialPort::SetBreak, true, ms, error);
}

std::string UsbIds(const tarn::PortDetails& d) {
    return d.vendorId.empty() && d.productId.empty() ? std::string()
                                                     : d.vendorId + ":" + d.productId;
}

std::vector<PortEntry> PresentPorts(TTarnSerialPort& port) {
    std::vector<PortEntry> ports;
    for (tarn::PortDetails& details : tarn::ListPortDetails()) {
        PortEntry entry;
        const TCommPort id = port.StringToCommPort(details.name);
        entry.identifier =
            id == spCustom ? "spCustom" : "spCOM" + std::to_string(static_cast<int>(id));
        entry.details = std::move(details);
        ports.push_back(std::move(entry));
    }
    return ports;
}

namespace {

std::string JsonEntry(const PortEntry& entry) {
    const tarn::PortDetails& d = entry.details;
    const std::pair<const char*, std::string> fields[] = {
        {"name", d.name},
        {"identifier", entry.identifier},
        {"path", d.path},
        {"stablePath", d.stablePath},
        {"description", d.description},
        {"kind", tarn::PortKindName(d.kind)},
        {"vendorId", d.vendorId},
        {"productId", d.productId},
        {"serialNumber", d.serialNumber},
        {"manufacturer", d.manufacturer},
        {"product", d.product},
        {"interfaceNumber", d.interfaceNumber},
        {"location", d.location},
    };
    std::string text = "{";
    for (const auto& [key, value] : fields) {
        if (text.size() > 1) text += ", ";
        text += tarn::host::JsonQuoted(key) + ": " + tarn::host::JsonQuoted(value);
    }
    return text + "}";
}

}  // namespace

std::string FormatPortList(const std::vector<PortEntry>& ports, bool json) {
    std::string text;
    if (json) {
        text = "[";
        for (std::size_t i = 0; i < ports.size(); ++i) {
            text += (i == 0 ? "\n  " : ",\n  ") + JsonEntry(ports[i]);
        }
        return text + (ports.empty() ? "]\n" : "\n]\n");
    }
    if (ports.empty()) return text;
    // The columns, with "-" for what is not known; the last has no padding.
    std::vector<std::vector<std::string>> rows = {
        {"NAME", "PATH", "DESCRIPTION", "USB ID", "SERIAL"}};
    // The strings are the device's own; a terminal shows them escaped.
    for (const PortEntry& entry : ports) {
        const tarn::PortDetails& d = entry.details;
        rows.push_back({TerminalSafe(d.name), TerminalSafe(d.path), TerminalSafe(d.description),
                        TerminalSafe(UsbIds(d)), TerminalSafe(d.serialNumber)});
    }
    std::vector<std::size_t> widths(rows.front().size(), 0);
    for (auto& row : rows) {
        for (std::size_t c = 0; c < row.size(); ++c) {
            if (row[c].empty()) row[c] = "-";
            widths[c] = std::max(widths[c], row[c].size());
        }
    }
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t c = 0; c < row.size(); ++c) {
            line += row[c];
            if (c + 1 < row.size()) line += std::string(widths[c] - row[c].size() + 2, ' ');
        }
        text += line + "\n";
    }
    return text;
}

bool IsDeviceMatch(const std::string& portName) {
    return portName.size() >= 4 && (portName[0] == 'u' || portName[0] == 'U') &&
           (portName[1] == 's' || portName[1] == 'S') &&
           (portName[2] == 'b' || portName[2] == 'B') && portName[3] == ':';
}

std::string ResolvePortName(const std::string& portName, bool* valid) {
    if (valid != nullptr) *valid = true;
    if (!IsDeviceMatch(portName)) return portName;
    const std::optional<tarn::PortMatch> match = tarn::ParsePortMatch(portName);
    if (!match) {
        if (valid != nullptr) *valid = false;
        return {};
    }
    const std::optional<tarn::PortDetails> found = tarn::FindPort(*match);
    return found ? found->name : std::string();
}

}  // namespace tarnterm
