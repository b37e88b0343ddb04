// What the terminal shows: received data in the chosen form, and status
// lines that always stand on a line of their own, so that a modem-line
// change or a fault never lands in the middle of the data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "options.h"
#include "serial_types.h"
#include "stamps.h"

namespace tarnterm {

class Display {
public:
    // The width of "[tarnterm] ", which begins each status line.
    static constexpr std::size_t kStatusPrefixWidth = 11;

    using Writer = std::function<void(const std::string&)>;
    // Turns control characters into their names; the component's
    // ReplaceControlChars.
    using Namer = std::function<std::string(const std::string&)>;

    Display(Writer write, Namer nameControls, DisplayMode mode);

    DisplayMode Mode() const { return mode_; }
    void SetMode(DisplayMode mode);
    // Status lines in colour from now on, or not.
    void SetColor(bool on) { color_ = on; }
    // Stamps each line of received data from now on; none stamps nothing.
    // The stamper must outlive the display.
    void SetStamper(LineStamper* stamper) { stamper_ = stamper; }

    // Received bytes, in the current mode.
    void Data(const std::string& bytes);
    // One frame on a line of its own, in the current mode (FrameText).
    void Frame(const std::string& frame);
    // Text of the program's own that belongs to the data stream, such as
    // local echo: shown as it is.
    void Text(const std::string& text);
    // "[tarnterm] text" on a line of its own. The text may hold what came
    // from outside, such as a remote port's name, so it is shown
    // TerminalSafe; only the colours are the program's.
    void Status(const std::string& text);
    // "[tarnterm] text" at the start of a line, left open for an answer,
    // shown as Status shows it.
    void Prompt(const std::string& text);
    // "[tarnterm] text" left open, and drawn again in its place by the next
    // Progress as long as nothing else is shown meanwhile; anything else
    // first ends its line.
    void Progress(const std::string& text);

private:
    void Emit(const std::string& text);
    // Received data as shown, with the stamps of its lines.
    void EmitData(const std::string& shown);

    Writer write_;
    Namer nameControls_;
    DisplayMode mode_;
    LineStamper* stamper_ = nullptr;
    bool color_ = false;
    bool atLineStart_ = true;
    // The line of the last Progress is still open, this wide.
    bool progressOpen_ = false;
    std::size_t progressWidth_ = 0;
    int hexColumn_ = 0;
};

// Text that came from outside the program (a device's USB strings, a
// remote peer's name or words) as a terminal may show it: each control
// character named, so that nothing in it can move the cursor, change the
// colours or retitle the window. Bytes below 0x20 get the names of the
// component's ReplaceControlChars ("<ESC>"), DEL is "<DEL>", a C1 control
// is "<U+009B>", and bytes that are not UTF-8 become U+FFFD.
std::string TerminalSafe(const std::string& text);

// Whether status lines are to be in colour: `choice`, where auto means on
// a terminal screen, unless the NO_COLOR convention's variable holds
// anything (`noColor` is its value, or none). --color always wins over it.
bool ColorWanted(ColorChoice choice, bool screenIsTerminal, const char* noColor);

// "CTS=on DSR=on RING=off DCD=off"; "CTS=? DSR=? RING=? DCD=?" when the
// lines are not `known`.
std::string DescribeModemLines(TLineStatusSet lines, bool known = true);

// One line of a progress bar, without line break: bar, percentage, amount
// and rate, such as "[#####-----]  50%  1.0 KiB of 2.0 KiB  960 B/s".
std::string FormatProgress(std::uint64_t done, std::uint64_t total, double elapsedSeconds);

}  // namespace tarnterm
