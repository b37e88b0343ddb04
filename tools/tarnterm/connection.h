// Setting a component up from the command line, opening its port with a
// clear verdict when that fails, pulsing its lines, and listing the ports.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "Tarnserialport.h"
#include "exit_status.h"
#include "options.h"
#include "port_details.h"

namespace tarnterm {

// Selects `name` on a closed component: COM1 to COM254 by identifier, any
// other name as a custom port.
void SelectPort(TTarnSerialPort& port, const std::string& name);

// Applies the line settings, the poll period and the flow control to the
// component, which receives in the wake-on-data mode. The combination of
// data and stop bits must have been checked.
void ApplyLineSettings(TTarnSerialPort& port, const LineSettings& line);

// Sets the line rate, standard or not; on an open port the component
// applies it at once.
void SetLineRate(TTarnSerialPort& port, std::int32_t baud);

// Whether the open port reports its modem lines. A port without them (a
// pseudo-terminal, a network or virtual link, some adapters) refuses to
// read them, and the component then answers "off" for each, which its
// ModemLinesReadable tells apart. The one place that decides, for every
// line the terminal shows. Main thread.
bool ModemLinesKnown(TTarnSerialPort& port);

// Why the last call on the port on this thread failed, in the driver's
// words ("The request is not supported.").
std::string LastDriverError();

struct OpenOutcome {
    ExitStatus status = kExitOk;
    // Empty on success; else one line: what is wrong and what to try.
    std::string message;
};

// Opens the port selected on the component. `name` and `line` are only
// used for the message.
OpenOutcome OpenPort(TTarnSerialPort& port, const std::string& name, const LineSettings& line);

// The verdict on a port that is not there.
OpenOutcome MissingPort(const std::string& name);
// The verdict on a device to look for ("usb:VID:PID[:SERIAL]") that no
// port present matches.
OpenOutcome NoPortMatches(const std::string& wanted);
// The verdict on a port that --reconnect waited for in vain; `waited` says
// how long ("3 s").
OpenOutcome PortDidNotAppear(const std::string& wanted, const std::string& waited);

// How often a port that is waited for is tried again.
constexpr std::chrono::milliseconds kPortRetryPeriod{250};

// One attempt at opening the port named `wanted` on the command line, as
// the first one and each of a wait for it: a device to look for is looked
// for again, since it may come back under another name, and the selection
// of `port` and `portName` follow what it finds. Main thread only.
OpenOutcome OpenWantedPort(TTarnSerialPort& port, const std::string& wanted, std::string& portName,
                           const LineSettings& line);

// Whether a port of that name is there to open, asked without opening it:
// a port on the system's list, or a device file that exists (a
// pseudo-terminal is on no list).
bool PortIsPresent(const std::string& name);

// Turns a failed Open into a verdict, by the system's error code that the
// component's exception carries; an error without a verdict of its own is
// told in the component's message.
OpenOutcome ExplainOpenFailure(const std::string& name, std::uint32_t code,
                               const std::string& componentMessage, const LineSettings& line);

// Sets an output line to `on` with `set` (SetBreak, SetDTR, SetRTS) for `ms`
// milliseconds, running the main thread's queued events meanwhile, and puts
// it back. False, with `error` saying why, when the port refuses. Main
// thread only.
bool PulseLine(TTarnSerialPort& port, bool (TTarnSerialPort::*set)(bool), bool on, std::uint32_t ms,
               std::string& error);

// Runs the main thread's queued events until `until`. Main thread only.
void ServeEventsUntil(std::chrono::steady_clock::time_point until);

// Holds the line in the break state for `ms` milliseconds, as PulseLine
// does. Main thread only.
bool SendBreak(TTarnSerialPort& port, std::uint32_t ms, std::string& error);

struct PortEntry {
    std::string identifier;  // "spCOM3", "spCustom"
    tarn::PortDetails details;
};

// The ports present now, in the order the system lists them, with what is
// known of each.
std::vector<PortEntry> PresentPorts(TTarnSerialPort& port);
// "0403:6001", or empty for a port without USB ids.
std::string UsbIds(const tarn::PortDetails& details);
// For people, a table of the name, path, description, USB ids and serial
// number; for scripts, JSON with every field.
std::string FormatPortList(const std::vector<PortEntry>& ports, bool json);

// A port named by what it is, "usb:VID:PID" or "usb:VID:PID:SERIAL", rather
// than by its name.
bool IsDeviceMatch(const std::string& portName);
// The name of the first port present that `portName` matches, when it is a
// device match; else `portName` itself. Empty when a device match finds no
// port present, or is not a valid one (`valid` then false).
std::string ResolvePortName(const std::string& portName, bool* valid = nullptr);

}  // namespace tarnterm
