// Round trip: the peer writes one byte to the peer end, waits for it to come
// back and only then writes the next. The component echoes each byte from
// its OnReceive handler with SendChars, polling at Delay 1 or woken by the
// data; or it reads each byte with ReadChars(1) and sends it back. The
// baseline echoes with reads and writes of the plain port. The peer times each
// trip and checks that the byte that came back is the one it sent; the echoing
// side's processor time per trip is charged to it.
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
std::string TimeTrips(Line& line, Trips& trips) {
    trips.micros.reserve(trips.bytes.size());
    for (std::size_t i = 0; i < trips.bytes.size(); ++i) {
        const Clock::time_point sent = Clock::now();
        char back = 0;
        if (!line.WritePeer(&trips.bytes[i], 1)) return "the peer could not write";
        if (!line.ReadPeerExactly(&back, 1))
            return "trip " + std::to_string(i) + " did not come back";
        trips.micros.push_back(
            std::chrono::duration<double, std::micro>(Clock::now() - sent).count());
        if (back != trips.bytes[i]) return "trip " + std::to_string(i) + " came back changed";
    }
    return "";
}

enum class Echo { PollingEvent, WakeEvent, ReadChars, PollingReadChars };

RunOutcome ComponentRun(std::size_t count, Echo echo, std::uint64_t seed) {
    Trips trips{RandomBytes(count, seed), {}};
    std::string why;
    const auto pty = Line::Create(&why);
    if (!pty) return Failed(why);

    TTarnSerialPort port;
    const bool polling = echo == Echo::PollingEvent || echo == Echo::PollingReadChars;
    const bool reads = echo == Echo::ReadChars || echo == Echo::PollingReadChars;
    if (polling) port.SetDelay(1);
    port.SetWakeOnData(!polling);
    // Woken by the data, the events run on the receive thread.
    port.SetNeedSynchronization(polling);
    port.SetAutoReceive(!reads);
    // An exception here would be absorbed by the receive thread; the peer
    // then sees a trip that does not come back.
    std::atomic<std::uint64_t> echoed{0};
    if (!reads) {
        port.SetOnReceive([&port, &echoed](TTarnSerialPort*, std::string buffer) {
            echoed += port.SendChars(buffer);
        });
    }
    why = OpenOnLine(port, *pty);
    if (!why.empty()) return Failed(why);

    const double cpuAtStart = ProcessCpuSeconds();
    Peer peer([&pty, &trips] { return TimeTrips(*pty, trips); });
    if (reads) {
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
    return TripFigures(trips.micros, trips.bytes.size(), cpu);
}

RunOutcome BaselineRun(std::size_t count, std::uint64_t seed) {
    Trips trips{RandomBytes(count, seed), {}};
    std::string why;
    const auto pty = Line::Create(&why);
    if (!pty) return Failed(why);
    const auto raw = RawPort::Open(*pty, &why);
    if (!raw) return Failed(why);

    const double cpuAtStart = ProcessCpuSeconds();
    Peer peer([&pty, &trips] { return TimeTrips(*pty, trips); });
    std::string failure;
    // One byte at a time, as the peer sends them: a Win32 read for more would
    // wait out its interval time-out after the byte.
    for (std::size_t echoed = 0; echoed < count && failure.empty(); ++echoed) {
        char byte = 0;
        if (raw->ReadSome(&byte, 1, kStallMs) != 1 || !raw->WriteAll(&byte, 1))
            failure = "the echo failed";
    }
    const std::string peerFailure = peer.Join();
    const double cpu = ProcessCpuSeconds() - cpuAtStart - peer.CpuSeconds();
    if (!peerFailure.empty()) return Failed(peerFailure);
    if (!failure.empty()) return Failed(failure);
    return TripFigures(trips.micros, trips.bytes.size(), cpu);
}

}  // namespace

void AddRoundTripScenarios(const Settings& settings, std::vector<Scenario>& out) {
    const std::size_t count = settings.roundTrips;
    const auto add = [&](const char* name, const std::string& how, Echo echo,
                         std::vector<FigureKind> figures) {
        out.push_back(
            {name, std::to_string(count) + " single bytes echoed " + how, std::move(figures),
             settings.runs,
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
    add("round_trip_readchars_polling", "by ReadChars(1) and SendChars, Delay 1",
        Echo::PollingReadChars,
        {{"median us", false, std::nullopt, false},
         {"p99 us", false, std::nullopt, false},
         {"CPU us/trip", false, std::nullopt, false}});
}

}  // namespace tarn::bench
