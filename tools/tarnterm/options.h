// The command line of tarnterm: what the user asked for, checked before any
// port is touched, so that a wrong setting is reported as such and not as a
// failure of the device.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "serial_types.h"

namespace tarnterm {

enum class Flow { kNone, kRtsCts, kDtrDsr, kXonXoff };
// What the Enter key sends.
enum class EnterKey { kCr, kLf, kCrLf };
// How received bytes are shown: as they are, with control characters named,
// or as hexadecimal.
enum class DisplayMode { kRaw, kNames, kHex };

struct LineSettings {
    std::int32_t baud = 115200;
    TDataWidth dataBits = dw8Bits;
    TParityBits parity = pbNone;
    TStopBits stopBits = sb1Bit;
    Flow flow = Flow::kNone;
    // The component's poll period in milliseconds. At 50 and above the
    // component also notices a device that has been pulled out.
    std::uint32_t delayMs = 50;
};

// One step of a script run without a terminal, in command-line order.
struct Step {
    enum class Kind { kSend, kSendFile, kExpect, kReadLine };
    Kind kind;
    // The bytes to send or to wait for (escapes already decoded), or the
    // file to send.
    std::string text;
};

enum class Mode { kHelp, kVersion, kList, kWatch, kConnect };

struct Options {
    Mode mode = Mode::kConnect;
    bool json = false;
    bool demo = false;
    // --remote: the demo reached through a server of its own on loopback.
    bool remote = false;
    // --serve: the demo served on serveHost:servePort (0: any free port),
    // without a terminal.
    bool serve = false;
    std::string serveHost = "127.0.0.1";
    std::uint16_t servePort = 0;
    std::string port;
    LineSettings line;
    EnterKey enter = EnterKey::kCrLf;
    DisplayMode display = DisplayMode::kRaw;
    bool echo = false;
    std::string logFile;
    bool timestamps = false;
    bool reconnect = false;
    std::vector<Step> steps;
    double timeoutSeconds = 10.0;
    // --timeout was given, which only a step that waits can use.
    bool timeoutGiven = false;
};

struct ParseResult {
    bool ok = false;
    Options options;
    // One line that says what is wrong and what to try instead.
    std::string error;
};

// `args` without the program name.
ParseResult ParseCommandLine(const std::vector<std::string>& args);

// Decodes \r \n \t \e \0 \\ and \xHH in `text`. False, with `error` set,
// for an unknown or unfinished escape.
bool DecodeEscapes(const std::string& text, std::string& bytes, std::string& error);

// "115200 8N1, flow none"
std::string DescribeLineSettings(const LineSettings& line);
const char* EnterKeyName(EnterKey enter);
const char* DisplayModeName(DisplayMode mode);
// The bytes that the Enter key sends.
std::string EnterKeyBytes(EnterKey enter);

std::string UsageText();

}  // namespace tarnterm
