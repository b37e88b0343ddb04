#include "display.h"

#include <cstdio>
#include <utility>

#include "Tarnserialport.h"
#include "frames.h"
#include "host_strings.h"

namespace tarnterm {
namespace {

constexpr int kHexBytesPerLine = 16;
constexpr char kStatusPrefix[] = "[tarnterm] ";
// Cyan, and back to the terminal's own colour.
constexpr char kStatusColor[] = "\x1b[36m";
constexpr char kPlainColor[] = "\x1b[0m";
static_assert(sizeof kStatusPrefix - 1 == Display::kStatusPrefixWidth);
constexpr int kProgressBarWidth = 24;

std::string FormatAmount(double bytes) {
    char text[32];
    if (bytes < 1024) {
        std::snprintf(text, sizeof text, "%.0f B", bytes);
    } else if (bytes < 1024.0 * 1024) {
        std::snprintf(text, sizeof text, "%.1f KiB", bytes / 1024);
    } else {
        std::snprintf(text, sizeof text, "%.1f MiB", bytes / (1024.0 * 1024));
    }
    return text;
}

}  // namespace

Display::Display(Writer write, Namer nameControls, DisplayMode mode)
    : write_(std::move(write)), nameControls_(std::move(nameControls)), mode_(mode) {}

void Display::SetMode(DisplayMode mode) {
    if (mode == mode_) return;
    // A hex line is not carried on in another form.
    if (!atLineStart_) Emit("\n");
    hexColumn_ = 0;
    mode_ = mode;
}

void Display::Emit(const std::string& text) {
    if (text.empty()) return;
    if (progressOpen_) {
        progressOpen_ = false;
        if (text.front() != '\n') write_("\n");
    }
    atLineStart_ = text.back() == '\n';
    write_(text);
}

void Display::EmitData(const std::string& shown) {
    if (stamper_ == nullptr) return Emit(shown);
    bool lineStart = atLineStart_;
    Emit(stamper_->Stamp(shown, lineStart));
}

void Display::Data(const std::string& bytes) {
    switch (mode_) {
        case DisplayMode::kRaw:
            EmitData(bytes);
            return;
        case DisplayMode::kNames: {
            // The names keep every byte visible; a line feed still ends the
            // line on the screen, after its name.
            std::string named = nameControls_(bytes);
            std::string shown;
            std::size_t from = 0;
            for (std::size_t at = named.find("<LF>"); at != std::string::npos;
                 at = named.find("<LF>", from)) {
                shown.append(named, from, at + 4 - from);
                shown += '\n';
                from = at + 4;
            }
            shown.append(named, from, std::string::npos);
            EmitData(shown);
            return;
        }
        case DisplayMode::kHex: {
            static const char kDigits[] = "0123456789ABCDEF";
            std::string shown;
            for (unsigned char byte : bytes) {
                if (hexColumn_ > 0) shown += ' ';
                shown += kDigits[byte >> 4];
                shown += kDigits[byte & 15];
                ++hexColumn_;
                if (hexColumn_ == kHexBytesPerLine || byte == '\n') {
                    shown += '\n';
                    hexColumn_ = 0;
                }
            }
            EmitData(shown);
            return;
        }
    }
}

void Display::Frame(const std::string& frame) {
    if (!atLineStart_) Emit("\n");
    hexColumn_ = 0;
    EmitData(FrameText(mode_, frame, nameControls_) + "\n");
}

void Display::Text(const std::string& text) {
    if (mode_ == DisplayMode::kHex && hexColumn_ > 0) {
        Emit("\n");
        hexColumn_ = 0;
    }
    Emit(text);
}

void Display::Status(const std::string& text) { Prompt(text + "\n"); }

void Display::Prompt(const std::string& text) {
    std::string line;
    if (!atLineStart_) line += '\n';
    hexColumn_ = 0;
    // The colour ends before a line break, so that a terminal does not
    // carry it into the next line.
    const std::size_t end = !text.empty() && text.back() == '\n' ? text.size() - 1 : text.size();
    if (color_) line += kStatusColor;
    line += kStatusPrefix + TerminalSafe(text.substr(0, end));
    if (color_) line += kPlainColor;
    line += text.substr(end);
    Emit(line);
}

std::string TerminalSafe(const std::string& text) {
    // Through UTF-16 and back, a byte that is not UTF-8 becomes U+FFFD, so
    // that a stray 0x9B cannot act as CSI on a terminal of 8-bit controls.
    const std::string utf8 = tarn::host::UnicodeToUtf8(tarn::host::Utf8ToUnicode(text));
    std::string shown;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const auto byte = static_cast<unsigned char>(utf8[i]);
        const auto next = i + 1 < utf8.size() ? static_cast<unsigned char>(utf8[i + 1]) : 0;
        if (byte == 0x7f) {
            shown += "<DEL>";
        } else if (byte == 0xc2 && next >= 0x80 && next <= 0x9f) {
            // U+0080 to U+009F, the C1 controls, in UTF-8.
            char name[16];
            std::snprintf(name, sizeof name, "<U+%04X>", static_cast<unsigned>(next));
            shown += name;
            ++i;
        } else {
            shown += utf8[i];
        }
    }
    // The bytes below 0x20 are named as the terminal's names mode and the
    // script's messages name them.
    const TTarnSerialPort namer;
    return namer.ReplaceControlChars(shown);
}

void Display::Progress(const std::string& text) {
    std::string shown = text;
    if (progressOpen_) {
        // Spaces cover the end of a longer line before.
        if (shown.size() < progressWidth_) shown.resize(progressWidth_, ' ');
        progressOpen_ = false;
        write_("\r");
        atLineStart_ = true;
    }
    Prompt(shown);
    progressOpen_ = true;
    progressWidth_ = text.size();
}

bool ColorWanted(ColorChoice choice, bool screenIsTerminal, const char* noColor) {
    switch (choice) {
        case ColorChoice::kAlways:
            return true;
        case ColorChoice::kNever:
            return false;
        case ColorChoice::kAuto:
            break;
    }
    return screenIsTerminal && (noColor == nullptr || noColor[0] == '\0');
}

std::string DescribeModemLines(TLineStatusSet lines, bool known) {
    const std::pair<const char*, TLineStatus> kLines[] = {
        {"CTS", lsCTS}, {"DSR", lsDSR}, {"RING", lsRING}, {"DCD", lsDCD}};
    std::string text;
    for (const auto& [name, line] : kLines) {
        if (!text.empty()) text += ' ';
        text += std::string(name) + "=" + (!known ? "?" : lines.Contains(line) ? "on" : "off");
    }
    return text;
}

std::string FormatProgress(std::uint64_t done, std::uint64_t total, double elapsedSeconds) {
    const double fraction = total == 0 ? 1.0 : static_cast<double>(done) / total;
    const int filled = static_cast<int>(fraction * kProgressBarWidth);
    std::string bar =
        "[" + std::string(filled, '#') + std::string(kProgressBarWidth - filled, '-') + "]";
    char percent[16];
    std::snprintf(percent, sizeof percent, " %3d%%", static_cast<int>(fraction * 100));
    std::string text = bar + percent + "  " + FormatAmount(static_cast<double>(done)) + " of " +
                       FormatAmount(static_cast<double>(total));
    // A rate over the first instants says nothing.
    if (elapsedSeconds >= 0.05) {
        text += "  " + FormatAmount(done / elapsedSeconds) + "/s";
    }
    return text;
}

}  // namespace tarnterm
