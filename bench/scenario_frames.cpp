// Frames: whole messages written to the peer end as fast as the port end
// takes them, lines of 80 printable bytes ended by CR LF (frDelimiter) or
// COBS frames of 64 binary bytes with zeros among them (frCobs). The
// component cuts them out with its framing, handing each to OnFrame on the
// receive thread (AutoReceive, WakeOnData, no synchronization) or to a loop
// of ReadFrame (AutoReceive off); the baseline reads the plain port in
// blocks and cuts the frames with a decoder of its own. Every frame is
// checked for its size, and all of them, in order, through a hash.
#include <atomic>
#include <vector>

#include "frame_traffic.h"
#include "scenario_support.h"

namespace tarn::bench {
namespace {

// Long enough never to end a read while the peer is still writing.
constexpr std::int32_t kFrameTimeOutMs = kStallMs;

enum class Taker { OnFrame, ReadFrame };

void UseFraming(TTarnSerialPort& port, FrameKind kind) {
    if (kind == FrameKind::Delimited) {
        port.SetFrameDelimiter("\r\n");
        port.SetFraming(frDelimiter);
    } else {
        port.SetFraming(frCobs);
    }
}

// The frames per second and the receiving side's processor time per frame.
RunOutcome FrameFigures(std::size_t frames, double seconds, double cpuSeconds) {
    const auto count = static_cast<double>(frames);
    return {{count / seconds, cpuSeconds * 1e6 / count}, ""};
}

RunOutcome ComponentRun(FrameKind kind, Taker taker, std::size_t frames, std::uint64_t seed) {
    const FrameTraffic traffic = MakeFrameTraffic(kind, frames, seed);
    std::string why;
    const auto pty = Line::Create(&why);
    if (!pty) return Failed(why);

    TTarnSerialPort port;
    port.SetAutoReceive(taker == Taker::OnFrame);
    port.SetWakeOnData(true);
    port.SetNeedSynchronization(false);
    UseFraming(port, kind);
    // The handlers run on the receive thread, or on this one inside
    // ReadFrame; this thread reads only the atomic counts until the end.
    FrameCheck check(traffic);
    std::atomic<std::size_t> errors{0};
    if (taker == Taker::OnFrame) {
        port.SetOnFrame([&check](TTarnSerialPort*, std::string frame) { check.Take(frame); });
    }
    port.SetOnFrameError([&errors](TTarnSerialPort*, TFrameErrorReason, std::string) { ++errors; });
    why = OpenOnLine(port, *pty);
    if (!why.empty()) return Failed(why);

    const double cpuAtStart = ProcessCpuSeconds();
    const Clock::time_point start = Clock::now();
    Peer peer([&pty, &traffic]() -> std::string {
        return pty->WritePeer(traffic.wire.data(), traffic.wire.size())
                   ? ""
                   : "the peer could not write";
    });
    const auto taken = [&] { return check.Count() + errors.load(); };
    std::string failure;
    if (taker == Taker::OnFrame) {
        if (!ServiceUntil([&] { return taken() >= frames; }, taken)) failure = "stalled";
    } else {
        for (std::size_t i = 0; i < frames && failure.empty(); ++i) {
            std::string frame;
            if (!port.ReadFrame(kFrameTimeOutMs, frame)) {
                failure = "frame " + std::to_string(i) + " did not come";
            } else {
                check.Take(frame);
            }
        }
    }
    const double seconds = SecondsSince(start);
    const std::string peerFailure = peer.Join();
    const double cpu = ProcessCpuSeconds() - cpuAtStart - peer.CpuSeconds();
    const bool faulted = port.GetIsFaulted();
    // Close ends the receive thread, after which its last writes to the
    // check are visible here.
    port.Close();

    if (!peerFailure.empty()) return Failed(peerFailure);
    if (faulted) return Failed("the component faulted");
    if (errors.load() > 0) return Failed(std::to_string(errors.load()) + " frame errors");
    why = check.Verdict();
    if (!why.empty()) return Failed(why + (failure.empty() ? "" : " (" + failure + ")"));
    if (!failure.empty()) return Failed(failure);
    return FrameFigures(frames, seconds, cpu);
}

RunOutcome BaselineRun(FrameKind kind, std::size_t frames, std::uint64_t seed) {
    const FrameTraffic traffic = MakeFrameTraffic(kind, frames, seed);
    std::string why;
    const auto pty = Line::Create(&why);
    if (!pty) return Failed(why);
    const auto raw = RawPort::Open(*pty, &why);
    if (!raw) return Failed(why);

    const double cpuAtStart = ProcessCpuSeconds();
    const Clock::time_point start = Clock::now();
    Peer peer([&pty, &traffic]() -> std::string {
        return pty->WritePeer(traffic.wire.data(), traffic.wire.size())
                   ? ""
                   : "the peer could not write";
    });
    FrameCheck check(traffic);
    PlainFrameSplitter splitter(kind);
    std::vector<char> buffer(1 << 16);
    while (check.Count() + splitter.Malformed() < frames) {
        const long n = raw->ReadSome(buffer.data(), buffer.size(), kStallMs);
        if (n <= 0) break;
        splitter.Feed(buffer.data(), static_cast<std::size_t>(n), check);
    }
    const double seconds = SecondsSince(start);
    const std::string peerFailure = peer.Join();
    const double cpu = ProcessCpuSeconds() - cpuAtStart - peer.CpuSeconds();

    if (!peerFailure.empty()) return Failed(peerFailure);
    if (splitter.Malformed() > 0) {
        return Failed(std::to_string(splitter.Malformed()) + " frames could not be decoded");
    }
    why = check.Verdict();
    if (!why.empty()) return Failed(why);
    if (splitter.InFrame()) return Failed("bytes beyond the last frame arrived");
    return FrameFigures(frames, seconds, cpu);
}

Scenario FrameScenario(const Settings& settings, FrameKind kind, Taker taker) {
    const std::size_t frames = settings.frames;
    const bool lines = kind == FrameKind::Delimited;
    const bool events = taker == Taker::OnFrame;
    std::string title =
        std::to_string(frames) + (lines ? " lines of 80 bytes and CR LF, frDelimiter"
                                        : " COBS frames of 64 bytes with zeros, frCobs");
    title += events ? ", OnFrame on the receive thread, WakeOnData" : ", ReadFrame, WakeOnData";
    return {std::string("frames_") + (lines ? "delimiter" : "cobs") +
                (events ? "_event" : "_readframe"),
            title,
            {{"frames/s", true, std::nullopt, false}, {"CPU us/frame", false, std::nullopt, false}},
            settings.runs,
            [=](std::uint64_t seed) { return ComponentRun(kind, taker, frames, seed); },
            [=](std::uint64_t seed) { return BaselineRun(kind, frames, seed); }};
}

}  // namespace

void AddFrameScenarios(const Settings& settings, std::vector<Scenario>& out) {
    for (const FrameKind kind : {FrameKind::Delimited, FrameKind::Cobs}) {
        for (const Taker taker : {Taker::OnFrame, Taker::ReadFrame}) {
            out.push_back(FrameScenario(settings, kind, taker));
        }
    }
}

}  // namespace tarn::bench
