#include "terminal.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string_view>
#include <utility>
#include <vector>

#include "demo_instrument.h"
#include "exit_status.h"
#include "host_synchronize.h"

namespace tarnterm {
namespace {

using Clock = std::chrono::steady_clock;

// The longest wait for keys; keys and queued events end it sooner.
constexpr int kIdleWaitMs = 500;
constexpr std::size_t kReceivedKept = 64 * 1024;
// The narrowest screen that the menu's help is laid out for.
constexpr std::size_t kScreenColumns = 80;

constexpr char kEscape = '\x1b';
constexpr char kBackspace = '\x08';
constexpr char kDelete = '\x7f';
// The menu key alone, as a list of keys in the menu's table.
constexpr char kMenuKeyOnly[] = {Terminal::kMenuKey, '\0'};

const std::int32_t kStandardRates[] = {300,   600,   1200,   2400,   4800,   9600,  19200,
                                       38400, 57600, 115200, 230400, 460800, 921600};

const char* OnOff(bool on) { return on ? "on" : "off"; }

// The flow controls that drive DTR and RTS themselves.
constexpr Flow kDtrHandshake = Flow::kDtrDsr;
constexpr Flow kRtsHandshake = Flow::kRtsCts;

// "12 s", "3 min 12 s", "2 h 3 min".
std::string DurationText(Clock::duration duration) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(duration).count();
    if (seconds < 60) return std::to_string(seconds) + " s";
    if (seconds < 3600) {
        return std::to_string(seconds / 60) + " min " + std::to_string(seconds % 60) + " s";
    }
    return std::to_string(seconds / 3600) + " h " + std::to_string(seconds / 60 % 60) + " min";
}

std::string RateText(double bytesPerSecond) {
    char text[32];
    std::snprintf(text, sizeof text, "%.0f B/s", bytesPerSecond);
    return text;
}

// "+ or -", "Ctrl-T": the keys of a menu entry as the help names them.
std::string KeyNames(const char* keys) {
    std::string names;
    for (const char* key = keys; *key != '\0'; ++key) {
        if (!names.empty()) names += " or ";
        if (static_cast<unsigned char>(*key) < 0x20) {
            names += std::string("Ctrl-") + static_cast<char>(*key + '@');
        } else {
            names += *key;
        }
    }
    return names;
}

}  // namespace

Terminal::Terminal(TTarnSerialPort& port, Console& console, TerminalSettings settings,
                   DemoInstrument* demo)
    : port_(port),
      console_(console),
      settings_(std::move(settings)),
      demo_(demo),
      stamper_(settings_.timestamps, false),
      display_([this](const std::string& text) { console_.Write(Stream::kOutput, text); },
               [this](const std::string& bytes) { return port_.ReplaceControlChars(bytes); },
               settings_.display),
      dtr_(port_.GetEnableDTROnOpen()),
      rts_(port_.GetEnableRTSOnOpen()) {
    receivedMeter_.Reset(Clock::now());
    sentMeter_.Reset(Clock::now());
    if (settings_.timestamps != StampKind::kNone) display_.SetStamper(&stamper_);
    display_.SetColor(settings_.color);
    if (settings_.plot != nullptr && settings_.plotScreen != PlotMode::kNone) {
        plotScreen_ = std::make_unique<PlotScreen>(console_, *settings_.plot,
                                                   settings_.plotScreen == PlotMode::kOnly,
                                                   settings_.color, settings_.plotScale);
    }
    Attach();
}

Terminal::~Terminal() { Detach(); }

void Terminal::Attach() {
    // The receive thread queues its events for this thread and then calls
    // the hook, which ends the wait for keys so that they run at once.
    Console* console = &console_;
    tarn::host::SetWakeMainThread([console] { console->Wake(); });

    port_.SetOnConnect([this](TTarnSerialPort*, TCommPort) {
        // DTR and RTS open as the user left them (SetLine); a break does
        // not outlive its connection.
        break_ = false;
        linesKnown_ = ModemLinesKnown(port_);
        warnedOffline_ = false;
        connectedAt_ = Clock::now();
        receivedMeter_.Reset(connectedAt_);
        sentMeter_.Reset(connectedAt_);
        if (reconnecting_) {
            display_.Status("reconnected to " + settings_.portName);
        } else {
            display_.Status("connected to " + settings_.portName + " at " +
                            DescribeLineSettings(settings_.line));
        }
    });
    port_.SetOnReceive([this](TTarnSerialPort*, std::string bytes) {
        // The screen shows the bytes mapped; the log and the chart take
        // them as they came.
        if (settings_.plotScreen != PlotMode::kOnly || plotScreen_ == nullptr) {
            display_.Data(ApplyMap(settings_.map.in, bytes));
        }
        if (settings_.log != nullptr) settings_.log->Write(bytes);
        if (settings_.plot != nullptr && settings_.plot->AddBytes(bytes) > 0 && plotScreen_) {
            plotScreen_->Changed();
        }
        receivedMeter_.Add(bytes.size(), Clock::now());
        received_ += bytes;
        if (received_.size() > 2 * kReceivedKept) {
            received_.erase(0, received_.size() - kReceivedKept);
        }
    });
    port_.SetOnLineStatusChange([this](TTarnSerialPort*, TLineStatusSet lines) {
        lineStatus_ = lines;
        display_.Status("modem lines " + DescribeModemLines(lines));
    });
    port_.SetOnFault([this](TTarnSerialPort*, TCommPort) {
        display_.Status(settings_.portName + " was removed");
    });
    port_.SetOnDisconnect([this](TTarnSerialPort*, TCommPort) {
        lineStatus_ = TLineStatusSet();
        // This may run inside a step of the send, which ends it after.
        if (fileSend_) fileSend_->lost = true;
        display_.Status("disconnected from " + settings_.portName);
        if (!closing_ && !changingRate_) ConnectionLost();
    });
}

void Terminal::Detach() {
    port_.SetOnConnect(nullptr);
    port_.SetOnReceive(nullptr);
    port_.SetOnLineStatusChange(nullptr);
    port_.SetOnFault(nullptr);
    port_.SetOnDisconnect(nullptr);
    tarn::host::SetWakeMainThread({});
}

OpenOutcome Terminal::Connect() {
    closing_ = false;
    return OpenWantedPort(port_, Wanted(), settings_.portName, settings_.line);
}

void Terminal::WaitForPort() {
    waiting_ = true;
    nextAttempt_ = Clock::now() + kPortRetryPeriod;
    display_.Status("waiting for " + Wanted() + " to appear; Ctrl-T q quits");
}

const std::string& Terminal::Wanted() const {
    return settings_.portSpec.empty() ? settings_.portName : settings_.portSpec;
}

void Terminal::Close() {
    closing_ = true;
    waiting_ = false;
    port_.Close();
}

void Terminal::Finish(int status) {
    if (finished_) return;
    finished_ = true;
    exitStatus_ = status;
}

void Terminal::ConnectionLost() {
    if (settings_.reconnect) {
        waiting_ = true;
        reconnecting_ = true;
        nextAttempt_ = Clock::now();
        display_.Status("waiting for " + Wanted() + " to come back; Ctrl-T q quits");
        return;
    }
    display_.Status(
        "the connection is lost; start tarnterm with --reconnect to wait for "
        "the device to come back");
    Finish(kExitFailure);
}

void Terminal::TryReconnect() {
    if (!waiting_ || Clock::now() < nextAttempt_) return;
    nextAttempt_ = Clock::now() + kPortRetryPeriod;
    // Whatever keeps it away, the next attempt follows.
    if (OpenWantedPort(port_, Wanted(), settings_.portName, settings_.line).status == kExitOk) {
        waiting_ = false;
    }
}

void Terminal::Service(int waitMs) {
    // A file send goes on without waiting.
    tarn::host::CheckSynchronize(fileSend_ ? 0 : waitMs);
    // Before a reconnection, so that a send whose connection went ends.
    if (fileSend_) ContinueFileSend();
    TryReconnect();
    if (plotScreen_) plotScreen_->Service();
}

void Terminal::ShowBanner() {
    display_.Status("Ctrl-T is the menu key: Ctrl-T h for help, Ctrl-T q to quit");
    if (demo_ != nullptr) {
        display_.Status("type *IDN?, MEAS?, STREAM ON, STREAM OFF, RING or HELP and Enter;");
        display_.Status("Ctrl-T p pulls the instrument's plug");
    }
}

int Terminal::Run() {
    ShowBanner();
    while (!finished_) {
        int waitMs = kIdleWaitMs;
        if (waiting_) {
            const auto untilAttempt =
                std::chrono::ceil<std::chrono::milliseconds>(nextAttempt_ - Clock::now());
            waitMs = static_cast<int>(
                std::clamp<std::chrono::milliseconds::rep>(untilAttempt.count(), 0, waitMs));
        }
        if (plotScreen_ && plotScreen_->MsUntilDue() >= 0) {
            waitMs = std::min(waitMs, plotScreen_->MsUntilDue());
        }
        if (fileSend_) waitMs = 0;
        std::string keys;
        const bool inputOpen = console_.ReadKeys(keys, waitMs);
        Service(0);
        HandleKeys(keys);
        if (!inputOpen) {
            const int signal = console_.StopSignal();
            Finish(signal != 0 ? kExitSignalBase + signal : kExitOk);
        }
    }
    Close();
    return exitStatus_;
}

bool Terminal::RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const Clock::time_point deadline = Clock::now() + limit;
    while (!done()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0 || StopSignal() != 0) return false;
        Service(static_cast<int>(std::min<std::chrono::milliseconds::rep>(left.count(), 20)));
    }
    return true;
}

void Terminal::HandleKeys(const std::string& keys) {
    std::string typed;
    for (char key : keys) {
        if (finished_) break;
        if (entry_ != Entry::kNone) {
            EntryKey(key);
        } else if (fileSend_) {
            KeyWhileSending(key);
        } else if (menuPending_) {
            menuPending_ = false;
            // What was typed before the menu key goes out first.
            SendTyped(std::exchange(typed, std::string()));
            MenuCommand(key);
        } else if (key == kMenuKey) {
            menuPending_ = true;
        } else if (key == '\r') {
            typed += EnterKeyBytes(settings_.enter);
        } else {
            typed += key;
        }
    }
    SendTyped(typed);
}

void Terminal::SendTyped(const std::string& bytes) {
    if (bytes.empty()) return;
    if (!Connected()) {
        if (!warnedOffline_) display_.Status("not connected; typed keys are not sent");
        warnedOffline_ = true;
        return;
    }
    if (settings_.echo) {
        // Whatever Enter sends, the echo moves to a new line once.
        std::string shown;
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
            shown += bytes[i] == '\r' ? '\n' : bytes[i];
        }
        display_.Text(shown);
    }
    const std::string out = ApplyMap(settings_.map.out, bytes);
    std::string error;
    const std::size_t sent = SendAll(port_, out, 4096, {}, error);
    sentMeter_.Add(sent, Clock::now());
    if (sent < out.size()) display_.Status("sending failed: " + error);
}

void Terminal::KeyWhileSending(char key) {
    if (key == kMenuKey) {
        // What the driver still holds would go on for a while.
        port_.ClearOutputBuffer();
        EndFileSend("sending " + fileSend_->path + " cancelled after " +
                    std::to_string(fileSend_->transfer.Sent()) + " of " +
                    std::to_string(fileSend_->transfer.Size()) + " bytes");
        return;
    }
    if (!warnedSending_) {
        display_.Status("typed keys are not sent while a file is; Ctrl-T cancels the send");
    }
    warnedSending_ = true;
}

void Terminal::StartFileSend(const std::string& path) {
    if (!Connected()) {
        display_.Status("nothing sent: the port is not open");
        return;
    }
    std::string bytes;
    if (!ReadWholeFile(path, bytes)) {
        const std::string why = UnreadableFile(path);
        display_.Status((why.empty() ? "cannot read " + path : why) + "; nothing sent");
        return;
    }
    display_.Status("sending " + path + ", " + std::to_string(bytes.size()) +
                    " bytes; Ctrl-T cancels");
    warnedSending_ = false;
    fileSend_ = std::make_unique<FileSend>(port_, path, std::move(bytes), settings_.line.baud);
}

void Terminal::ContinueFileSend() {
    FileSend& send = *fileSend_;
    const auto failed = [&send](const std::string& why) {
        return "sending " + send.path + " failed after " + std::to_string(send.transfer.Sent()) +
               " of " + std::to_string(send.transfer.Size()) + " bytes: " + why;
    };
    if (send.lost || !Connected()) {
        EndFileSend(failed("the port closed while sending"));
        return;
    }
    const std::size_t before = send.transfer.Sent();
    send.transfer.Step();
    sentMeter_.Add(send.transfer.Sent() - before, Clock::now());
    switch (send.transfer.Now()) {
        case Transfer::State::kWriting:
        case Transfer::State::kDraining: {
            const std::string bar = send.pace.Next(send.transfer.Sent());
            if (!bar.empty()) display_.Progress(bar);
            return;
        }
        case Transfer::State::kDone:
            display_.Progress(send.pace.Final());
            EndFileSend("sent " + send.path + ", " + std::to_string(send.transfer.Size()) +
                        " bytes");
            return;
        case Transfer::State::kFailed:
            break;
    }
    EndFileSend(failed(send.transfer.Error()));
}

void Terminal::EndFileSend(const std::string& message) {
    fileSend_.reset();
    display_.Status(message);
}

std::string Terminal::WhyLineIsFixed(const Flow* handshake) const {
    if (!Connected()) return "the port is not open";
    if (handshake != nullptr && settings_.line.flow == *handshake) {
        return std::string("the ") + FlowName(*handshake) + " flow control drives it";
    }
    return {};
}

void Terminal::SetLine(const char* name, bool& state, bool (TTarnSerialPort::*set)(bool),
                       void (TTarnSerialPort::*keep)(bool), const Flow* handshake) {
    const std::string cannot = std::string(name) + " could not be changed: ";
    const std::string fixed = WhyLineIsFixed(handshake);
    if (!fixed.empty()) {
        display_.Status(cannot + fixed);
        return;
    }
    if (!(port_.*set)(!state)) {
        display_.Status(cannot + "the driver says: " + LastDriverError());
        return;
    }
    state = !state;
    if (keep != nullptr) (port_.*keep)(state);
    display_.Status(std::string(name) + " " + OnOff(state));
}

void Terminal::TimedBreak() {
    if (break_) {
        display_.Status("the break is on already; Ctrl-T b ends it");
        return;
    }
    std::string error;
    if (!SendBreak(port_, settings_.breakMs, error)) {
        display_.Status("the break could not be sent: " + error);
        return;
    }
    display_.Status("break sent, " + std::to_string(settings_.breakMs) + " ms");
}

void Terminal::Pulse(const char* name, bool state, bool (TTarnSerialPort::*set)(bool),
                     const Flow* handshake) {
    const std::string cannot = std::string(name) + " could not be pulsed: ";
    std::string why = WhyLineIsFixed(handshake);
    if (why.empty() && PulseLine(port_, set, !state, settings_.pulseMs, why)) {
        display_.Status(std::string(name) + " " + OnOff(!state) + " for " +
                        std::to_string(settings_.pulseMs) + " ms, then " + OnOff(state) + " again");
        return;
    }
    display_.Status(cannot + why);
}

void Terminal::ShowCounters() {
    const Clock::time_point now = Clock::now();
    std::string text = "received " + std::to_string(receivedMeter_.Total()) + " bytes (" +
                       RateText(receivedMeter_.Rate(now)) + "), sent " +
                       std::to_string(sentMeter_.Total()) + " bytes (" +
                       RateText(sentMeter_.Rate(now)) + "), ";
    if (Connected()) {
        text += "since connected " + DurationText(now - connectedAt_) + " ago";
    } else if (connectedAt_ == Clock::time_point()) {
        text += "not connected yet";
    } else {
        text += "in the last connection; not connected now";
    }
    display_.Status(text);
}

const char* Terminal::LineState(bool on, const Flow* handshake) const {
    if (handshake != nullptr && settings_.line.flow == *handshake) return "flow";
    return Connected() && linesKnown_ ? OnOff(on) : "?";
}

void Terminal::ShowLines() {
    TLineStatusSet lines;
    if (port_.GetCTS()) lines.Include(lsCTS);
    if (port_.GetDSR()) lines.Include(lsDSR);
    if (port_.GetRING()) lines.Include(lsRING);
    if (port_.GetDCD()) lines.Include(lsDCD);
    display_.Status(std::string("DTR=") + LineState(dtr_, &kDtrHandshake) +
                    " RTS=" + LineState(rts_, &kRtsHandshake) + " break=" + OnOff(break_) + "; " +
                    DescribeModemLines(lines, Connected() && linesKnown_) + "; " +
                    DescribeLineSettings(settings_.line) + (Connected() ? "" : "; not connected"));
}

// The keys are lower case; the menu takes letters in either case.
struct Terminal::MenuEntry {
    // The keys that choose the entry, all named in the help.
    const char* keys;
    // What the help says after the keys.
    const char* help;
    // Only with the demo instrument, and then on a help line of its own.
    bool demoOnly;
    // `key` is the key as typed.
    void (*run)(Terminal& terminal, char key);
};

// In the order of the help.
const Terminal::MenuEntry Terminal::kMenuEntries[] = {
    {"d", "DTR on or off", false,
     [](Terminal& t, char) {
         t.SetLine("DTR", t.dtr_, &TTarnSerialPort::SetDTR, &TTarnSerialPort::SetEnableDTROnOpen,
                   &kDtrHandshake);
     }},
    {"r", "RTS on or off", false,
     [](Terminal& t, char) {
         t.SetLine("RTS", t.rts_, &TTarnSerialPort::SetRTS, &TTarnSerialPort::SetEnableRTSOnOpen,
                   &kRtsHandshake);
     }},
    {"b", "break on or off", false,
     [](Terminal& t, char) {
         t.SetLine("break", t.break_, &TTarnSerialPort::SetBreak, nullptr, nullptr);
     }},
    {"t", "timed break", false, [](Terminal& t, char) { t.TimedBreak(); }},
    {"u", "pulse DTR or RTS", false, [](Terminal& t, char) { t.StartEntry(Entry::kPulseLine); }},
    {"l", "lines and settings", false, [](Terminal& t, char) { t.ShowLines(); }},
    {"+-", "rate up or down", false,
     [](Terminal& t, char key) { t.StepRate(key == '+' ? 1 : -1); }},
    {"s", "type a rate", false, [](Terminal& t, char) { t.StartEntry(Entry::kRate); }},
    {"f", "send a file", false,
     [](Terminal& t, char) {
         if (t.Connected()) {
             t.StartEntry(Entry::kFileName);
         } else {
             t.display_.Status("no file can be sent: the port is not open");
         }
     }},
    {"n", "bytes received and sent", false, [](Terminal& t, char) { t.ShowCounters(); }},
    {"v", "display form", false, [](Terminal& t, char) { t.NextDisplayMode(); }},
    {"e", "what Enter sends", false, [](Terminal& t, char) { t.NextEnterKey(); }},
    {"c", "local echo", false,
     [](Terminal& t, char) {
         t.settings_.echo = !t.settings_.echo;
         t.display_.Status(std::string("local echo ") + OnOff(t.settings_.echo));
     }},
    {"qx", "quit", false, [](Terminal& t, char) { t.Finish(kExitOk); }},
    {kMenuKeyOnly, "send Ctrl-T", false,
     [](Terminal& t, char key) { t.SendTyped(std::string(1, key)); }},
    {"h?", "this help", false, [](Terminal& t, char) { t.ShowHelp(); }},
    {"p", "pull the instrument's plug or put it back", true,
     [](Terminal& t, char) { t.TogglePlug(); }},
};

void Terminal::MenuCommand(char key) {
    const char lower = key >= 'A' && key <= 'Z' ? static_cast<char>(key - 'A' + 'a') : key;
    for (const MenuEntry& entry : kMenuEntries) {
        if (entry.demoOnly && demo_ == nullptr) continue;
        if (std::string_view(entry.keys).find(lower) != std::string_view::npos) {
            entry.run(*this, key);
            return;
        }
    }
    display_.Status("that is no menu key; Ctrl-T h lists them");
}

void Terminal::ShowHelp() {
    // "q or x  quit" in columns as wide as the widest, as many as fit the
    // screen's width after the status prefix and an indent.
    std::vector<std::string> cells;
    std::size_t width = 0;
    for (const MenuEntry& entry : kMenuEntries) {
        if (entry.demoOnly) continue;
        cells.push_back(KeyNames(entry.keys) + "  " + entry.help);
        width = std::max(width, cells.back().size());
    }
    constexpr std::size_t kIndent = 2;
    constexpr std::size_t kGap = 3;
    const std::size_t room = kScreenColumns - Display::kStatusPrefixWidth - kIndent + kGap;
    const std::size_t columns = std::max<std::size_t>(1, room / (width + kGap));
    display_.Status("after " + KeyNames(kMenuKeyOnly) + " (letters in either case):");
    for (std::size_t row = 0; row * columns < cells.size(); ++row) {
        std::string line(kIndent, ' ');
        for (std::size_t i = row * columns; i < std::min(cells.size(), (row + 1) * columns); ++i) {
            if (i > row * columns) line.resize(kIndent + (i - row * columns) * (width + kGap), ' ');
            line += cells[i];
        }
        display_.Status(line);
    }
    if (demo_ == nullptr) return;
    for (const MenuEntry& entry : kMenuEntries) {
        if (entry.demoOnly) {
            display_.Status(std::string(kIndent, ' ') + KeyNames(entry.keys) + "  " + entry.help);
        }
    }
}

void Terminal::NextDisplayMode() {
    const DisplayMode next = display_.Mode() == DisplayMode::kRaw     ? DisplayMode::kNames
                             : display_.Mode() == DisplayMode::kNames ? DisplayMode::kHex
                                                                      : DisplayMode::kRaw;
    display_.SetMode(next);
    display_.Status(std::string("display ") + DisplayModeName(next));
}

void Terminal::NextEnterKey() {
    settings_.enter = settings_.enter == EnterKey::kCrLf ? EnterKey::kCr
                      : settings_.enter == EnterKey::kCr ? EnterKey::kLf
                                                         : EnterKey::kCrLf;
    display_.Status(std::string("Enter sends ") + EnterKeyName(settings_.enter));
}

void Terminal::TogglePlug() {
    if (demo_->Plugged()) {
        demo_->Unplug();
        display_.Status("instrument unplugged");
    } else {
        demo_->Plug();
        display_.Status("instrument plugged back in");
    }
}

struct Terminal::EntryWords {
    const char* prompt;
    // Said, and the prompt asked again, for a key that the entry does not
    // take.
    const char* refusal;
    // Said when the entry is cancelled or left empty.
    const char* unchanged;
};

const Terminal::EntryWords& Terminal::WordsOf(Entry entry) {
    static const EntryWords kRate = {"rate in bit/s (Enter applies, Esc cancels): ",
                                     "a rate is digits only; Enter applies, Esc cancels",
                                     "rate unchanged"};
    static const EntryWords kFileName = {
        "file to send (Enter sends, Esc cancels): ",
        "a file name has no control characters; Enter sends, Esc cancels", "no file sent"};
    static const EntryWords kPulseLine = {
        "pulse d DTR or r RTS (Esc cancels): ", "d pulses DTR, r RTS; Esc cancels", "no pulse"};
    return entry == Entry::kRate ? kRate : entry == Entry::kFileName ? kFileName : kPulseLine;
}

void Terminal::StartEntry(Entry entry) {
    entry_ = entry;
    entryText_.clear();
    display_.Prompt(WordsOf(entry).prompt);
}

bool Terminal::EntryTakes(char key) const {
    const unsigned char byte = static_cast<unsigned char>(key);
    switch (entry_) {
        case Entry::kRate:
            return key >= '0' && key <= '9';
        case Entry::kFileName:
            // UTF-8 bytes of a name too.
            return byte >= 0x20 && key != kDelete;
        case Entry::kPulseLine:
            return key == 'd' || key == 'D' || key == 'r' || key == 'R';
        case Entry::kNone:
            break;
    }
    return false;
}

void Terminal::EntryKey(char key) {
    const EntryWords& words = WordsOf(entry_);
    if (EntryTakes(key)) {
        // Nine digits are more than any rate.
        if (entry_ == Entry::kRate && entryText_.size() >= 9) return;
        entryText_ += key;
        display_.Text(std::string(1, key));
        // A line to pulse is one key, without Enter.
        if (entry_ == Entry::kPulseLine) FinishEntry(entryText_);
    } else if (key == kBackspace || key == kDelete) {
        if (entryText_.empty()) return;
        // A character of a name may be several bytes of UTF-8.
        while (entryText_.size() > 1 &&
               (static_cast<unsigned char>(entryText_.back()) & 0xC0) == 0x80) {
            entryText_.pop_back();
        }
        entryText_.pop_back();
        display_.Text("\b \b");
    } else if (key == '\r' || key == '\n') {
        FinishEntry(entryText_);
    } else if (key == kEscape || key == '\x03') {
        FinishEntry({});
    } else {
        // The prompt is asked again below the word, with what was typed.
        display_.Status(words.refusal);
        display_.Prompt(words.prompt + entryText_);
    }
}

void Terminal::FinishEntry(const std::string& text) {
    const Entry entry = std::exchange(entry_, Entry::kNone);
    display_.Text("\n");
    if (text.empty()) {
        display_.Status(WordsOf(entry).unchanged);
        return;
    }
    std::int32_t baud = 0;
    std::string why;
    switch (entry) {
        case Entry::kRate:
            if (ParseRate(text, baud, why)) {
                ChangeRate(baud);
            } else {
                display_.Status(text + " bit/s " + why + "; rate unchanged");
            }
            return;
        case Entry::kFileName:
            StartFileSend(text);
            return;
        case Entry::kPulseLine:
            if (text == "d" || text == "D") {
                Pulse("DTR", dtr_, &TTarnSerialPort::SetDTR, &kDtrHandshake);
            } else {
                Pulse("RTS", rts_, &TTarnSerialPort::SetRTS, &kRtsHandshake);
            }
            return;
        case Entry::kNone:
            break;
    }
}

void Terminal::StepRate(int direction) {
    const std::int32_t now = settings_.line.baud;
    std::int32_t next = now;
    if (direction > 0) {
        const auto* up =
            std::upper_bound(std::begin(kStandardRates), std::end(kStandardRates), now);
        if (up != std::end(kStandardRates)) next = *up;
    } else {
        const auto* down =
            std::lower_bound(std::begin(kStandardRates), std::end(kStandardRates), now);
        if (down != std::begin(kStandardRates)) next = *(down - 1);
    }
    if (next == now) {
        display_.Status("rate " + std::to_string(now) + " bit/s is the " +
                        (direction > 0 ? "highest" : "lowest") +
                        " in the menu; Ctrl-T s "
                        "takes any rate");
        return;
    }
    ChangeRate(next);
}

void Terminal::ChangeRate(std::int32_t baud) {
    const std::int32_t old = settings_.line.baud;
    settings_.line.baud = baud;
    if (!Connected()) {
        SetLineRate(port_, baud);
        display_.Status("rate " + std::to_string(baud) + " bit/s from the next connection");
        return;
    }
    // A rate that the driver refuses makes the component close the port.
    changingRate_ = true;
    SetLineRate(port_, baud);
    changingRate_ = false;
    if (Connected()) {
        display_.Status("rate " + DescribeLineSettings(settings_.line));
        return;
    }
    display_.Status(settings_.portName + " refused " + std::to_string(baud) + " bit/s; back to " +
                    std::to_string(old));
    settings_.line.baud = old;
    SetLineRate(port_, old);
    const OpenOutcome reopened = Connect();
    if (reopened.status != kExitOk) {
        display_.Status(reopened.message);
        ConnectionLost();
    }
}

}  // namespace tarnterm
