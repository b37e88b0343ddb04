// A port on another machine: ser2net serves the port end of a
// pseudo-terminal pair on loopback, and the scenario's peer drives the other
// end. The component opens it as rfc2217://, speaking Telnet and the serial
// port protocol over the connection; the baseline is ser2net serving the
// same kind of pair over plain TCP, read and written with plain socket calls,
// the raw limit of the network path. Bulk: random bytes from the peer,
// received with AutoReceive woken by the data, verified through a hash.
// Round trip: single bytes echoed by OnReceive with SendChars.
#include <atomic>
#include <vector>

#include "host_socket.h"
#include "scenario_support.h"
#include "ser2net_server.h"

namespace tarn::bench {
namespace {

using tarn::test::Ser2netServer;

constexpr double kMega = 1e6;

std::unique_ptr<Ser2netServer> StartServer(Ser2netServer::Protocol protocol, std::string& why) {
    bool absent = false;
    auto server = Ser2netServer::Create(why, absent, protocol);
    if (!server) why = "ser2net: " + why;
    return server;
}

// The peer end of the served pair, for the peer thread.
std::string WritePeer(Ser2netServer& server, const std::string& bytes) {
    return server.Pair().WritePeer(bytes) ? "" : "the peer could not write";
}

// Opens the component on `server` woken by data, with the events on the
// receive thread.
std::string OpenRemote(TTarnSerialPort& port, const Ser2netServer& server) {
    port.SetWakeOnData(true);
    port.SetNeedSynchronization(false);
    try {
        port.SetCustomPortName(server.Url().c_str());
        port.SetPort(spCustom);
        port.Open();
    } catch (const std::exception& e) {
        return e.what();
    }
    return port.IsConnected() != spNone ? "" : "the port did not connect";
}

// ser2net opens and sets up the terminal only after it has accepted the
// connection; until then the terminal is in its cooked first state, which
// would echo and hold back what the peer writes. A byte sent through and
// seen at the peer end shows that the terminal is ready.
std::unique_ptr<host::TcpConnection> ConnectPlain(Ser2netServer& server, std::string& why) {
    auto connection = host::ConnectTcp("127.0.0.1", server.Port(), kStallMs);
    if (!connection) {
        why = "cannot connect to the plain TCP server";
        return nullptr;
    }
    const char probe = 'P';
    if (!connection->SendAll(&probe, 1) || server.Pair().ReadPeer(1, kStallLimit) != "P") {
        why = "the plain TCP server did not pass a byte on";
        return nullptr;
    }
    return connection;
}

RunOutcome BulkComponent(std::size_t bytes, std::uint64_t seed) {
    const std::string payload = RandomBytes(bytes, seed);
    std::string why;
    const auto server = StartServer(Ser2netServer::Protocol::Rfc2217, why);
    if (!server) return Failed(why);

    TTarnSerialPort port;
    // Runs on the receive thread; the main thread reads only the count until
    // Close has ended that thread.
    StreamHash got;
    std::atomic<std::uint64_t> count{0};
    port.SetOnReceive([&got, &count](TTarnSerialPort*, std::string buffer) {
        got.Add(buffer);
        count += buffer.size();
    });
    why = OpenRemote(port, *server);
    if (!why.empty()) return Failed(why);

    const double cpuAtStart = ProcessCpuSeconds();
    const Clock::time_point start = Clock::now();
    Peer peer([&] { return WritePeer(*server, payload); });
    const bool moved =
        ServiceUntil([&] { return count.load() >= bytes; }, [&] { return count.load(); });
    const double seconds = SecondsSince(start);
    const std::string peerFailure = peer.Join();
    const double cpu = ProcessCpuSeconds() - cpuAtStart - peer.CpuSeconds();
    port.Close();

    if (!peerFailure.empty()) return Failed(peerFailure);
    StreamHash sent;
    sent.Add(payload);
    if (got.Count() != bytes || got.Value() != sent.Value()) {
        return Failed("received " + std::to_string(got.Count()) + " of " + std::to_string(bytes) +
                      " bytes" + (moved ? "" : " (stalled)"));
    }
    return {{static_cast<double>(bytes) / kMega / seconds, cpu}, ""};
}

RunOutcome BulkBaseline(std::size_t bytes, std::uint64_t seed) {
    const std::string payload = RandomBytes(bytes, seed);
    std::string why;
    const auto server = StartServer(Ser2netServer::Protocol::RawTcp, why);
    if (!server) return Failed(why);
    const auto connection = ConnectPlain(*server, why);
    if (!connection) return Failed(why);

    const double cpuAtStart = ProcessCpuSeconds();
    const Clock::time_point start = Clock::now();
    Peer peer([&] { return WritePeer(*server, payload); });
    StreamHash got;
    std::vector<char> buffer(1 << 16);
    while (got.Count() < bytes) {
        std::size_t n = 0;
        if (!connection->Receive(buffer.data(), buffer.size(), kStallMs, n) || n == 0) break;
        got.Add(buffer.data(), n);
    }
    const double seconds = SecondsSince(start);
    const std::string peerFailure = peer.Join();
    const double cpu = ProcessCpuSeconds() - cpuAtStart - peer.CpuSeconds();

    if (!peerFailure.empty()) return Failed(peerFailure);
    StreamHash sent;
    sent.Add(payload);
    if (got.Count() != bytes || got.Value() != sent.Value()) {
        return Failed("received " + std::to_string(got.Count()) + " of " + std::to_string(bytes) +
                      " bytes");
    }
    return {{static_cast<double>(bytes) / kMega / seconds, cpu}, ""};
}

// The peer's side of every trip: one byte out, wait for it back.
std::string TimeTrips(Ser2netServer& server, const std::string& bytes,
                      std::vector<double>& micros) {
    micros.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const Clock::time_point sent = Clock::now();
        if (!server.Pair().WritePeer(bytes.substr(i, 1))) return "the peer could not write";
        const std::string back = server.Pair().ReadPeer(1, kStallLimit);
        if (back.size() != 1) return "trip " + std::to_string(i) + " did not come back";
        micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - sent).count());
        if (back[0] != bytes[i])
            return "trip " + std::to_string(i) + " came back changed: sent " +
                   std::to_string(static_cast<unsigned char>(bytes[i])) + ", got " +
                   std::to_string(static_cast<unsigned char>(back[0]));
    }
    return "";
}

RunOutcome TripsComponent(std::size_t count, std::uint64_t seed) {
    const std::string bytes = RandomBytes(count, seed);
    std::string why;
    const auto server = StartServer(Ser2netServer::Protocol::Rfc2217, why);
    if (!server) return Failed(why);

    TTarnSerialPort port;
    std::atomic<std::uint64_t> echoed{0};
    port.SetOnReceive([&port, &echoed](TTarnSerialPort*, std::string buffer) {
        echoed += port.SendChars(buffer);
    });
    why = OpenRemote(port, *server);
    if (!why.empty()) return Failed(why);

    std::vector<double> micros;
    const double cpuAtStart = ProcessCpuSeconds();
    Peer peer([&] { return TimeTrips(*server, bytes, micros); });
    ServiceUntil([&] { return peer.Done(); }, [&] { return echoed.load(); });
    const std::string peerFailure = peer.Join();
    const double cpu = ProcessCpuSeconds() - cpuAtStart - peer.CpuSeconds();
    port.Close();
    if (!peerFailure.empty()) return Failed(peerFailure);
    if (echoed != count) return Failed("the component echoed " + std::to_string(echoed) + " bytes");
    return TripFigures(micros, count, cpu);
}

RunOutcome TripsBaseline(std::size_t count, std::uint64_t seed) {
    const std::string bytes = RandomBytes(count, seed);
    std::string why;
    const auto server = StartServer(Ser2netServer::Protocol::RawTcp, why);
    if (!server) return Failed(why);
    const auto connection = ConnectPlain(*server, why);
    if (!connection) return Failed(why);

    std::vector<double> micros;
    const double cpuAtStart = ProcessCpuSeconds();
    Peer peer([&] { return TimeTrips(*server, bytes, micros); });
    std::string failure;
    for (std::size_t echoed = 0; echoed < count && failure.empty(); ++echoed) {
        char byte = 0;
        std::size_t n = 0;
        if (!connection->Receive(&byte, 1, kStallMs, n) || n != 1 || !connection->SendAll(&byte, 1))
            failure = "the echo failed";
    }
    const std::string peerFailure = peer.Join();
    const double cpu = ProcessCpuSeconds() - cpuAtStart - peer.CpuSeconds();
    if (!peerFailure.empty()) return Failed(peerFailure);
    if (!failure.empty()) return Failed(failure);
    return TripFigures(micros, count, cpu);
}

}  // namespace

void AddRemoteScenarios(const Settings& settings, std::vector<Scenario>& out) {
    const std::size_t bytes = settings.remoteBytes;
    const std::size_t trips = settings.remoteTrips;
    out.push_back({"remote_bulk_receive",
                   "bulk receive of " + SizeText(bytes) +
                       " over RFC 2217 from ser2net on loopback, WakeOnData; baseline plain TCP",
                   {{"MB/s", true, std::nullopt, false}, {"CPU s", false, std::nullopt, false}},
                   settings.runs,
                   [bytes](std::uint64_t seed) { return BulkComponent(bytes, seed); },
                   [bytes](std::uint64_t seed) { return BulkBaseline(bytes, seed); }});
    out.push_back({"remote_round_trip",
                   std::to_string(trips) +
                       " single bytes echoed over RFC 2217 through ser2net by OnReceive with "
                       "SendChars, WakeOnData; baseline plain TCP",
                   {{"median us", false, std::nullopt, false},
                    {"p99 us", false, std::nullopt, false},
                    {"CPU us/trip", false, std::nullopt, false}},
                   settings.runs,
                   [trips](std::uint64_t seed) { return TripsComponent(trips, seed); },
                   [trips](std::uint64_t seed) { return TripsBaseline(trips, seed); }});
}

}  // namespace tarn::bench
