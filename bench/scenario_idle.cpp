// The cost of nothing happening. Waiting: one ReadStringLine with a time-out
// and no data; the baseline is one wait of the plain port (poll, or ReadFile)
// with the same time-out. Open and idle: a port open with nothing arriving,
// the main thread servicing its queue; the baseline is the plain port waited
// on for the same time. Both charge the whole process, the receive thread
// included.
#include <optional>

#include "host_synchronize.h"
#include "scenario_support.h"

namespace tarn::bench {
namespace {

int MillisecondsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Waits on the plain port until `deadline`; false when anything arrives.
bool WaitQuietly(RawPort& raw, Clock::time_point deadline) {
    for (int left; (left = MillisecondsLeft(deadline)) > 0;) {
        char byte = 0;
        if (raw.ReadSome(&byte, 1, left) != 0) return false;
    }
    return true;
}

RunOutcome WaitComponent(int seconds, bool wakeOnData) {
    std::string why;
    const auto pty = Line::Create(&why);
    if (!pty) return Failed(why);
    TTarnSerialPort port;
    port.SetAutoReceive(false);
    if (wakeOnData) {
        // Any Delay: the wait is the driver's.
        port.SetDelay(1);
        port.SetWakeOnData(true);
    }
    why = OpenOnLine(port, *pty);
    if (!why.empty()) return Failed(why);

    const double cpuAtStart = ProcessCpuSeconds();
    const Clock::time_point start = Clock::now();
    const std::string line = port.ReadStringLine(seconds);
    const double waited = SecondsSince(start);
    const double cpuMs = (ProcessCpuSeconds() - cpuAtStart) * 1e3;
    port.Close();
    if (!line.empty()) return Failed("a line came from a silent peer");
    if (waited < seconds) return Failed("the read ended before its time-out");
    return {{cpuMs, waited}, ""};
}

RunOutcome WaitBaseline(int seconds) {
    std::string why;
    const auto pty = Line::Create(&why);
    if (!pty) return Failed(why);
    const auto raw = RawPort::Open(*pty, &why);
    if (!raw) return Failed(why);

    const double cpuAtStart = ProcessCpuSeconds();
    const Clock::time_point start = Clock::now();
    const bool quiet = WaitQuietly(*raw, start + std::chrono::seconds(seconds));
    const double waited = SecondsSince(start);
    const double cpuMs = (ProcessCpuSeconds() - cpuAtStart) * 1e3;
    if (!quiet) return Failed("bytes came from a silent peer");
    return {{cpuMs, waited}, ""};
}

RunOutcome IdleComponent(double seconds, std::optional<std::uint32_t> delay, bool wakeOnData) {
    std::string why;
    const auto pty = Line::Create(&why);
    if (!pty) return Failed(why);
    TTarnSerialPort port;
    if (delay) port.SetDelay(*delay);
    port.SetWakeOnData(wakeOnData);
    std::size_t events = 0;
    port.SetOnReceive([&events](TTarnSerialPort*, std::string) { ++events; });
    why = OpenOnLine(port, *pty);
    if (!why.empty()) return Failed(why);

    const double cpuAtStart = ProcessCpuSeconds();
    const Clock::time_point start = Clock::now();
    const Clock::time_point end =
        start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    for (int left; (left = MillisecondsLeft(end)) > 0;) tarn::host::CheckSynchronize(left);
    const double cpuMs = (ProcessCpuSeconds() - cpuAtStart) * 1e3;
    const bool connected = port.IsConnected() != spNone;
    port.Close();
    if (events != 0) return Failed("OnReceive ran for a silent peer");
    if (!connected) return Failed("the idle port closed");
    return {{cpuMs}, ""};
}

RunOutcome IdleBaseline(double seconds) {
    std::string why;
    const auto pty = Line::Create(&why);
    if (!pty) return Failed(why);
    const auto raw = RawPort::Open(*pty, &why);
    if (!raw) return Failed(why);

    const double cpuAtStart = ProcessCpuSeconds();
    const Clock::time_point end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                     std::chrono::duration<double>(seconds));
    const bool quiet = WaitQuietly(*raw, end);
    const double cpuMs = (ProcessCpuSeconds() - cpuAtStart) * 1e3;
    if (!quiet) return Failed("bytes came from a silent peer");
    return {{cpuMs}, ""};
}

std::string Seconds(double s) { return FormatFigure(s) + " s"; }

}  // namespace

void AddIdleScenarios(const Settings& settings, std::vector<Scenario>& out) {
    const int wait = settings.waitSeconds;
    const double idle = settings.idleSeconds;
    const std::uint32_t defaultDelay = TTarnSerialPort().GetDelay();
    // Scaled to the length of the wait, so that the smoke pass, which
    // waits less, states the same goal.
    out.push_back({"waiting",
                   "one ReadStringLine with a " + Seconds(wait) + " time-out and no data",
                   {{"CPU ms", false, 10.0 * wait, false}, {"wait s", false, std::nullopt, false}},
                   settings.runs,
                   [wait](std::uint64_t) { return WaitComponent(wait, false); },
                   [wait](std::uint64_t) { return WaitBaseline(wait); }});
    out.push_back({"waiting_wake",
                   "one ReadStringLine with a " + Seconds(wait) +
                       " time-out and no data, WakeOnData, Delay 1",
                   {{"CPU ms", false, 1.0, false}, {"wait s", false, std::nullopt, false}},
                   settings.runs,
                   [wait](std::uint64_t) { return WaitComponent(wait, true); },
                   [wait](std::uint64_t) { return WaitBaseline(wait); }});
    out.push_back({"idle_default",
                   "port open " + Seconds(idle) + ", nothing arriving, default Delay " +
                       std::to_string(defaultDelay),
                   {{"CPU ms", false, 2.0 * idle, false}},
                   settings.runs,
                   [idle](std::uint64_t) { return IdleComponent(idle, std::nullopt, false); },
                   [idle](std::uint64_t) { return IdleBaseline(idle); }});
    out.push_back({"idle_delay1",
                   "port open " + Seconds(idle) + ", nothing arriving, Delay 1",
                   {{"CPU ms", false, std::nullopt, false}},
                   settings.runs,
                   [idle](std::uint64_t) { return IdleComponent(idle, 1, false); },
                   [idle](std::uint64_t) { return IdleBaseline(idle); }});
    out.push_back({"idle_wake",
                   "port open " + Seconds(idle) + ", nothing arriving, WakeOnData, default Delay",
                   {{"CPU ms", false, 1.0, false}},
                   settings.runs,
                   [idle](std::uint64_t) { return IdleComponent(idle, std::nullopt, true); },
                   [idle](std::uint64_t) { return IdleBaseline(idle); }});
}

}  // namespace tarn::bench
