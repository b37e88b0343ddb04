#include "options.h"

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <string>
#include <utility>

#include "plot_series.h"

namespace tarnterm {
namespace {

bool AllDigits(const std::string& text) {
    if (text.empty() || text.size() > 9) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A length of 1 to 10000 milliseconds, as digits.
bool ReadMilliseconds(const std::string& text, std::uint32_t& ms) {
    const long value = AllDigits(text) ? std::atol(text.c_str()) : 0;
    if (value < 1 || value > 10000) return false;
    ms = static_cast<std::uint32_t>(value);
    return true;
}

// One option as the command line gave it, handed to the option's applier.
struct Argument {
    // The long name, whichever spelling was typed, so that every message
    // names the option the same way.
    const std::string& name;
    // Empty for a flag.
    const std::string& value;
    std::string& error;

    // Refuses the value: "--baud 'fast' " followed by `why`.
    bool Refuse(const std::string& why) const { return Fail(name + " '" + value + "' " + why); }
    bool Fail(std::string message) const {
        error = std::move(message);
        return false;
    }
};

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

// The parts of a list separated by commas, empty ones included, so that
// "1,,3" shows its empty part to the check of each.
std::vector<std::string> CommaSeparated(const std::string& list) {
    std::vector<std::string> parts;
    std::size_t from = 0;
    while (from <= list.size()) {
        std::size_t comma = list.find(',', from);
        if (comma == std::string::npos) comma = list.size();
        parts.push_back(list.substr(from, comma - from));
        from = comma + 1;
    }
    return parts;
}

// --map: the comma-separated rules, each of which sets what one byte
// becomes in one direction; two rules for the same byte are refused.
bool ReadMap(Options& o, const Argument& arg) {
    const struct {
        const char* name;
        bool in;
        bool cr;
        const char* becomes;
    } kRules[] = {
        {"icrnl", true, true, "\n"},   {"igncr", true, true, ""},
        {"inlcr", true, false, "\r"},  {"inlcrlf", true, false, "\r\n"},
        {"ocrnl", false, true, "\n"},  {"ocrcrlf", false, true, "\r\n"},
        {"onlcr", false, false, "\r"}, {"onlcrnl", false, false, "\r\n"},
    };
    std::string taken[2][2];
    for (const std::string& name : CommaSeparated(arg.value)) {
        const auto* rule = std::find_if(std::begin(kRules), std::end(kRules),
                                        [&](const auto& r) { return name == r.name; });
        if (rule == std::end(kRules)) {
            return arg.Fail(arg.name + " '" + name +
                            "' is not a rule; use icrnl, igncr, inlcr, inlcrlf, ocrnl, ocrcrlf, "
                            "onlcr or onlcrnl, separated by commas");
        }
        std::string& other = taken[rule->in][rule->cr];
        if (!other.empty() && other != name) {
            return arg.Fail(arg.name + " " + other + " and " + name + " both change " +
                            (rule->cr ? "CR" : "LF") + (rule->in ? " received" : " sent") +
                            "; choose one");
        }
        other = name;
        ByteMap& map = rule->in ? o.map.in : o.map.out;
        (rule->cr ? map.cr : map.lf) = rule->becomes;
    }
    return true;
}

// --plot-columns: the places of the numbers to chart, such as "1,3",
// taken in rising order whatever order they are given in.
bool ReadPlotColumns(Options& o, const Argument& arg) {
    const std::string hint =
        "; give the places of the numbers in a line, from 1, separated by commas, such as "
        "--plot-columns 1,3 (at most " +
        std::to_string(PlotSeries::kMostSeries) + ")";
    std::vector<std::size_t> places;
    for (const std::string& place : CommaSeparated(arg.value)) {
        const long number = AllDigits(place) ? std::atol(place.c_str()) : 0;
        if (number < 1) return arg.Refuse("has '" + place + "', which is no place" + hint);
        if (std::find(places.begin(), places.end(), number) != places.end()) {
            return arg.Refuse("names " + place + " twice" + hint);
        }
        places.push_back(static_cast<std::size_t>(number));
    }
    if (places.size() > PlotSeries::kMostSeries) return arg.Refuse("names too many" + hint);
    std::sort(places.begin(), places.end());
    o.plotColumns = std::move(places);
    return true;
}

// --send and --expect: a step with the bytes of the value, escapes decoded.
bool AddTextStep(Options& o, const Argument& arg, Step::Kind kind) {
    std::string bytes;
    std::string why;
    if (!DecodeEscapes(arg.value, bytes, why)) {
        return arg.Fail(arg.name + " '" + arg.value + "': " + why);
    }
    if (bytes.empty()) {
        return arg.Fail(arg.name + " needs at least one character, such as " + arg.name + " OK");
    }
    o.steps.push_back({kind, bytes});
    return true;
}

// One option of the command line. The parser and the usage text are both
// made from the table below, so an option is added there and nowhere else.
struct Option {
    // The short spelling, such as "-b", or none.
    const char* alias;
    const char* name;
    // How the usage text names the value; none for a flag. One in brackets,
    // "[=...]", is optional and given only after '='.
    const char* valueName;
    // An accepted value, shown when the value is missing.
    const char* example;
    // The usage text's description; after a '\n' it goes on in its column.
    const char* help;
    // Applies the value, or the flag, to the options. False, with the error
    // set through `arg`, when the value is not acceptable.
    bool (*apply)(Options& o, const Argument& arg);
};

// A heading of the usage text and the options under it.
struct OptionGroup {
    const char* heading;
    std::vector<Option> options;
    // A line of the usage text after the group's options, or none.
    const char* note;
};

// In the order of the usage text.
const OptionGroup kOptionGroups[] = {
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
              return Choose(
                         arg.value,
                         {{"cr", EnterKey::kCr}, {"lf", EnterKey::kLf}, {"crlf", EnterKey::kCrLf}},
                         o.enter) ||
                     arg.Refuse("is not a line ending; use cr, lf or crlf");
          }},
         {nullptr, "--display", "MODE", "names",
          "raw, names (control characters as <CR> <LF> ...) or hex",
          [](Options& o, const Argument& arg) {
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
         {nullptr, "--log", "FILE", "traffic.log", "append received data to FILE (the traffic log)",
          [](Options& o, const Argument& arg) {
              if (arg.value.empty()) {
                  return arg.Fail(arg.name + " needs a file name, such as " + arg.name +
                                  " traffic.log");
              }
              o.logFile = arg.value;
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
              return Choose(arg.value, {{"shared", PlotScale::kShared}, {"each", PlotScale::kEach}},
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
    {"Script steps (run in the order given; no terminal needed)",
     {
         {nullptr, "--send", "TEXT", "'hello\\r'",
          "send TEXT; \\r \\n \\t \\e \\0 \\\\ and \\xHH are escapes",
          [](Options& o, const Argument& arg) { return AddTextStep(o, arg, Step::Kind::kSend); }},
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
          "dtr or rts inverted for MS (default --pulse-ms),\nthen put back, such as --pulse dtr:50",
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
          [](Options& o, const Argument& arg) { return AddTextStep(o, arg, Step::Kind::kExpect); }},
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
         {nullptr, "--version", nullptr, nullptr, "the version of tarnterm and of the component",
          [](Options& o, const Argument&) {
              o.mode = Mode::kVersion;
              return true;
          }},
     },
     nullptr},
};

// The option that `spelling` names, long or short; none for an unknown one.
const Option* FindOption(const std::string& spelling) {
    for (const OptionGroup& group : kOptionGroups) {
        for (const Option& option : group.options) {
            if (spelling == option.name || (option.alias != nullptr && spelling == option.alias)) {
                return &option;
            }
        }
    }
    return nullptr;
}

// Reads the option at args[i] and applies it, moving `i` past a value
// given as the next argument when `valueMayFollow`; else the value is only
// one after '='. False with `error` set for a mistake.
bool ReadOption(Options& o, const std::vector<std::string>& args, std::size_t& i,
                bool valueMayFollow, std::string& error) {
    std::string spelling = args[i];
    std::string value;
    bool hasValue = false;
    const std::size_t equals = spelling.find('=');
    if (spelling.compare(0, 2, "--") == 0 && equals != std::string::npos) {
        value = spelling.substr(equals + 1);
        spelling.resize(equals);
        hasValue = true;
    } else if (spelling.compare(0, 2, "--") != 0 && spelling.size() > 2 &&
               FindOption(spelling.substr(0, 2)) != nullptr) {
        // A short option with its value attached: -b9600.
        value = spelling.substr(2);
        spelling.resize(2);
        hasValue = true;
    }
    const Option* option = FindOption(spelling);
    if (option == nullptr) {
        error = "unknown option " + spelling + "; tarnterm --help lists the options";
        return false;
    }
    const std::string name = option->name;
    if (option->valueName == nullptr && hasValue) {
        error = name + " takes no value; write it alone";
        return false;
    }
    const bool optionalValue = option->valueName != nullptr && option->valueName[0] == '[';
    if (option->valueName != nullptr && !optionalValue && !hasValue) {
        if (i + 1 >= args.size() || !valueMayFollow) {
            error = name + " needs a value, such as " + name + " " + option->example;
            return false;
        }
        value = args[++i];
    }
    return option->apply(o, Argument{name, value, error});
}

// "  -b, --baud N          bits per second ...": the spellings, then the
// help from this column on.
constexpr std::size_t kHelpColumn = 24;

std::string UsageLine(const Option& option) {
    std::string line = "  ";
    if (option.alias != nullptr) line += std::string(option.alias) + ", ";
    line += option.name;
    if (option.valueName != nullptr) {
        line += std::string(option.valueName[0] == '[' ? "" : " ") + option.valueName;
    }
    line.resize(std::max(kHelpColumn, line.size() + 2), ' ');
    for (const char* c = option.help; *c != '\0'; ++c) {
        line += *c;
        if (*c == '\n') line.append(kHelpColumn, ' ');
    }
    return line + "\n";
}

// The checks between options, made once all are known.
bool CheckCombination(const Options& o, std::string& error) {
    if (o.mode == Mode::kHelp || o.mode == Mode::kVersion) return true;
    if (o.json && o.mode != Mode::kList) {
        error = "--json goes with --list: tarnterm --list --json";
        return false;
    }
    if (o.mode == Mode::kList || o.mode == Mode::kWatch) {
        if (!o.port.empty() || o.demo || !o.steps.empty()) {
            error = o.mode == Mode::kList
                        ? "--list takes no port and no other mode; use tarnterm --list"
                        : "--watch takes no port and no other mode; use tarnterm --watch";
            return false;
        }
        return true;
    }
    if ((o.remote || o.serve) && !o.demo) {
        error = o.serve ? "--serve offers the demo instrument to other programs; add --demo: "
                          "tarnterm --demo --serve 4000"
                        : "--remote reaches the demo instrument over the network; add --demo: "
                          "tarnterm --demo --remote";
        return false;
    }
    if (o.serve && (o.remote || !o.steps.empty())) {
        error =
            "--serve runs no terminal and no script; leave out --remote and the steps, and "
            "connect another tarnterm to the port it serves";
        return false;
    }
    if (o.demo && !o.port.empty()) {
        error =
            "--demo connects to its own simulated instrument; leave out the port '" + o.port + "'";
        return false;
    }
    if (!o.demo && o.port.empty()) {
        error = "no port given; name one (tarnterm --list shows them) or try tarnterm --demo";
        return false;
    }
    if (o.timestamps != StampKind::kNone && !o.steps.empty() && o.logFile.empty()) {
        error =
            "--timestamps stamps the lines the terminal shows and those of the log; a script "
            "shows none, so add --log FILE";
        return false;
    }
    bool waits = false;
    for (const Step& step : o.steps) {
        waits = waits || step.kind == Step::Kind::kExpect || step.kind == Step::Kind::kReadLine;
    }
    // A script's --reconnect waits for its port within the time-out too.
    if (o.timeoutGiven && !waits && !(o.reconnect && !o.steps.empty())) {
        error =
            "--timeout limits --expect, --read-line and a script's --reconnect; add one of them "
            "or leave it out";
        return false;
    }
    if (!o.steps.empty() && !(o.map.in.ChangesNothing() && o.map.out.ChangesNothing())) {
        error =
            "--map is for the interactive terminal; script steps send and wait for bytes as "
            "written";
        return false;
    }
    if ((!o.plotColumns.empty() || o.plotScale != PlotScale::kShared) &&
        o.plot == PlotMode::kNone && o.plotOut.empty()) {
        error = std::string(o.plotColumns.empty() ? "--plot-scale" : "--plot-columns") +
                " shapes the chart of --plot and --plot-out; add one of them";
        return false;
    }
    if (o.plot != PlotMode::kNone && !o.steps.empty()) {
        error =
            "--plot draws on the interactive terminal; a script has no screen, so use "
            "--plot-out FILE.svg";
        return false;
    }
    // The combinations that a serial line cannot frame.
    if (!IsValidWidthAndStop(o.line.dataBits, o.line.stopBits)) {
        error = o.line.stopBits == sb1_5Bits
                    ? "--stop 1.5 works only with --data 5; use --stop 1 or 2 with 6 to 8 data bits"
                    : "--stop 2 cannot be used with --data 5; use --stop 1 or 1.5";
        return false;
    }
    for (const Step& step : o.steps) {
        const Flow driver = step.text == "DTR" ? Flow::kDtrDsr : Flow::kRtsCts;
        if (step.kind == Step::Kind::kPulse && o.line.flow == driver) {
            error = "--pulse " + std::string(step.text == "DTR" ? "dtr" : "rts") +
                    " cannot turn a line that --flow " + FlowName(driver) +
                    " drives; pulse the other line or choose another --flow";
            return false;
        }
    }
    return true;
}

}  // namespace

bool ParseRate(const std::string& text, std::int32_t& baud, std::string& why) {
    if (!AllDigits(text)) {
        why = "is not a rate";
        return false;
    }
    const long rate = std::atol(text.c_str());
    if (rate < kLowestRate) {
        why = "is below the lowest rate, " + std::to_string(kLowestRate) + " bit/s";
        return false;
    }
    baud = static_cast<std::int32_t>(rate);
    return true;
}

bool DecodeEscapes(const std::string& text, std::string& bytes, std::string& error) {
    bytes.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            bytes += text[i];
            continue;
        }
        if (i + 1 >= text.size()) {
            error = "a backslash ends the text; write \\\\ for a backslash";
            return false;
        }
        const char c = text[++i];
        switch (c) {
            case 'r':
                bytes += '\r';
                break;
            case 'n':
                bytes += '\n';
                break;
            case 't':
                bytes += '\t';
                break;
            case 'e':
                bytes += '\x1b';
                break;
            case '0':
                bytes += '\0';
                break;
            case '\\':
                bytes += '\\';
                break;
            case 'x': {
                const int high = i + 1 < text.size() ? HexDigit(text[i + 1]) : -1;
                const int low = i + 2 < text.size() ? HexDigit(text[i + 2]) : -1;
                if (high < 0 || low < 0) {
                    error = "\\x needs two hexadecimal digits, such as \\x1b";
                    return false;
                }
                bytes += static_cast<char>(high * 16 + low);
                i += 2;
                break;
            }
            default:
                error = std::string("unknown escape \\") + c +
                        "; use \\r \\n \\t \\e \\0 \\\\ or \\xHH";
                return false;
        }
    }
    return true;
}

namespace {

// How the reading takes a port argument, given by its index: false ends
// the reading, a mistake when `error` is set.
using PortArgument = std::function<bool(std::size_t index, std::string& error)>;

// Reads `args` into `o` in order. The first `ownValuesOnly` arguments (a
// profile's) take no value from the argument after them. False with
// `error` set for a mistake.
bool ReadArguments(const std::vector<std::string>& args, Options& o, std::string& error,
                   const PortArgument& port, std::size_t ownValuesOnly = 0) {
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
            if (!port(i, error)) return error.empty();
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (!ReadOption(o, args, i, i >= ownValuesOnly, error)) return false;
    }
    return true;
}

// `args` with the first port argument that names a profile replaced by
// the profile's arguments, put first, so that the command line has the
// last word; `args` itself when none does.
std::vector<std::string> WithProfile(const std::vector<std::string>& args, const Profiles& profiles,
                                     std::string& name) {
    std::size_t at = args.size();
    Options scratch;
    std::string ignored;
    ReadArguments(args, scratch, ignored, [&](std::size_t i, std::string&) {
        if (profiles.count(args[i]) == 0) return true;
        at = i;
        return false;
    });
    if (at == args.size()) return args;
    name = args[at];
    std::vector<std::string> expanded = profiles.at(name);
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (i != at) expanded.push_back(args[i]);
    }
    return expanded;
}

}  // namespace

ParseResult ParseCommandLine(const std::vector<std::string>& args, const Profiles& profiles) {
    ParseResult result;
    Options& o = result.options;
    const std::vector<std::string> used = WithProfile(args, profiles, o.profile);
    const std::size_t fromProfile = o.profile.empty() ? 0 : profiles.at(o.profile).size();
    const bool read = ReadArguments(
        used, o, result.error,
        [&](std::size_t i, std::string& error) {
            if (!o.port.empty()) {
                error = "only one port can be given, not '" + o.port + "' and '" + used[i] + "'";
                return false;
            }
            o.port = used[i];
            return true;
        },
        fromProfile);
    if (!read || !CheckCombination(o, result.error)) return result;
    result.ok = true;
    return result;
}

bool ProfileArgument(const std::string& name, bool hasValue, const std::string& value,
                     std::string& argument, std::string& error) {
    const Option* option = FindOption("--" + name);
    if (option == nullptr) {
        error = "'" + name +
                "' is no option; an entry is an option's long name, such as baud = 9600, or port";
        return false;
    }
    if (option->valueName != nullptr && option->valueName[0] != '[' && !hasValue) {
        error = "'" + name + "' needs a value, such as " + name + " = " + option->example;
        return false;
    }
    argument = "--" + name + (hasValue ? "=" + value : "");
    // Applied to options of its own, so that a value the command line would
    // refuse is reported with its line.
    Options scratch;
    std::size_t at = 0;
    return ReadOption(scratch, {argument}, at, false, error);
}

std::string ApplyMap(const ByteMap& map, const std::string& bytes) {
    if (map.ChangesNothing()) return bytes;
    std::string mapped;
    for (const char c : bytes) {
        if (c == '\r') {
            mapped += map.cr;
        } else if (c == '\n') {
            mapped += map.lf;
        } else {
            mapped += c;
        }
    }
    return mapped;
}

std::string DescribeLineSettings(const LineSettings& line) {
    static const char kParity[] = {'N', 'O', 'E', 'M', 'S'};
    static const char* const kStop[] = {"1", "1.5", "2"};
    std::string text = std::to_string(line.baud) + " ";
    text += static_cast<char>('5' + (line.dataBits - dw5Bits));
    text += kParity[line.parity];
    text += kStop[line.stopBits];
    text += ", flow ";
    text += FlowName(line.flow);
    return text;
}

const char* FlowName(Flow flow) {
    static const char* const kFlow[] = {"none", "rtscts", "dtrdsr", "xonxoff"};
    return kFlow[static_cast<int>(flow)];
}

const char* EnterKeyName(EnterKey enter) {
    switch (enter) {
        case EnterKey::kCr:
            return "CR";
        case EnterKey::kLf:
            return "LF";
        case EnterKey::kCrLf:
            break;
    }
    return "CR LF";
}

const char* DisplayModeName(DisplayMode mode) {
    switch (mode) {
        case DisplayMode::kRaw:
            return "raw";
        case DisplayMode::kNames:
            return "control characters named";
        case DisplayMode::kHex:
            break;
    }
    return "hexadecimal";
}

std::string EnterKeyBytes(EnterKey enter) {
    switch (enter) {
        case EnterKey::kCr:
            return "\r";
        case EnterKey::kLf:
            return "\n";
        case EnterKey::kCrLf:
            break;
    }
    return "\r\n";
}

std::string UsageText() {
    std::string text =
        R"(usage: tarnterm PORT [options]              interactive terminal on PORT
       tarnterm PORT STEP... [options]      script: send, wait, read, then exit
       tarnterm PROFILE [STEP...] [options] a profile of the configuration file
       tarnterm --demo [STEP...] [options]  the same on a simulated instrument
       tarnterm --demo --serve [HOST:]PORT  the instrument for other programs
       tarnterm --list [--json]             the serial ports present
       tarnterm --watch                     ports as they come and go

PORT is COM1 to COM254 or a device name or path, such as /dev/ttyUSB0 or
/dev/serial/by-id/..., or usb:VID:PID[:SERIAL] for the first port whose USB
ids (in hexadecimal) and serial number match, or rfc2217://HOST:PORT for a
port on another machine.

PROFILE is a [heading] of the configuration file, tarnterm/config in
$XDG_CONFIG_HOME, %APPDATA% or ~/.config, under which each line is an option
without its dashes (baud = 9600, timestamps = delta, echo) or port = PORT.
)";
    for (const OptionGroup& group : kOptionGroups) {
        text += std::string("\n") + group.heading + ":\n";
        for (const Option& option : group.options) text += UsageLine(option);
        if (group.note != nullptr) text += std::string("  ") + group.note + "\n";
    }
    return text + R"(
Exit status: 0 done, 1 connection failed, 2 invalid command line or setting,
3 time-out, 4 no such port, 5 port busy or access denied, 6 not a serial port,
7 port could not be opened otherwise, 8 sent bytes did not leave the port in
time, 128+N stopped by signal N.
)";
}

}  // namespace tarnterm
