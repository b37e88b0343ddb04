// Bulk receive: random bytes written to the peer end as fast as the port end
// takes them. The component receives them with AutoReceive, polling with its
// OnReceive on the main thread, or woken by the data with OnReceive on the
// receive thread; the baseline reads the plain port as it comes. Every
// byte is verified through a hash of the whole stream.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <optional>
#include <vector>

#include "scenario_support.h"

namespace tarn::bench {
namespace {

constexpr double kMega = 1e6;

struct Transfer {
    std::string payload;
    std::uint64_t expected;
};

Transfer MakeTransfer(std::size_t bytes, std::uint64_t seed) {
    Transfer t{RandomBytes(bytes, seed), 0};
    StreamHash hash;
    hash.Add(t.payload);
    t.expected = hash.Value();
    return t;
}

std::string Verify(const StreamHash& got, const Transfer& t) {
    if (got.Count() != t.payload.size()) {
        return "received " + std::to_string(got.Count()) + " of " +
               std::to_string(t.payload.size()) + " bytes";
    }
    return got.Value() == t.expected ? "" : "the bytes received differ from those sent";
}

// How the component receives: its poll period (the default when unset), and
// whether it wakes on data with the events on the receive thread.
struct Reception {
    std::optional<std::uint32_t> delay;
    bool wakeOnData = false;
};

RunOutcome ComponentRun(std::size_t bytes, Reception reception, std::uint64_t seed) {
    const Transfer transfer = MakeTransfer(bytes, seed);
    std::string why;
    const auto pty = Line::Create(&why);
    if (!pty) return Failed(why);

    TTarnSerialPort port;
    if (reception.delay) port.SetDelay(*reception.delay);
    port.SetWakeOnData(reception.wakeOnData);
    port.SetNeedSynchronization(!reception.wakeOnData);
    // Runs on the main thread inside ServiceUntil, or on the receive thread;
    // the main thread reads only the atomics until the end. The handler
    // notes when the last byte came: the main thread looks only every few
    // milliseconds when the events run on the receive thread, which would
    // add up to one such period to the time.
    StreamHash got;
    std::atomic<std::uint64_t> count{0};
    std::atomic<Clock::rep> lastByteAt{0};
    port.SetOnReceive([&got, &count, &lastByteAt, bytes](TTarnSerialPort*, std::string buffer) {
        got.Add(buffer);
        // One handler runs at a time; the time is there before the count
        // that ends the wait.
        const std::uint64_t total = count.load() + buffer.size();
        if (total >= bytes && lastByteAt.load() == 0)
            lastByteAt = Clock::now().time_since_epoch().count();
        count = total;
    });
    why = OpenOnLine(port, *pty);
    if (!why.empty()) return Failed(why);

    const double cpuAtStart = ProcessCpuSeconds();
    const Clock::time_point start = Clock::now();
    Peer peer([&pty, &transfer]() -> std::string {
        const std::string& p = transfer.payload;
        return pty->WritePeer(p.data(), p.size()) ? "" : "the peer could not write";
    });
    const bool moved =
        ServiceUntil([&] { return count.load() >= bytes; }, [&] { return count.load(); });
    const Clock::time_point end =
        moved ? Clock::time_point(Clock::duration(lastByteAt.load())) : Clock::now();
    const double seconds = std::chrono::duration<double>(end - start).count();
    const std::string peerFailure = peer.Join();
    const double cpu = ProcessCpuSeconds() - cpuAtStart - peer.CpuSeconds();
    const bool faulted = port.GetIsFaulted();
    // Close ends the receive thread, after which its last writes to the hash
    // are visible here.
    port.Close();

    if (!peerFailure.empty()) return Failed(peerFailure);
    if (faulted) return Failed("the component faulted");
    why = Verify(got, transfer);
    if (!why.empty()) return Failed(why + (moved ? "" : " (stalled)"));
    return {{static_cast<double>(bytes) / kMega / seconds, cpu}, ""};
}

RunOutcome BaselineRun(std::size_t bytes, std::uint64_t seed) {
    const Transfer transfer = MakeTransfer(bytes, seed);
    std::string why;
    const auto pty = Line::Create(&why);
    if (!pty) return Failed(why);
    const auto raw = RawPort::Open(*pty, &why);
    if (!raw) return Failed(why);

    const double cpuAtStart = ProcessCpuSeconds();
    const Clock::time_point start = Clock::now();
    Peer peer([&pty, &transfer]() -> std::string {
        const std::string& p = transfer.payload;
        return pty->WritePeer(p.data(), p.size()) ? "" : "the peer could not write";
    });
    StreamHash got;
    std::vector<char> buffer(1 << 16);
    while (got.Count() < bytes) {
        const long n = raw->ReadSome(buffer.data(), buffer.size(), kStallMs);
        if (n <= 0) break;
        got.Add(buffer.data(), static_cast<std::size_t>(n));
    }
    const double seconds = SecondsSince(start);
    const std::string peerFailure = peer.Join();
    const double cpu = ProcessCpuSeconds() - cpuAtStart - peer.CpuSeconds();

    if (!peerFailure.empty()) return Failed(peerFailure);
    why = Verify(got, transfer);
    if (!why.empty()) return Failed(why);
    return {{static_cast<double>(bytes) / kMega / seconds, cpu}, ""};
}

}  // namespace

void AddReceiveScenarios(const Settings& settings, std::vector<Scenario>& out) {
    const std::size_t fast = settings.bulkBytes;
    const std::size_t slow = settings.bulkDefaultBytes;
    const std::uint32_t defaultDelay = TTarnSerialPort().GetDelay();
    // At Delay 1 each poll takes what the terminal holds, at most 4095
    // bytes, so about 4 MB/s is the most that polling every millisecond
    // allows; 3.5 leaves room for the cycle's own time.
    out.push_back({"bulk_receive_delay1",
                   "bulk receive of " + SizeText(fast) + ", AutoReceive, Delay 1",
                   {{"MB/s", true, 3.5, false}, {"CPU s", false, std::nullopt, false}},
                   settings.runs,
                   [fast](std::uint64_t seed) {
                       return ComponentRun(fast, {1, false}, seed);
                   },
                   [fast](std::uint64_t seed) { return BaselineRun(fast, seed); }});
    out.push_back({"bulk_receive_default",
                   "bulk receive of " + SizeText(slow) + ", AutoReceive, default Delay " +
                       std::to_string(defaultDelay),
                   {{"MB/s", true, std::nullopt, false}, {"CPU s", false, std::nullopt, false}},
                   std::min(settings.runs, settings.bulkDefaultRuns),
                   [slow](std::uint64_t seed) {
                       return ComponentRun(slow, {std::nullopt, false}, seed);
                   },
                   [slow](std::uint64_t seed) { return BaselineRun(slow, seed); }});
    out.push_back({"bulk_receive_wake",
                   "bulk receive of " + SizeText(fast) +
                       ", AutoReceive, WakeOnData, events on the receive thread, default Delay",
                   {{"MB/s", true, 0.9, true}, {"CPU s", false, std::nullopt, false}},
                   settings.runs,
                   [fast](std::uint64_t seed) {
                       return ComponentRun(fast, {std::nullopt, true}, seed);
                   },
                   [fast](std::uint64_t seed) { return BaselineRun(fast, seed); }});
}

}  // namespace tarn::bench
