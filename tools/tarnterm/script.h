// The steps of a script run without a terminal (--send, --send-file,
// --expect, --read-line, the frame steps). Nothing is read before the first
// step that waits for data; from its first wait on, the reader receives
// what arrives.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <string>
#include <utility>

#include "Tarnserialport.h"
#include "connection.h"
#include "console.h"
#include "options.h"
#include "plot_series.h"
#include "stamps.h"

namespace tarnterm {

// Waits for received bytes, keeping what a step has read but not used for
// the next step. It takes what already waits with the synchronous reads
// (the component must have AutoReceive off); once a wait finds nothing
// waiting, it takes reception over: AutoReceive on and its own OnReceive,
// so that each chunk reaches the wait as the receive thread gets it (at
// once in the wake-on-data mode) rather than at the next look. The
// destructor hands reception back as it found it. With a framing in
// force it takes reception over at its first wait, since the synchronous
// reads would take bytes past the component's framing, and its OnFrame
// queues the frames for the frame waits, beside the bytes; OnFrameError
// goes to the handler that ReportFrameErrors gives. The component's events
// must come through the main thread's queue (NeedSynchronization, the
// default). Main thread only.
class ReceiveReader {
public:
    using Clock = std::chrono::steady_clock;
    // kTooLong: ReadLine met a line longer than kLongestLine; kStopped: a
    // stop signal ended the wait.
    enum class Result { kDone, kTimeout, kLost, kTooLong, kStopped };
    // The longest line ReadLine collects; a longer one is not kept.
    static constexpr std::size_t kLongestLine = 64 * 1024;

    // `log` and `plot`, when given, get every byte read, and must outlive
    // the reader.
    explicit ReceiveReader(TTarnSerialPort& port, StampedLog* log = nullptr,
                           PlotSeries* plot = nullptr)
        : port_(port), log_(log), plot_(plot) {}
    ~ReceiveReader();
    ReceiveReader(const ReceiveReader&) = delete;
    ReceiveReader& operator=(const ReceiveReader&) = delete;

    // Has every wait end with kStopped once `stopped` holds; it is asked
    // at least every kStopCheckMs while a wait lasts.
    void StopWhen(std::function<bool()> stopped) { stopped_ = std::move(stopped); }
    // Has each frame error that arrives told to `report`.
    void ReportFrameErrors(std::function<void(TFrameErrorReason, const std::string&)> report) {
        reportFrameError_ = std::move(report);
    }

    // Waits until `pattern` has been received; the bytes up to its end are
    // used up. Each wait ends at its deadline however much keeps arriving.
    Result Expect(const std::string& pattern, Clock::time_point deadline);
    // Waits for a line ended by CR, LF or CR LF and gives it without its end.
    // A line longer than kLongestLine is kTooLong, and what came of it is
    // used up.
    Result ReadLine(std::string& line, Clock::time_point deadline);
    // Waits for the next frame (`wanted` null) or for one equal to
    // `*wanted`, which it gives in `frame`; the frames before it are used
    // up. Frames are taken in the order they came, whatever the byte waits
    // took meanwhile. The port must have a framing.
    Result ExpectFrame(const std::string* wanted, std::string& frame, Clock::time_point deadline);
    // What the last wait looked at: the bytes it found waiting and those
    // that arrived during it (the newest kSeenKept of them); for a frame
    // wait, the bytes since the previous frame wait ended.
    const std::string& Seen() const { return seen_; }
    static constexpr std::size_t kSeenKept = 1024 * 1024;

private:
    // Adds what waits in the driver to pending_, waiting until something
    // came, the deadline passed or the port closed. A deadline that has
    // passed ends it before it reads, so that a device that keeps sending
    // cannot hold a wait beyond its time-out.
    Result Fill(Clock::time_point deadline);
    // Adds received bytes to pending_ and seen_, the log and the chart.
    void Take(const std::string& chunk);
    // Has the receive thread hand each chunk to Take, and each frame to
    // the queue, from now on.
    void TakeOverReception();
    void TakeFrame(std::string frame);

    TTarnSerialPort& port_;
    StampedLog* log_;
    PlotSeries* plot_;
    std::function<bool()> stopped_;
    std::function<void(TFrameErrorReason, const std::string&)> reportFrameError_;
    std::string pending_;
    std::string seen_;
    // With a framing: the frames not yet taken, the bytes they hold (each
    // counted one more, so that empty frames count too), and the bytes
    // received since the last frame wait ended.
    bool framed_ = false;
    std::deque<std::string> frames_;
    std::size_t framesSize_ = 0;
    std::string sinceFrame_;
    // A line ended by CR may be followed by its LF in a later read.
    bool skipLineFeed_ = false;
    // Set by Take, cleared by the wait that sees it.
    bool arrived_ = false;
    // Whether reception is taken over, and what it was before.
    bool receiving_ = false;
    bool previousAutoReceive_ = false;
    TSendReceiveEvent previousOnReceive_;
    TFrameEvent previousOnFrame_;
    TFrameErrorEvent previousOnFrameError_;
};

// Checks that the files to send can be read, before the port is opened.
bool CheckScriptFiles(const Options& options, std::string& error);

// Opens the port for the steps. With --reconnect a port that is not there
// yet, or a remote one whose server does not answer yet, is waited for
// within --timeout, which standard error tells once; `portName` follows a
// device to look for to the name it opens under. A port that goes during
// the steps still fails the script: the device may have missed what was
// sent. Main thread only.
OpenOutcome OpenScriptPort(TTarnSerialPort& port, const Options& options, std::string& portName,
                           Console& console);

// Runs the steps on the open port; returns the exit status. Results go to
// standard output, messages and progress to standard error; what is read
// goes to `log` and `plot` too, when given: all that the reads took from
// the port, which may go past what the last step used.
int RunScript(TTarnSerialPort& port, const Options& options, const std::string& portName,
              Console& console, StampedLog* log = nullptr, PlotSeries* plot = nullptr);

}  // namespace tarnterm
