// Round trip: the peer writes one byte to the master, waits for it to come
// back and only then writes the next. The component echoes each byte from
// its OnReceive handler with SendChars, polling at Delay 1 or woken by the
// data; or it reads each byte with ReadChars(1) and sends it back. The
// baseline echoes with poll, read and write on the slave. The peer times each
// trip and checks that the byte that came back is the one it sent; the echoing
// side's processor time per trip is charged to it.
#include <unistd.h>

#include <atomic>
#include <vector>

#include "scenario_support.h"

namespace tarn::bench {
namespace {

struct Trips {
    std::string bytes;
    std::vector<double> micros;
};

// The peer's side of every trip, for both the component and the baseline.
std::string TimeTrips(int master, Trips& trips) {
    trips.micros.reserve(trips.bytes.size());
    for (std::size_t i = 0; i < trips.bytes.size(); ++i) {
        const Clock::time_point sent = Clock::now();
        char back = 0;
        if (!WriteAll(master, &trips.bytes[i], 1)) return "the peer could not write";
        if (!ReadExactly(master, &back, 1))
            return "trip " + std::to_string(i) + " did not come back";
        trips.micros.push_back(
            std::chrono::duration<double, std::micro>(Clock::now() - sent).count());
        if (back != trips.bytes[i]) return "trip " + std::to_string(i) + " came back changed";
    }
    return "";
}

RunOutcome Figures(const Trips& trips, double cpuSeconds) {
    const double cpuMicrosPerTrip = cpuSeconds * 1e6 / static_cast<double>(trips.bytes.size());
    return {{Percentile(trips.micros, 50), Percentile(trips.micros, 99), cpuMicrosPerTrip}, ""};
}

enum class Echo { PollingEvent, WakeEvent, ReadChars };

RunOutcome ComponentRun(std::size_t count, Echo echo, std::uint64_t seed) {
    Trips trips{RandomBytes(count, seed), {}};
    std::string why;
    const auto pty = PseudoTerminal::Create(&why);
    if (!pty) return Failed(why);

    TTarnSerialPort port;
    if (echo == Echo::PollingEvent) port.SetDelay(1);
    port.SetWakeOnData(echo != Echo::PollingEvent);
    // Woken by the data, the events run on the receive thread.
    port.SetNeedSynchronization(echo == Echo::PollingEvent);
    port.SetAutoReceive(echo != Echo::ReadChars);
    // An exception here would be absorbed by the receive thread; the peer
    // then sees a trip that does not come back.
    std::atomic<std::uint64_t> echoed{0};
    if (echo != Echo::ReadChars) {
        port.SetOnReceive([&port, &echoed](TTarnSerialPort*, std::string buffer) {
            echoed += port.SendChars(buffer);
        });
    }
    why = OpenOnSlave(port, *pty);
    if (!why.empty()) return Failed(why);

    const double cpuAtStart = ProcessCpuSeconds();
    Peer peer([&pty, &trips] { return TimeTrips(pty->Master(), trips); });
    if (echo == Echo::ReadChars) {
        while (echoed < count) {
            const std::string byte = port.ReadChars(1);
            if (byte.empty() || port.SendChars(byte) != 1) break;
            ++echoed;
        }
    } else {
        ServiceUntil([&] { return peer.Done(); }, [&] { return echoed.load(); });
    }
    const std::string peerFailure = peer.Join();
    const double cpu = ProcessCpuSeconds() - cpuAtStart - peer.CpuSeconds();
    port.Close();
    if (!peerFailure.empty()) return Failed(peerFailure);
    if (echoed != count) return Failed("the component echoed " + std::to_string(echoed) + " bytes");
    return Figures(trips, cpu);
}

RunOutcome BaselineRun(std::size_t count, std::uint64_t seed) {
    Trips trips{RandomBytes(count, seed), {}};
    std::string why;
    const auto pty = PseudoTerminal::Create(&why);
    if (!pty) return Failed(why);
    const int fd = pty->OpenSlaveRaw(&why);
    if (fd < 0) return Failed(why);

    const double cpuAtStart = ProcessCpuSeconds();
    Peer peer([&pty, &trips] { return TimeTrips(pty->Master(), trips); });
    std::string failure;
    for (std::size_t echoed = 0; echoed < count && failure.empty();) {
        char bytes[64];
        const long n = ReadSome(fd, bytes, sizeof bytes, kStallMs);
        if (n <= 0 || !WriteAll(fd, bytes, static_cast<std::size_t>(n)))
            failure = "the echo failed";
        if (n > 0) echoed += static_cast<std::size_t>(n);
    }
    const std::string peerFailure = peer.Join();
    const double cpu = ProcessCpuSeconds() - cpuAtStart - peer.CpuSeconds();
    close(fd);
    if (!peerFailure.empty()) return Failed(peerFailure);
    if (!failure.empty()) return Failed(failure);
    return Figures(trips, cpu);
}

}  // namespace

void AddRoundTripScenarios(const Settings& settings, std::vector<Scenario>& out) {
    const std::size_t count = settings.roundTrips;
    const auto add = [&](const char* name, const std::string& how, Echo echo,
                         std::vector<FigureKind> figures) {
        out.push_back({name, std::to_string(count) + " single bytes echoed " + how,
                       std::move(figures), settings.runs,
                       [count, echo](std::uint64_t seed) { return ComponentRun(count, echo, seed); },
                       [count](std::uint64_t seed) { return BaselineRun(count, seed); }});
    };
    add("round_trip", "by OnReceive with SendChars, Delay 1", Echo::PollingEvent,
        {{"median us", false, 1500, false},
         {"p99 us", false, std::nullopt, false},
         {"CPU us/trip", false, std::nullopt, false}});
    add("round_trip_wake", "by OnReceive with SendChars, WakeOnData, events on the receive thread",
        Echo::WakeEvent,
        {{"median us", false, 1.3, true},
         {"p99 us", false, std::nullopt, false},
         {"CPU us/trip", false, 2.0, true}});
    add("round_trip_readchars", "by ReadChars(1) and SendChars, WakeOnData", Echo::ReadChars,
        {{"median us", false, 1.3, true},
         {"p99 us", false, std::nullopt, false},
         {"CPU us/trip", false, 2.0, true}});
}

}  // namespace tarn::bench
