#include "demo_tour.h"

#include <functional>
#include <string>

#include "exit_status.h"

namespace tarnterm {
namespace {

std::size_t Occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos;
         at = text.find(part, at + part.size())) {
        ++count;
    }
    return count;
}

}  // namespace

void ShowTourIntro(Terminal& terminal, TTarnSerialPort& port) {
    std::string ports;
    for (const PortEntry& entry : PresentPorts(port)) {
        ports += (ports.empty() ? "" : ", ") + entry.details.name + " (" + entry.identifier + ")";
    }
    terminal.Screen().Status(
        "demo: standard input is not a terminal, so this is a short scripted session; "
        "run tarnterm --demo in a terminal to type yourself");
    terminal.Screen().Status("ports present: " + ports);
}

int RunDemoTour(Terminal& terminal, DemoInstrument& demo) {
    Display& screen = terminal.Screen();
    const std::string menu(1, Terminal::kMenuKey);
    const std::string identity = std::string(DemoInstrument::kIdentity) + "\r\n";

    // Types `keys` and waits until `done` holds.
    auto step = [&](const char* what, const std::string& keys, const std::function<bool()>& done) {
        terminal.HandleKeys(keys);
        if (terminal.RunUntil(done, kTourStepLimit)) return true;
        if (terminal.StopSignal() != 0) return false;
        screen.Status(std::string("the demo step '") + what + "' did not finish within " +
                      std::to_string(kTourStepLimit.count()) + " s");
        return false;
    };
    auto received = [&](const std::string& text) {
        return [&terminal, text] { return terminal.Received().find(text) != std::string::npos; };
    };
    auto lineOn = [&](TLineStatus line, bool on) {
        return [&terminal, line, on] { return terminal.LineStatus().Contains(line) == on; };
    };

    const bool ok =
        step("modem lines", "", lineOn(lsDSR, true)) &&
        (terminal.ClearReceived(), step("identification", "*IDN?\r", received(identity))) &&
        (terminal.ClearReceived(), step("one reading", "MEAS?\r", received(" C\r\n"))) &&
        step("DTR off", menu + "d", lineOn(lsDSR, false)) &&
        step("DTR on", menu + "d", lineOn(lsDSR, true)) &&
        (terminal.ClearReceived(),
         step("streaming", "STREAM ON\r",
              [&] { return Occurrences(terminal.Received(), " C\r\n") >= 3; })) &&
        (terminal.ClearReceived(), step("end of streaming", "STREAM OFF\r", received("OK\r\n"))) &&
        step("unplugging", menu + "p", [&] { return terminal.WaitingForDevice(); }) &&
        step("plugging back in", menu + "p",
             [&] { return terminal.Connected() && !terminal.WaitingForDevice(); }) &&
        (terminal.ClearReceived(), step("identification again", "*IDN?\r", received(identity)));
    if (ok) {
        screen.Status("demo finished; the instrument was " + demo.PortName() +
                      ", a virtual port of the component");
    }
    terminal.Close();
    if (const int signal = terminal.StopSignal(); signal != 0) return kExitSignalBase + signal;
    return ok ? kExitOk : kExitFailure;
}

}  // namespace tarnterm
