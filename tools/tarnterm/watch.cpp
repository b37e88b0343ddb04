#include "watch.h"

#include <map>
#include <optional>

#include "connection.h"
#include "display.h"
#include "exit_status.h"
#include "host_strings.h"
#include "host_synchronize.h"
#include "port_watcher.h"

namespace tarnterm {
namespace {

constexpr char kCtrlC = '\x03';

// What the system says of the port `name` now; the watcher gives names as
// the port list holds them, in capitals, where the details keep the
// system's letter case.
std::optional<tarn::PortDetails> DetailsOf(const std::string& name) {
    const std::string wanted = tarn::host::UpperCaseAscii(name);
    for (tarn::PortDetails& details : tarn::ListPortDetails()) {
        if (tarn::host::UpperCaseAscii(details.name) == wanted) return std::move(details);
    }
    return std::nullopt;
}

}  // namespace

std::string FormatPortChange(bool arrived, const std::string& name,
                             const tarn::PortDetails* details) {
    // The name and the strings are the device's own; a terminal shows them
    // escaped.
    std::string line = (arrived ? "+ " : "- ") + TerminalSafe(name);
    if (details != nullptr) {
        for (const std::string& field :
             {details->description, UsbIds(*details), details->serialNumber}) {
            if (!field.empty()) line += "  " + TerminalSafe(field);
        }
    }
    return line + "\n";
}

int WatchPorts(Console& console) {
    // A port is shown under the name its details give it (the system's
    // letter case), and goes under the name it came with. Both handlers
    // run on this thread.
    std::map<std::string, std::string> shownNames;
    TPortWatcher watcher;
    watcher.SetOnArrival([&](TPortWatcher*, tarn::host::UnicodeString port) {
        const std::string listed = tarn::host::UnicodeToUtf8(port);
        const std::optional<tarn::PortDetails> details = DetailsOf(listed);
        const std::string& name = details ? details->name : listed;
        shownNames[listed] = name;
        console.Write(Stream::kOutput, FormatPortChange(true, name, details ? &*details : nullptr));
    });
    watcher.SetOnRemoval([&](TPortWatcher*, tarn::host::UnicodeString port) {
        const std::string listed = tarn::host::UnicodeToUtf8(port);
        const auto shown = shownNames.find(listed);
        const std::string name = shown != shownNames.end() ? shown->second : listed;
        if (shown != shownNames.end()) shownNames.erase(shown);
        console.Write(Stream::kOutput, FormatPortChange(false, name, nullptr));
    });
    // The watcher's events wait for this thread; the hook ends a wait for
    // keys so that they are printed at once.
    tarn::host::SetWakeMainThread([&console] { console.Wake(); });
    watcher.Start();

    const bool keys = console.EnterRawMode();
    console.Write(Stream::kError, keys ? "tarnterm: watching the ports; q or Ctrl-C stops\n"
                                       : "tarnterm: watching the ports until stopped\n");
    if (keys) {
        std::string typed;
        while (typed.find_first_of(std::string("qQ") + kCtrlC) == std::string::npos &&
               console.ReadKeys(typed, 1000)) {
            tarn::host::CheckSynchronize(0);
        }
    } else {
        // Nothing to read: only a stop signal ends the watch.
        console.CatchStopSignals();
        while (console.StopSignal() == 0) tarn::host::CheckSynchronize(kStopCheckMs);
    }
    console.RestoreMode();
    watcher.Stop();
    tarn::host::SetWakeMainThread({});
    const int signal = console.StopSignal();
    return signal != 0 ? kExitSignalBase + signal : kExitOk;
}

}  // namespace tarnterm
