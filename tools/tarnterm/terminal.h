// The interactive terminal: typed keys go to the port, received data comes
// to the screen, and the menu key reaches the port's control lines and
// settings. Connection events arrive on the main thread through the
// component's queue, which this class services from its own loop.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "Tarnserialport.h"
#include "connection.h"
#include "console.h"
#include "display.h"
#include "options.h"
#include "plot_screen.h"
#include "plot_series.h"
#include "stamps.h"
#include "traffic_meter.h"
#include "transfer.h"

namespace tarnterm {

class DemoInstrument;

struct TerminalSettings {
    // The port as it was named: a name, or a device to look for
    // ("usb:VID:PID[:SERIAL]"); empty means `portName`.
    std::string portSpec;
    // The name opened, once known.
    std::string portName;
    LineSettings line;
    EnterKey enter = EnterKey::kCrLf;
    DisplayMode display = DisplayMode::kRaw;
    // Received data is shown as the component's frames (--frame), which
    // --map does not change, rather than as it comes.
    bool frames = false;
    LineEndMaps map;
    bool color = false;
    bool echo = false;
    bool reconnect = false;
    // The length of the menu's timed break.
    std::uint32_t breakMs = 250;
    // The length of the menu's pulse of DTR or RTS.
    std::uint32_t pulseMs = 100;
    // What stands before each received line on the screen.
    StampKind timestamps = StampKind::kNone;
    // The stamped traffic log, if one is kept; it must outlive the
    // terminal.
    StampedLog* log = nullptr;
    // The samples of --plot and --plot-out, if they are wanted; they must
    // outlive the terminal.
    PlotSeries* plot = nullptr;
    // Draws the live chart of `plot` on the screen, above the text or
    // (with --plot=only) instead of it.
    PlotMode plotScreen = PlotMode::kNone;
    // One scale for the chart's series, or one each.
    PlotScale plotScale = PlotScale::kShared;
    // The --record file, when the session is recorded.
    std::string recordFile;
};

// What is said when the recording to `file` ended before its session did.
std::string RecordingStoppedEarly(const std::string& file);

class Terminal {
public:
    // Ctrl-T.
    static constexpr char kMenuKey = '\x14';

    // `port` is set up with its port and line settings and still closed.
    // `demo`, when given, is the instrument that the menu can unplug. All
    // three must outlive the terminal. Main thread only, as is every member.
    Terminal(TTarnSerialPort& port, Console& console, TerminalSettings settings,
             DemoInstrument* demo = nullptr);
    ~Terminal();
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;

    OpenOutcome Connect();
    // For a port that is not there yet (with --reconnect): the terminal
    // waits for it to appear, as for one that was lost, and connects then.
    void WaitForPort();
    // Closes the port; the terminal counts that as intended.
    void Close();

    // The interactive loop: until the quit key, the end of the input or a
    // lost port (without --reconnect). Closes the port and returns the exit
    // status.
    int Run();
    void ShowBanner();

    // Handles typed keys exactly as the loop does.
    void HandleKeys(const std::string& keys);
    // Runs the connection's events (and reconnection) without reading keys,
    // until `done` holds or `limit` has passed; false on the limit, and as
    // soon as a stop signal came (StopSignal).
    bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit);
    // The signal that told the program to stop, or 0 (Console::StopSignal).
    int StopSignal() const { return console_.StopSignal(); }

    bool Finished() const { return finished_; }
    int ExitStatus() const { return exitStatus_; }
    bool Connected() const { return port_.IsConnected() != spNone; }
    // The port was lost and the terminal waits for it to come back.
    bool WaitingForDevice() const { return waiting_; }
    // A file is being sent from the menu.
    bool SendingFile() const { return fileSend_ != nullptr; }
    // The modem lines as last reported.
    TLineStatusSet LineStatus() const { return lineStatus_; }
    // What has been received since the last ClearReceived (the newest
    // 64 KiB of it).
    const std::string& Received() const { return received_; }
    void ClearReceived() { received_.clear(); }
    Display& Screen() { return display_; }

private:
    void Attach();
    void Detach();
    // Received data, or its frames, are shown: not with the chart alone.
    bool ShowsText() const;
    void Finish(int status);
    // Runs queued events, waiting up to `waitMs` for one, then tries to
    // reconnect when that is due.
    void Service(int waitMs);
    void TryReconnect();
    // Tells once for each connection that its recording ended while the
    // port stayed open (a full disk).
    void WatchRecording();
    // The port as it was named, for messages about waiting for it.
    const std::string& Wanted() const;
    void ConnectionLost();

    void SendTyped(const std::string& bytes);
    // Keys typed while a file is sent: the menu key cancels the send, the
    // others are not sent.
    void KeyWhileSending(char key);

    // One entry of the menu: its keys, its help and its action. The table,
    // which also makes the menu's help, is in terminal.cpp.
    struct MenuEntry;
    static const MenuEntry kMenuEntries[];
    // The key typed after the menu key.
    void MenuCommand(char key);
    void ShowHelp();
    void ShowLines();
    void TimedBreak();
    // Inverts DTR or RTS for the pulse's length and puts it back, or says
    // why it cannot.
    void Pulse(const char* name, bool state, bool (TTarnSerialPort::*set)(bool),
               const Flow* handshake);
    // Why an output line cannot be set now; empty when it can.
    std::string WhyLineIsFixed(const Flow* handshake) const;
    // "received N bytes (R B/s), sent M bytes (S B/s), since ..."
    void ShowCounters();
    // Toggles an output line, or says why it cannot. `keep`, for DTR and
    // RTS, also writes the new state into the component's device control
    // block, so that a block applied again (a new rate, a new connection)
    // keeps it. `handshake` is the flow control that drives the line, if
    // any.
    void SetLine(const char* name, bool& state, bool (TTarnSerialPort::*set)(bool),
                 void (TTarnSerialPort::*keep)(bool), const Flow* handshake);
    // "on", "off", "flow" while `handshake` drives the line, or "?" on a
    // port whose lines are not known.
    const char* LineState(bool on, const Flow* handshake) const;
    // What a line typed on the status line is for, and its words.
    enum class Entry { kNone, kRate, kFileName, kPulseLine };
    struct EntryWords;
    static const EntryWords& WordsOf(Entry entry);
    void StartEntry(Entry entry);
    // A key typed on the status line: a character of the entry, Backspace,
    // Enter to act on it or Esc to cancel.
    void EntryKey(char key);
    // Whether the entry takes `key` as one of its characters.
    bool EntryTakes(char key) const;
    void FinishEntry(const std::string& text);
    void StartFileSend(const std::string& path);
    // Takes the file send a step further: one write, or a part of the wait
    // for its last bytes to leave.
    void ContinueFileSend();
    // Ends the file send, saying how it ended.
    void EndFileSend(const std::string& message);
    void ChangeRate(std::int32_t baud);
    void StepRate(int direction);
    void NextDisplayMode();
    void NextEnterKey();
    void TogglePlug();

    TTarnSerialPort& port_;
    Console& console_;
    TerminalSettings settings_;
    DemoInstrument* demo_;
    LineStamper stamper_;
    Display display_;

    bool finished_ = false;
    int exitStatus_ = 0;
    // The recording stopped early in this connection, and in any; see
    // WatchRecording.
    bool recordingTold_ = false;
    bool recordingStopped_ = false;
    bool menuPending_ = false;
    Entry entry_ = Entry::kNone;
    std::string entryText_;

    // The file that the menu sends, while it does.
    struct FileSend {
        FileSend(TTarnSerialPort& port, std::string name, std::string bytes, std::int32_t baud)
            : path(std::move(name)), pace(bytes.size()), transfer(port, std::move(bytes), baud) {}
        std::string path;
        ProgressPace pace;
        Transfer transfer;
        // The connection went meanwhile; a new one has none of it.
        bool lost = false;
    };
    std::unique_ptr<FileSend> fileSend_;
    bool warnedSending_ = false;

    // What this connection received and sent, and since when.
    TrafficMeter receivedMeter_;
    TrafficMeter sentMeter_;
    std::chrono::steady_clock::time_point connectedAt_;

    // Why the next disconnection happens, so that it is not taken for a
    // lost device.
    bool closing_ = false;
    bool changingRate_ = false;
    bool waiting_ = false;
    bool removed_ = false;
    bool reconnecting_ = false;
    bool warnedOffline_ = false;
    std::chrono::steady_clock::time_point nextAttempt_;

    // The output lines as the user set them; DTR and RTS start as the
    // component opens the port.
    bool dtr_;
    bool rts_;
    bool break_ = false;
    // The port of this connection reports its modem lines (ModemLinesKnown).
    bool linesKnown_ = false;
    TLineStatusSet lineStatus_;
    std::string received_;
    // The live chart, while it is drawn.
    std::unique_ptr<PlotScreen> plotScreen_;
};

}  // namespace tarnterm
