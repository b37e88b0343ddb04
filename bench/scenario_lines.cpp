// Line reads: lines of 78 printable bytes and CR LF written to the peer end
// as fast as the port end takes them. The component reads them one by one
// with ReadStringLine (AutoReceive off); the baseline reads the plain port
// in blocks and splits them at CR LF. Each line is compared with the one sent.
#include <vector>

#include "host_synchronize.h"
#include "scenario_support.h"

namespace tarn::bench {
namespace {

constexpr std::size_t kWidth = 78;
constexpr std::size_t kStride = kWidth + 2;
// Long enough never to end a read while the peer is still writing.
constexpr std::int32_t kLineTimeOutSeconds = 30;

std::string CheckLine(const std::string& text, std::size_t index, const char* line,
                      std::size_t size) {
    if (size == kWidth && text.compare(index * kStride, kWidth, line, size) == 0) return "";
    return "line " + std::to_string(index) + " differs from the one sent (" + std::to_string(size) +
           " bytes)";
}

RunOutcome ComponentRun(std::size_t lines, bool wakeOnData, std::uint64_t seed) {
    const std::string text = PrintableLines(lines, kWidth, seed);
    std::string why;
    const auto pty = Line::Create(&why);
    if (!pty) return Failed(why);

    TTarnSerialPort port;
    port.SetAutoReceive(false);
    port.SetWakeOnData(wakeOnData);
    why = OpenOnLine(port, *pty);
    if (!why.empty()) return Failed(why);

    const double cpuAtStart = ProcessCpuSeconds();
    const Clock::time_point start = Clock::now();
    Peer peer([&pty, &text]() -> std::string {
        return pty->WritePeer(text.data(), text.size()) ? "" : "the peer could not write";
    });
    std::string failure;
    for (std::size_t i = 0; i < lines && failure.empty(); ++i) {
        const std::string line = port.ReadStringLine(kLineTimeOutSeconds);
        failure = CheckLine(text, i, line.data(), line.size());
        // An application's message loop runs between reads; the receive
        // thread's announcements of new bytes wait for it.
        tarn::host::CheckSynchronize(0);
    }
    const double seconds = SecondsSince(start);
    const std::string peerFailure = peer.Join();
    const double cpu = ProcessCpuSeconds() - cpuAtStart - peer.CpuSeconds();
    port.Close();

    if (!failure.empty()) return Failed(failure);
    if (!peerFailure.empty()) return Failed(peerFailure);
    return {{static_cast<double>(lines) / seconds, cpu}, ""};
}

RunOutcome BaselineRun(std::size_t lines, std::uint64_t seed) {
    const std::string text = PrintableLines(lines, kWidth, seed);
    std::string why;
    const auto pty = Line::Create(&why);
    if (!pty) return Failed(why);
    const auto raw = RawPort::Open(*pty, &why);
    if (!raw) return Failed(why);

    const double cpuAtStart = ProcessCpuSeconds();
    const Clock::time_point start = Clock::now();
    Peer peer([&pty, &text]() -> std::string {
        return pty->WritePeer(text.data(), text.size()) ? "" : "the peer could not write";
    });
    std::string failure;
    std::string pending;
    std::vector<char> buffer(1 << 16);
    std::size_t done = 0;
    while (done < lines && failure.empty()) {
        const long n = raw->ReadSome(buffer.data(), buffer.size(), kStallMs);
        if (n <= 0) {
            failure = "line " + std::to_string(done) + " did not come";
            break;
        }
        pending.append(buffer.data(), static_cast<std::size_t>(n));
        std::size_t from = 0;
        for (std::size_t end; failure.empty() && (end = pending.find("\r\n", from)) != pending.npos;
             from = end + 2) {
            failure = CheckLine(text, done++, pending.data() + from, end - from);
        }
        pending.erase(0, from);
    }
    const double seconds = SecondsSince(start);
    const std::string peerFailure = peer.Join();
    const double cpu = ProcessCpuSeconds() - cpuAtStart - peer.CpuSeconds();

    if (!failure.empty()) return Failed(failure);
    if (!peerFailure.empty()) return Failed(peerFailure);
    if (!pending.empty()) return Failed("bytes beyond the last line arrived");
    return {{static_cast<double>(lines) / seconds, cpu}, ""};
}

}  // namespace

void AddLineScenarios(const Settings& settings, std::vector<Scenario>& out) {
    const std::size_t lines = settings.lines;
    const std::string title =
        std::to_string(lines) + " lines of 78 bytes and CR LF, ReadStringLine";
    out.push_back({"line_reads",
                   title,
                   {{"lines/s", true, 35000, false}, {"CPU s", false, std::nullopt, false}},
                   settings.runs,
                   [lines](std::uint64_t seed) { return ComponentRun(lines, false, seed); },
                   [lines](std::uint64_t seed) { return BaselineRun(lines, seed); }});
    out.push_back({"line_reads_wake",
                   title + ", WakeOnData",
                   {{"lines/s", true, 0.75, true}, {"CPU s", false, std::nullopt, false}},
                   settings.runs,
                   [lines](std::uint64_t seed) { return ComponentRun(lines, true, seed); },
                   [lines](std::uint64_t seed) { return BaselineRun(lines, seed); }});
}

}  // namespace tarn::bench
