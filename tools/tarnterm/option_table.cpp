// The options of the command line, each with its spelling, its usage text and
// what it sets.
#include "option_table.h"

#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <iterator>

#include "frames.h"

namespace tarnterm {
namespace {

// A length of 1 to 10000 milliseconds, as digits.
bool ReadMilliseconds(const std::string& text, std::uint32_t& ms) {
    const long value = AllDigits(text) ? std::atol(text.c_str()) : 0;
    if (value < 1 || value > 10000) return false;
    ms = static_cast<std::uint32_t>(value);
    return true;
}

// Sets `setting` to the choice that `value` spells; false when none does.
template <typename T>
bool Choose(const std::string& value, std::initializer_list<std::pair<const char*, T>> choices,
            T& setting) {
    for (const auto& choice : choices) {
        if (value == choice.first) {
            setting = choice.second;
            return true;
        }
    }
    return false;
}

// --send, --expect and the frame steps: a step with the bytes of the value,
// escapes decoded. Only a frame may be empty.
bool AddTextStep(Options& o, const Argument& arg, Step::Kind kind, bool mayBeEmpty = false) {
    std::string bytes;
    std::string why;
    if (!DecodeEscapes(arg.value, bytes, why)) {
        return arg.Fail(arg.name + " '" + arg.value + "': " + why);
    }
    if (bytes.empty() && !mayBeEmpty) {
        return arg.Fail(arg.name + " needs at least one character, such as " + arg.name + " OK");
    }
    o.steps.push_back({kind, bytes});
    return true;
}

}  // namespace

// The whole table: as long as the list of options, which is the point of
// keeping them in one place.
const std::vector<OptionGroup>& OptionGroups() {
    static const std::vector<OptionGroup> groups = {
        {"Line settings",
         {
             {"-b", "--baud", "N", "115200",
              "bits per second (default 115200; any rate from 50\nthat the device takes)",
              [](Options& o, const Argument& arg) {
                  std::string why;
                  return ParseRate(arg.value, o.line.baud, why) ||
                         arg.Refuse(why + "; give bits per second, such as 9600 or 115200");
              }},
             {nullptr, "--data", "5|6|7|8", "8", "data bits (default 8)",
              [](Options& o, const Argument& arg) {
                  return Choose(arg.value,
                                {{"5", dw5Bits}, {"6", dw6Bits}, {"7", dw7Bits}, {"8", dw8Bits}},
                                o.line.dataBits) ||
                         arg.Refuse("is not a number of data bits; use 5, 6, 7 or 8");
              }},
             {nullptr, "--parity", "P", "none", "none, odd, even, mark or space (default none)",
              [](Options& o, const Argument& arg) {
                  return Choose(arg.value,
                                {{"none", pbNone},
                                 {"n", pbNone},
                                 {"odd", pbOdd},
                                 {"o", pbOdd},
                                 {"even", pbEven},
                                 {"e", pbEven},
                                 {"mark", pbMark},
                                 {"m", pbMark},
                                 {"space", pbSpace},
                                 {"s", pbSpace}},
                                o.line.parity) ||
                         arg.Refuse("is not a parity; use none, odd, even, mark or space");
              }},
             {nullptr, "--stop", "1|1.5|2", "1", "stop bits (default 1; 1.5 only with 5 data bits)",
              [](Options& o, const Argument& arg) {
                  return Choose(arg.value, {{"1", sb1Bit}, {"1.5", sb1_5Bits}, {"2", sb2Bits}},
                                o.line.stopBits) ||
                         arg.Refuse("is not a number of stop bits; use 1, 1.5 or 2");
              }},
             {nullptr, "--flow", "F", "none", "none, rtscts, dtrdsr or xonxoff (default none)",
              [](Options& o, const Argument& arg) {
                  return Choose(arg.value,
                                {{"none", Flow::kNone},
                                 {"rtscts", Flow::kRtsCts},
                                 {"hw", Flow::kRtsCts},
                                 {"dtrdsr", Flow::kDtrDsr},
                                 {"xonxoff", Flow::kXonXoff},
                                 {"sw", Flow::kXonXoff}},
                                o.line.flow) ||
                         arg.Refuse("is not a flow control; use none, rtscts, dtrdsr or xonxoff");
              }},
             {nullptr, "--delay", "MS", "50",
              "poll period in milliseconds (default 50; below 50 a\n"
              "pulled adapter is no longer noticed)",
              [](Options& o, const Argument& arg) {
                  const long ms = AllDigits(arg.value) ? std::atol(arg.value.c_str()) : 0;
                  if (ms < 1 || ms > 10000) {
                      return arg.Refuse(
                          "is not a poll period; give 1 to 10000 milliseconds, such as 50");
                  }
                  o.line.delayMs = static_cast<std::uint32_t>(ms);
                  return true;
              }},
         },
         nullptr},
        {"Terminal",
         {
             {nullptr, "--enter", "cr|lf|crlf", "crlf", "what the Enter key sends (default crlf)",
              [](Options& o, const Argument& arg) {
                  return Choose(arg.value,
                                {{"cr", EnterKey::kCr},
                                 {"lf", EnterKey::kLf},
                                 {"crlf", EnterKey::kCrLf}},
                                o.enter) ||
                         arg.Refuse("is not a line ending; use cr, lf or crlf");
              }},
             {nullptr, "--display", "MODE", "names",
              "raw, names (control characters as <CR> <LF> ...) or\n"
              "hex; frames but --frame delimiter show in hex unless\n"
              "it is given",
              [](Options& o, const Argument& arg) {
                  o.displayGiven = true;
                  return Choose(arg.value,
                                {{"raw", DisplayMode::kRaw},
                                 {"names", DisplayMode::kNames},
                                 {"hex", DisplayMode::kHex}},
                                o.display) ||
                         arg.Refuse("is not a display mode; use raw, names or hex");
              }},
             {nullptr, "--map", "RULES", "icrnl,onlcrnl",
              "change CR and LF received (icrnl CR to LF, igncr\n"
              "drop CR, inlcr LF to CR, inlcrlf LF to CR LF) or\n"
              "sent (ocrnl, ocrcrlf, onlcr, onlcrnl), such as\n"
              "--map icrnl,onlcrnl",
              ReadMap},
             {nullptr, "--color", "WHEN", "never",
              "status lines in colour: auto (on a terminal, unless\n"
              "NO_COLOR is set), always or never",
              [](Options& o, const Argument& arg) {
                  return Choose(arg.value,
                                {{"auto", ColorChoice::kAuto},
                                 {"always", ColorChoice::kAlways},
                                 {"never", ColorChoice::kNever}},
                                o.color) ||
                         arg.Refuse("is not a choice of colour; use auto, always or never");
              }},
             {nullptr, "--echo", nullptr, nullptr, "show typed keys locally",
              [](Options& o, const Argument&) {
                  o.echo = true;
                  return true;
              }},
             {nullptr, "--reconnect", nullptr, nullptr,
              "wait for a port that is not there yet (a script:\nwithin --timeout), and when the "
              "adapter is\npulled, wait and reopen it",
              [](Options& o, const Argument&) {
                  o.reconnect = true;
                  return true;
              }},
             {nullptr, "--break-ms", "MS", "500",
              "length of a timed break (Ctrl-T t, --send-break),\n1 to 10000 ms (default 250)",
              [](Options& o, const Argument& arg) {
                  return ReadMilliseconds(arg.value, o.breakMs) ||
                         arg.Refuse("is not a length; give 1 to 10000 milliseconds, such as 500");
              }},
             {nullptr, "--pulse-ms", "MS", "200",
              "length of a pulse of DTR or RTS (Ctrl-T u, --pulse),\n1 to 10000 ms (default 100)",
              [](Options& o, const Argument& arg) {
                  return ReadMilliseconds(arg.value, o.pulseMs) ||
                         arg.Refuse("is not a length; give 1 to 10000 milliseconds, such as 200");
              }},
             {nullptr, "--log", "FILE", "traffic.log",
              "append received data to FILE (the traffic log)",
              [](Options& o, const Argument& arg) {
                  if (arg.value.empty()) {
                      return arg.Fail(arg.name + " needs a file name, such as " + arg.name +
                                      " traffic.log");
                  }
                  o.logFile = arg.value;
                  return true;
              }},
             {nullptr, "--record", "FILE", "session.jsonl",
              "record the session to FILE, one JSON line per event\n"
              "(bytes both ways, settings, lines, purges); each\n"
              "opening of the port, a --reconnect too, starts it\nafresh",
              [](Options& o, const Argument& arg) {
                  if (arg.value.empty()) {
                      return arg.Fail(arg.name + " needs a file name, such as " + arg.name +
                                      " session.jsonl");
                  }
                  o.recordFile = arg.value;
                  return true;
              }},
             {nullptr, "--timestamps", "[=delta]", nullptr,
              "stamp each received line, on the screen and in the\n"
              "log, with the time to the millisecond, or with\n"
              "=delta the time since the line before",
              [](Options& o, const Argument& arg) {
                  return Choose(arg.value,
                                {{"", StampKind::kAbsolute},
                                 {"absolute", StampKind::kAbsolute},
                                 {"delta", StampKind::kDelta}},
                                o.timestamps) ||
                         arg.Refuse(
                             "is not a kind of stamp; use --timestamps, --timestamps=absolute "
                             "or --timestamps=delta");
              }},
             {nullptr, "--plot", "[=only]", nullptr,
              "a live chart of the numbers in the received lines,\n"
              "one series per place in the line, above the text\n"
              "(or with =only instead of it); on a terminal only",
              [](Options& o, const Argument& arg) {
                  return Choose(arg.value, {{"", PlotMode::kWithText}, {"only", PlotMode::kOnly}},
                                o.plot) ||
                         arg.Refuse("is not a kind of chart; use --plot or --plot=only");
              }},
             {nullptr, "--plot-columns", "LIST", "1,3",
              "chart only these numbers of each line, by their\n"
              "place, such as 1,3 for the first and the third",
              ReadPlotColumns},
             {nullptr, "--plot-scale", "SCALE", "each",
              "shared: one scale for all series (default); each:\n"
              "each series on its own range, given in the legend",
              [](Options& o, const Argument& arg) {
                  return Choose(arg.value,
                                {{"shared", PlotScale::kShared}, {"each", PlotScale::kEach}},
                                o.plotScale) ||
                         arg.Refuse("is not a scale; use shared or each");
              }},
             {nullptr, "--plot-out", "FILE", "session.svg",
              "when the session ends, write the chart of all its\n"
              "lines to FILE as an SVG image (scripts too)",
              [](Options& o, const Argument& arg) {
                  if (arg.value.empty()) {
                      return arg.Fail(arg.name + " needs a file name, such as " + arg.name +
                                      " session.svg");
                  }
                  o.plotOut = arg.value;
                  return true;
              }},
         },
         "Ctrl-T is the menu key: Ctrl-T h lists the menu, Ctrl-T q quits."},
        {"Frames (received data shown as whole messages, one to a line)",
         {
             {nullptr, "--frame", "KIND[:ARG]", "cobs",
              "delimiter[:TEXT] (default CR LF), fixed:N,\n"
              "length:1|2be|2le|4be|4le, slip, cobs or\n"
              "silence[:MS] (default 3.5 character times)",
              ReadFraming},
             {nullptr, "--max-frame", "N", "1024",
              "the longest frame in bytes (default 65536); a\n"
              "longer one is dropped and reported",
              [](Options& o, const Argument& arg) {
                  const long bytes = AllDigits(arg.value) ? std::atol(arg.value.c_str()) : 0;
                  if (bytes < 1) return arg.Refuse("is not a length; give bytes, such as 1024");
                  o.frame.maxLength = static_cast<std::uint32_t>(bytes);
                  return true;
              }},
         },
         nullptr},
        {"Script steps (run in the order given; no terminal needed)",
         {
             {nullptr, "--send", "TEXT", "'hello\\r'",
              "send TEXT; \\r \\n \\t \\e \\0 \\\\ and \\xHH are escapes",
              [](Options& o, const Argument& arg) {
                  return AddTextStep(o, arg, Step::Kind::kSend);
              }},
             {nullptr, "--send-file", "FILE", "firmware.hex",
              "send the bytes of FILE (progress on a terminal's stderr)",
              [](Options& o, const Argument& arg) {
                  if (arg.value.empty()) return arg.Fail(arg.name + " needs a file name");
                  o.steps.push_back({Step::Kind::kSendFile, arg.value});
                  return true;
              }},
             {nullptr, "--send-break", nullptr, nullptr, "send a timed break (see --break-ms)",
              [](Options& o, const Argument&) {
                  o.steps.push_back({Step::Kind::kSendBreak, {}});
                  return true;
              }},
             {nullptr, "--pulse", "LINE[:MS]", "dtr",
              "dtr or rts inverted for MS (default --pulse-ms),\nthen put back, such as --pulse "
              "dtr:50",
              [](Options& o, const Argument& arg) {
                  const std::size_t colon = arg.value.find(':');
                  Step step{Step::Kind::kPulse, {}};
                  if (!Choose(arg.value.substr(0, colon), {{"dtr", "DTR"}, {"rts", "RTS"}},
                              step.text) ||
                      (colon != std::string::npos &&
                       !ReadMilliseconds(arg.value.substr(colon + 1), step.ms))) {
                      return arg.Refuse(
                          "is not a pulse; give dtr or rts, with :MS for 1 to 10000 ms, such as "
                          "dtr:50");
                  }
                  o.steps.push_back(step);
                  return true;
              }},
             {nullptr, "--expect", "TEXT", "OK", "wait until TEXT has been received",
              [](Options& o, const Argument& arg) {
                  return AddTextStep(o, arg, Step::Kind::kExpect);
              }},
             {nullptr, "--send-frame", "TEXT", "'hello'",
              "send TEXT as one frame of --frame (same escapes)",
              [](Options& o, const Argument& arg) {
                  return AddTextStep(o, arg, Step::Kind::kSendFrame, true);
              }},
             {nullptr, "--expect-frame", "[=TEXT]", nullptr,
              "wait for a frame equal to TEXT, or print the next",
              [](Options& o, const Argument& arg) {
                  return AddTextStep(o, arg, Step::Kind::kExpectFrame, true);
              }},
             {nullptr, "--read-line", nullptr, nullptr, "wait for one line and print it",
              [](Options& o, const Argument&) {
                  o.steps.push_back({Step::Kind::kReadLine, {}});
                  return true;
              }},
             {nullptr, "--verbose", nullptr, nullptr,
              "after a time-out, show all that the wait received,\nnot only its last 64 bytes",
              [](Options& o, const Argument&) {
                  o.verbose = true;
                  return true;
              }},
             {nullptr, "--timeout", "S", "5", "limit of each wait in seconds (default 10)",
              [](Options& o, const Argument& arg) {
                  char* end = nullptr;
                  const double seconds = std::strtod(arg.value.c_str(), &end);
                  if (arg.value.empty() || end == nullptr || *end != '\0' || !(seconds > 0) ||
                      seconds > 86400) {
                      return arg.Refuse("is not a time; give seconds above 0, such as 5 or 0.5");
                  }
                  o.timeoutSeconds = seconds;
                  o.timeoutGiven = true;
                  return true;
              }},
         },
         nullptr},
        {"Other",
         {
             {nullptr, "--demo", nullptr, nullptr,
              "start a simulated instrument on a virtual port and\n"
              "connect to it; without a terminal it runs a short\n"
              "scripted session and exits",
              [](Options& o, const Argument&) {
                  o.demo = true;
                  return true;
              }},
             {nullptr, "--remote", nullptr, nullptr,
              "with --demo: serve the instrument on 127.0.0.1 and\n"
              "connect to it as rfc2217://127.0.0.1:PORT, as to a\n"
              "port on another machine",
              [](Options& o, const Argument&) {
                  o.remote = true;
                  return true;
              }},
             {nullptr, "--serve", "ADDRESS", "4000",
              "with --demo: serve the instrument over the network\n"
              "(RFC 2217) at ADDRESS, PORT or HOST:PORT (PORT 0:\n"
              "any free one; HOST 127.0.0.1 unless given, 0.0.0.0\n"
              "for other machines), without a terminal, until Ctrl-C",
              [](Options& o, const Argument& arg) {
                  // The port after the last colon, so that an IPv6 address
                  // may go with or without its brackets.
                  const std::size_t colon = arg.value.rfind(':');
                  std::string host =
                      colon == std::string::npos ? o.serveHost : arg.value.substr(0, colon);
                  const std::string port =
                      colon == std::string::npos ? arg.value : arg.value.substr(colon + 1);
                  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
                      host = host.substr(1, host.size() - 2);
                  } else if (!host.empty() && host.back() == ':') {
                      // "::1" or "fe80::1" alone: an IPv6 address whose
                      // last part would be taken for the port.
                      return arg.Refuse(
                          "looks like an IPv6 address without a port; give [ADDRESS]:PORT, "
                          "such as [::1]:4000");
                  }
                  if (host.empty() || !AllDigits(port) || std::atol(port.c_str()) > 65535) {
                      return arg.Refuse(
                          "is not a port to serve on; give PORT or HOST:PORT, such as 4000 or "
                          "127.0.0.1:4000");
                  }
                  o.serve = true;
                  o.serveHost = host;
                  o.servePort = static_cast<std::uint16_t>(std::atol(port.c_str()));
                  return true;
              }},
             {"-l", "--list", nullptr, nullptr, "list the ports present with their identifiers",
              [](Options& o, const Argument&) {
                  o.mode = Mode::kList;
                  return true;
              }},
             {"-w", "--watch", nullptr, nullptr,
              "print a line as each port comes (+) or goes (-),\nuntil q or Ctrl-C",
              [](Options& o, const Argument&) {
                  o.mode = Mode::kWatch;
                  return true;
              }},
             {nullptr, "--replay-check", "FILE", "session.jsonl",
              "replay the recording FILE against itself: send its\nrequests, check its answers",
              [](Options& o, const Argument& arg) {
                  if (arg.value.empty()) return arg.Refuse("is no file; name a recording");
                  o.mode = Mode::kReplayCheck;
                  o.replayFile = arg.value;
                  return true;
              }},
             {nullptr, "--json", nullptr, nullptr, "the list as JSON",
              [](Options& o, const Argument&) {
                  o.json = true;
                  return true;
              }},
             {"-h", "--help", nullptr, nullptr, "this text",
              [](Options& o, const Argument&) {
                  o.mode = Mode::kHelp;
                  return true;
              }},
             {nullptr, "--version", nullptr, nullptr,
              "the version of tarnterm and of the component",
              [](Options& o, const Argument&) {
                  o.mode = Mode::kVersion;
                  return true;
              }},
         },
         nullptr},
    };
    return groups;
}

const Option* FindOption(const std::string& spelling) {
    for (const OptionGroup& group : OptionGroups()) {
        for (const Option& option : group.options) {
            if (spelling == option.name || (option.alias != nullptr && spelling == option.alias)) {
                return &option;
            }
        }
    }
    return nullptr;
}

}  // namespace tarnterm
