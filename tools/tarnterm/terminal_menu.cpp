// The terminal's menu (the keys after the menu key), its entries of values,
// and what they drive: the modem lines, the rate, the counters and the help.
#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string_view>
#include <utility>
#include <vector>

#include "demo_instrument.h"
#include "terminal.h"

namespace tarnterm {
namespace {

using Clock = std::chrono::steady_clock;

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
