// The command line of tarnterm: what the user asked for, checked before any
// port is touched, so that a wrong setting is reported as such and not as a
// failure of the device.
#pragma once

#include <cstdint>
#include <map>
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
// --color: status lines in colour on a terminal screen (auto), always or
// never.
enum class ColorChoice { kAuto, kAlways, kNever };
// What stands before each line of received data: nothing, the local time,
// or the time since the line before.
enum class StampKind { kNone, kAbsolute, kDelta };

// --plot: no live chart, a chart above the received text, or the chart
// instead of the text.
enum class PlotMode { kNone, kWithText, kOnly };
// --plot-scale: one scale for all series, or each series on its own range.
enum class PlotScale { kShared, kEach };

// What CR and LF become in one direction: each is replaced by its text
// (empty drops it). Each byte is mapped once, so no rule acts on what
// another made.
struct ByteMap {
    std::string cr = "\r";
    std::string lf = "\n";
    bool ChangesNothing() const { return cr == "\r" && lf == "\n"; }
};
// --map: received bytes before the screen, sent bytes as they leave (after
// the Enter key became its bytes).
struct LineEndMaps {
    ByteMap in;
    ByteMap out;
};

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

// --frame and --max-frame: how the component cuts received bytes into
// frames and how --send-frame sends one; frNone for no frames.
struct FrameSettings {
    TFraming framing = frNone;
    // frDelimiter: the bytes that end a frame, escapes decoded; empty for
    // the NewLine, CR LF.
    std::string delimiter;
    // frFixedLength: the bytes of each frame.
    std::uint32_t length = 0;
    TFrameLengthField lengthField = lf8Bit;
    // frSilence: the quiet time that ends a frame; 0 for 3.5 character
    // times at the line settings.
    std::uint32_t gapMs = 0;
    // The longest frame; 0 for the component's own limit.
    std::uint32_t maxLength = 0;
    // Frames that are text: shown as --display says. The others show in
    // hexadecimal unless --display is given.
    bool IsText() const { return framing == frDelimiter; }
};

// One step of a script run without a terminal, in command-line order.
struct Step {
    enum class Kind {
        kSend,
        kSendFile,
        kExpect,
        kReadLine,
        kSendBreak,
        kPulse,
        kSendFrame,
        kExpectFrame
    };
    Kind kind;
    // The bytes to send or to wait for (escapes already decoded), the file
    // to send, or the line to pulse ("DTR", "RTS"); nothing for the others.
    // For kExpectFrame the frame awaited; empty for any frame, which is
    // printed.
    std::string text;
    // The length of a pulse in milliseconds; 0 for the --pulse-ms.
    std::uint32_t ms = 0;
};

enum class Mode { kHelp, kVersion, kList, kWatch, kConnect, kReplayCheck };

struct Options {
    Mode mode = Mode::kConnect;
    // The profile that the command line named, if any.
    std::string profile;
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
    // --replay-check: the recording to replay against itself.
    std::string replayFile;
    LineSettings line;
    EnterKey enter = EnterKey::kCrLf;
    DisplayMode display = DisplayMode::kRaw;
    // --display was given; without it, frames that are not text show in
    // hexadecimal.
    bool displayGiven = false;
    LineEndMaps map;
    ColorChoice color = ColorChoice::kAuto;
    bool echo = false;
    std::string logFile;
    // --record: the file that records each session of the port, if any.
    std::string recordFile;
    StampKind timestamps = StampKind::kNone;
    PlotMode plot = PlotMode::kNone;
    // --plot-out: the SVG file of the session's chart, if any.
    std::string plotOut;
    // --plot-columns: the places of the numbers charted in each line, from
    // 1, in rising order; empty for the first PlotSeries::kMostSeries.
    std::vector<std::size_t> plotColumns;
    PlotScale plotScale = PlotScale::kShared;
    FrameSettings frame;
    bool reconnect = false;
    // The length of a timed break (the menu's and --send-break), in
    // milliseconds.
    std::uint32_t breakMs = 250;
    // The length of a pulse of DTR or RTS (the menu's and --pulse without
    // its own), in milliseconds.
    std::uint32_t pulseMs = 100;
    std::vector<Step> steps;
    double timeoutSeconds = 10.0;
    // A wait that times out shows all it received, not only the tail.
    bool verbose = false;
    // --timeout was given, which only a step that waits can use.
    bool timeoutGiven = false;
};

struct ParseResult {
    bool ok = false;
    Options options;
    // One line that says what is wrong and what to try instead.
    std::string error;
};

// Named sets of arguments: the profiles of the configuration file.
using Profiles = std::map<std::string, std::vector<std::string>>;

// `args` without the program name. A port argument that names one of
// `profiles` stands for the profile's arguments, which are read before all
// the others, so that the command line has the last word.
ParseResult ParseCommandLine(const std::vector<std::string>& args, const Profiles& profiles = {});

// The argument that an entry of a profile stands for: an option's long name
// without its dashes, with `value` when `hasValue` ("baud = 9600" gives
// "--baud=9600", "echo" gives "--echo"). The value is checked as the
// command line checks it. False, with `error` saying what is wrong in one
// line, for an option that does not exist, a value that is missing (a
// profile's line never takes the next one for it), given to a flag, or
// refused.
bool ProfileArgument(const std::string& name, bool hasValue, const std::string& value,
                     std::string& argument, std::string& error);

// The lowest rate taken, from the command line and the menu alike: the
// slowest lines ever run at 50 bit/s, and a rate below is a slip.
constexpr std::int32_t kLowestRate = 50;
// Reads a rate in bits per second. False for anything but up to nine
// digits, or a rate below kLowestRate, with `why` saying which, such as
// "is below the lowest rate, 50 bit/s".
bool ParseRate(const std::string& text, std::int32_t& baud, std::string& why);

// Decodes \r \n \t \e \0 \\ and \xHH in `text`. False, with `error` set,
// for an unknown or unfinished escape.
bool DecodeEscapes(const std::string& text, std::string& bytes, std::string& error);

// `bytes` with CR and LF replaced as `map` says.
std::string ApplyMap(const ByteMap& map, const std::string& bytes);

// "115200 8N1, flow none"
std::string DescribeLineSettings(const LineSettings& line);
const char* EnterKeyName(EnterKey enter);
// "none", "rtscts", "dtrdsr", "xonxoff", as --flow spells it.
const char* FlowName(Flow flow);
const char* DisplayModeName(DisplayMode mode);
// The bytes that the Enter key sends.
std::string EnterKeyBytes(EnterKey enter);

std::string UsageText();

}  // namespace tarnterm
