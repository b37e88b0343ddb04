// Round trip: the peer writes one byte to the master, waits for it to come
// back and only then writes the next. The component echoes each byte from
// its OnReceive handler with SendChars at Delay 1; the baseline echoes with
// poll, read and write on the slave. The peer times each trip and checks
// that the byte that came back is the one it sent.
#include <unistd.h>

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

RunOutcome Figures(const Trips& trips) {
    return {{Percentile(trips.micros, 50), Percentile(trips.micros, 99)}, ""};
}

RunOutcome ComponentRun(std::size_t count, std::uint64_t seed) {
    Trips trips{RandomBytes(count, seed), {}};
    std::string why;
    const auto pty = PseudoTerminal::Create(&why);
    if (!pty) return Failed(why);

    TTarnSerialPort port;
    port.SetDelay(1);
    // Runs on the main thread, inside ServiceUntil. An exception here would
    // be absorbed by the receive thread; the peer then sees a trip that
    // does not come back.
    std::uint64_t echoed = 0;
    port.SetOnReceive([&port, &echoed](TTarnSerialPort*, std::string buffer) {
        echoed += port.SendChars(buffer);
    });
    why = OpenOnSlave(port, *pty);
    if (!why.empty()) return Failed(why);

    Peer peer([&pty, &trips] { return TimeTrips(pty->Master(), trips); });
    ServiceUntil([&] { return peer.Done(); }, [&] { return echoed; });
    const std::string peerFailure = peer.Join();
    port.Close();
    if (!peerFailure.empty()) return Failed(peerFailure);
    if (echoed != count) return Failed("the handler echoed " + std::to_string(echoed) + " bytes");
    return Figures(trips);
}

RunOutcome BaselineRun(std::size_t count, std::uint64_t seed) {
    Trips trips{RandomBytes(count, seed), {}};
    std::string why;
    const auto pty = PseudoTerminal::Create(&why);
    if (!pty) return Failed(why);
    const int fd = pty->OpenSlaveRaw(&why);
    if (fd < 0) return Failed(why);

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
    close(fd);
    if (!peerFailure.empty()) return Failed(peerFailure);
    if (!failure.empty()) return Failed(failure);
    return Figures(trips);
}

}  // namespace

void AddRoundTripScenarios(const Settings& settings, std::vector<Scenario>& out) {
    const std::size_t count = settings.roundTrips;
    out.push_back(
        {"round_trip",
         std::to_string(count) + " single bytes echoed by OnReceive with SendChars, Delay 1",
         {{"median us", false, 1500, false}, {"p99 us", false, std::nullopt, false}},
         settings.runs,
         [count](std::uint64_t seed) { return ComponentRun(count, seed); },
         [count](std::uint64_t seed) { return BaselineRun(count, seed); }});
}

}  // namespace tarn::bench
