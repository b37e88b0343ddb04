// Send: random bytes sent in blocks of 4 KiB while the peer reads the peer end
// as fast as it can and hashes what comes. The component sends each block
// with SendChars; the baseline writes it to the plain port. The figure's clock
// stops when the peer has the last byte.
#include <vector>

#include "scenario_support.h"

namespace tarn::bench {
namespace {

constexpr double kMega = 1e6;
constexpr std::size_t kBlock = 4096;

struct Blocks {
    std::vector<std::string> blocks;
    std::size_t total = 0;
    std::uint64_t expected = 0;
};

Blocks MakeBlocks(std::size_t bytes, std::uint64_t seed) {
    const std::string payload = RandomBytes(bytes, seed);
    Blocks b;
    for (std::size_t at = 0; at < payload.size(); at += kBlock) {
        b.blocks.push_back(payload.substr(at, kBlock));
    }
    StreamHash hash;
    hash.Add(payload);
    b.total = payload.size();
    b.expected = hash.Value();
    return b;
}

// The peer: reads until `total` bytes have come, hashing them.
std::string ReadAndHash(Line& line, std::size_t total, StreamHash& got) {
    std::vector<char> buffer(1 << 16);
    while (got.Count() < total) {
        const long n = line.ReadPeer(buffer.data(), buffer.size(), kStallMs);
        if (n <= 0)
            return "the peer stopped receiving after " + std::to_string(got.Count()) + " bytes";
        got.Add(buffer.data(), static_cast<std::size_t>(n));
    }
    return "";
}

template <typename SendBlock>
RunOutcome Measure(Line& line, const Blocks& b, SendBlock send) {
    StreamHash got;
    const double cpuAtStart = ProcessCpuSeconds();
    const Clock::time_point start = Clock::now();
    Peer peer([&line, &b, &got] { return ReadAndHash(line, b.total, got); });
    std::string failure;
    for (std::size_t i = 0; i < b.blocks.size() && failure.empty(); ++i) {
        failure = send(b.blocks[i]);
    }
    const std::string peerFailure = peer.Join();
    const double seconds = std::chrono::duration<double>(peer.FinishedAt() - start).count();
    const double cpu = ProcessCpuSeconds() - cpuAtStart - peer.CpuSeconds();
    if (!failure.empty()) return Failed(failure);
    if (!peerFailure.empty()) return Failed(peerFailure);
    if (got.Value() != b.expected) return Failed("the bytes received differ from those sent");
    return {{static_cast<double>(b.total) / kMega / seconds, cpu}, ""};
}

RunOutcome ComponentRun(std::size_t bytes, bool wakeOnData, std::uint64_t seed) {
    const Blocks b = MakeBlocks(bytes, seed);
    std::string why;
    const auto pty = Line::Create(&why);
    if (!pty) return Failed(why);
    TTarnSerialPort port;
    // The receive thread keeps polling the line while the sends go out.
    port.SetWakeOnData(wakeOnData);
    why = OpenOnLine(port, *pty);
    if (!why.empty()) return Failed(why);

    const RunOutcome outcome = Measure(*pty, b, [&port](const std::string& block) -> std::string {
        try {
            // A write that times out takes part of the block; the rest goes
            // in the next call, as an application would send it.
            for (std::size_t done = 0; done < block.size();) {
                const std::uint32_t put = port.SendChars(done == 0 ? block : block.substr(done));
                if (put == 0) return "SendChars took nothing";
                done += put;
            }
        } catch (const std::exception& e) {
            return e.what();
        }
        return "";
    });
    port.Close();
    return outcome;
}

RunOutcome BaselineRun(std::size_t bytes, std::uint64_t seed) {
    const Blocks b = MakeBlocks(bytes, seed);
    std::string why;
    const auto pty = Line::Create(&why);
    if (!pty) return Failed(why);
    const auto raw = RawPort::Open(*pty, &why);
    if (!raw) return Failed(why);
    const RunOutcome outcome = Measure(*pty, b, [&raw](const std::string& block) -> std::string {
        return raw->WriteAll(block.data(), block.size()) ? "" : "the write failed";
    });
    return outcome;
}

}  // namespace

void AddSendScenarios(const Settings& settings, std::vector<Scenario>& out) {
    const std::size_t bytes = settings.sendBytes;
    const std::string title = "SendChars of " + SizeText(bytes) + " in 4 KiB blocks";
    out.push_back({"send",
                   title,
                   {{"MB/s", true, 0.95, true}, {"CPU s", false, std::nullopt, false}},
                   settings.sendRunsPerRun * settings.runs,
                   [bytes](std::uint64_t seed) { return ComponentRun(bytes, false, seed); },
                   [bytes](std::uint64_t seed) { return BaselineRun(bytes, seed); }});
    out.push_back({"send_wake",
                   title + ", WakeOnData",
                   {{"MB/s", true, 0.95, true}, {"CPU s", false, std::nullopt, false}},
                   settings.sendRunsPerRun * settings.runs,
                   [bytes](std::uint64_t seed) { return ComponentRun(bytes, true, seed); },
                   [bytes](std::uint64_t seed) { return BaselineRun(bytes, seed); }});
}

}  // namespace tarn::bench
