#include "options.h"

#include <cstdlib>
#include <string>

namespace tarnterm {
namespace {

// Options that take a value, and the example shown when it is missing.
struct ValueOption {
    const char* name;
    const char* example;
};

const ValueOption kValueOptions[] = {
    {"--baud", "--baud 115200"},
    {"--data", "--data 8"},
    {"--parity", "--parity none"},
    {"--stop", "--stop 1"},
    {"--flow", "--flow none"},
    {"--delay", "--delay 50"},
    {"--enter", "--enter crlf"},
    {"--display", "--display names"},
    {"--log", "--log traffic.log"},
    {"--send", "--send 'hello\\r'"},
    {"--send-file", "--send-file firmware.hex"},
    {"--expect", "--expect OK"},
    {"--timeout", "--timeout 5"},
};

const char* const kFlagOptions[] = {"--list",      "--json",       "--demo",
                                    "--echo",      "--timestamps", "--reconnect",
                                    "--read-line", "--help",       "--version"};

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

// Applies one option with its value; false with `error` set when the value
// is not acceptable.
bool ApplyValue(Options& o, const std::string& name, const std::string& value, std::string& error) {
    LineSettings& line = o.line;
    if (name == "--baud") {
        if (!AllDigits(value) || std::atol(value.c_str()) <= 0) {
            error = "--baud '" + value +
                    "' is not a rate; give bits per second, such as 9600 or 115200";
            return false;
        }
        line.baud = static_cast<std::int32_t>(std::atol(value.c_str()));
    } else if (name == "--data") {
        if (value.size() != 1 || value[0] < '5' || value[0] > '8') {
            error = "--data '" + value + "' is not a number of data bits; use 5, 6, 7 or 8";
            return false;
        }
        line.dataBits = static_cast<TDataWidth>(dw5Bits + (value[0] - '5'));
    } else if (name == "--parity") {
        if (value == "none" || value == "n") {
            line.parity = pbNone;
        } else if (value == "odd" || value == "o") {
            line.parity = pbOdd;
        } else if (value == "even" || value == "e") {
            line.parity = pbEven;
        } else if (value == "mark" || value == "m") {
            line.parity = pbMark;
        } else if (value == "space" || value == "s") {
            line.parity = pbSpace;
        } else {
            error = "--parity '" + value + "' is not a parity; use none, odd, even, mark or space";
            return false;
        }
    } else if (name == "--stop") {
        if (value == "1") {
            line.stopBits = sb1Bit;
        } else if (value == "1.5") {
            line.stopBits = sb1_5Bits;
        } else if (value == "2") {
            line.stopBits = sb2Bits;
        } else {
            error = "--stop '" + value + "' is not a number of stop bits; use 1, 1.5 or 2";
            return false;
        }
    } else if (name == "--flow") {
        if (value == "none") {
            line.flow = Flow::kNone;
        } else if (value == "rtscts" || value == "hw") {
            line.flow = Flow::kRtsCts;
        } else if (value == "dtrdsr") {
            line.flow = Flow::kDtrDsr;
        } else if (value == "xonxoff" || value == "sw") {
            line.flow = Flow::kXonXoff;
        } else {
            error =
                "--flow '" + value + "' is not a flow control; use none, rtscts, dtrdsr or xonxoff";
            return false;
        }
    } else if (name == "--delay") {
        const long ms = AllDigits(value) ? std::atol(value.c_str()) : 0;
        if (ms < 1 || ms > 10000) {
            error = "--delay '" + value +
                    "' is not a poll period; give 1 to 10000 milliseconds, such as 50";
            return false;
        }
        line.delayMs = static_cast<std::uint32_t>(ms);
    } else if (name == "--enter") {
        if (value == "cr") {
            o.enter = EnterKey::kCr;
        } else if (value == "lf") {
            o.enter = EnterKey::kLf;
        } else if (value == "crlf") {
            o.enter = EnterKey::kCrLf;
        } else {
            error = "--enter '" + value + "' is not a line ending; use cr, lf or crlf";
            return false;
        }
    } else if (name == "--display") {
        if (value == "raw") {
            o.display = DisplayMode::kRaw;
        } else if (value == "names") {
            o.display = DisplayMode::kNames;
        } else if (value == "hex") {
            o.display = DisplayMode::kHex;
        } else {
            error = "--display '" + value + "' is not a display mode; use raw, names or hex";
            return false;
        }
    } else if (name == "--log") {
        if (value.empty()) {
            error = "--log needs a file name, such as --log traffic.log";
            return false;
        }
        o.logFile = value;
    } else if (name == "--send" || name == "--expect") {
        std::string bytes;
        std::string why;
        if (!DecodeEscapes(value, bytes, why)) {
            error = name + " '" + value + "': " + why;
            return false;
        }
        if (bytes.empty()) {
            error = name + " needs at least one character, such as " + name + " OK";
            return false;
        }
        o.steps.push_back({name == "--send" ? Step::Kind::kSend : Step::Kind::kExpect, bytes});
    } else if (name == "--send-file") {
        if (value.empty()) {
            error = "--send-file needs a file name";
            return false;
        }
        o.steps.push_back({Step::Kind::kSendFile, value});
    } else if (name == "--timeout") {
        char* end = nullptr;
        const double seconds = std::strtod(value.c_str(), &end);
        if (value.empty() || end == nullptr || *end != '\0' || !(seconds > 0) || seconds > 86400) {
            error =
                "--timeout '" + value + "' is not a time; give seconds above 0, such as 5 or 0.5";
            return false;
        }
        o.timeoutSeconds = seconds;
    }
    return true;
}

void ApplyFlag(Options& o, const std::string& name) {
    if (name == "--list") o.mode = Mode::kList;
    if (name == "--json") o.json = true;
    if (name == "--demo") o.demo = true;
    if (name == "--echo") o.echo = true;
    if (name == "--timestamps") o.timestamps = true;
    if (name == "--reconnect") o.reconnect = true;
    if (name == "--read-line") o.steps.push_back({Step::Kind::kReadLine, {}});
    if (name == "--help") o.mode = Mode::kHelp;
    if (name == "--version") o.mode = Mode::kVersion;
}

// The checks between options, made once all are known.
bool CheckCombination(const Options& o, bool timeoutGiven, std::string& error) {
    if (o.mode == Mode::kHelp || o.mode == Mode::kVersion) return true;
    if (o.json && o.mode != Mode::kList) {
        error = "--json goes with --list: tarnterm --list --json";
        return false;
    }
    if (o.mode == Mode::kList) {
        if (!o.port.empty() || o.demo || !o.steps.empty()) {
            error = "--list takes no port and no other mode; use tarnterm --list";
            return false;
        }
        return true;
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
    if (o.timestamps && o.logFile.empty()) {
        error = "--timestamps stamps the records of the traffic log; add --log FILE";
        return false;
    }
    bool waits = false;
    for (const Step& step : o.steps) {
        waits = waits || step.kind == Step::Kind::kExpect || step.kind == Step::Kind::kReadLine;
    }
    if (timeoutGiven && !waits) {
        error = "--timeout limits --expect and --read-line; add one of them or leave it out";
        return false;
    }
    if (o.reconnect && !o.steps.empty()) {
        error = "--reconnect is for the interactive terminal; a script ends when its port goes";
        return false;
    }
    // The combinations that a serial line cannot frame.
    if (o.line.stopBits == sb1_5Bits && o.line.dataBits != dw5Bits) {
        error = "--stop 1.5 works only with --data 5; use --stop 1 or 2 with 6 to 8 data bits";
        return false;
    }
    if (o.line.stopBits == sb2Bits && o.line.dataBits == dw5Bits) {
        error = "--stop 2 cannot be used with --data 5; use --stop 1 or 1.5";
        return false;
    }
    return true;
}

}  // namespace

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

ParseResult ParseCommandLine(const std::vector<std::string>& args) {
    ParseResult result;
    Options& o = result.options;
    bool timeoutGiven = false;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
            if (!o.port.empty()) {
                result.error = "only one port can be given, not '" + o.port + "' and '" + arg + "'";
                return result;
            }
            o.port = arg;
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg == "-b") arg = "--baud";
        if (arg == "-l") arg = "--list";
        if (arg == "-h") arg = "--help";

        std::string name = arg;
        std::string value;
        bool hasValue = false;
        const std::size_t equals = arg.find('=');
        if (arg.compare(0, 2, "--") == 0 && equals != std::string::npos) {
            name = arg.substr(0, equals);
            value = arg.substr(equals + 1);
            hasValue = true;
        }

        const ValueOption* valueOption = nullptr;
        for (const ValueOption& option : kValueOptions) {
            if (name == option.name) valueOption = &option;
        }
        if (valueOption != nullptr) {
            if (!hasValue) {
                if (i + 1 >= args.size()) {
                    result.error = name + " needs a value, such as " + valueOption->example;
                    return result;
                }
                value = args[++i];
            }
            if (!ApplyValue(o, name, value, result.error)) return result;
            timeoutGiven = timeoutGiven || name == "--timeout";
            continue;
        }

        bool flag = false;
        for (const char* option : kFlagOptions) flag = flag || name == option;
        if (!flag) {
            result.error = "unknown option " + name + "; tarnterm --help lists the options";
            return result;
        }
        if (hasValue) {
            result.error = name + " takes no value; write it alone";
            return result;
        }
        ApplyFlag(o, name);
    }
    if (!CheckCombination(o, timeoutGiven, result.error)) return result;
    result.ok = true;
    return result;
}

std::string DescribeLineSettings(const LineSettings& line) {
    static const char kParity[] = {'N', 'O', 'E', 'M', 'S'};
    static const char* const kStop[] = {"1", "1.5", "2"};
    static const char* const kFlow[] = {"none", "rtscts", "dtrdsr", "xonxoff"};
    std::string text = std::to_string(line.baud) + " ";
    text += static_cast<char>('5' + (line.dataBits - dw5Bits));
    text += kParity[line.parity];
    text += kStop[line.stopBits];
    text += ", flow ";
    text += kFlow[static_cast<int>(line.flow)];
    return text;
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
    return R"(usage: tarnterm PORT [options]              interactive terminal on PORT
       tarnterm PORT STEP... [options]      script: send, wait, read, then exit
       tarnterm --demo [STEP...] [options]  the same on a simulated instrument
       tarnterm --list [--json]             the serial ports present

PORT is COM1 to COM254 or a device name or path, such as /dev/ttyUSB0.

Line settings:
  -b, --baud N          bits per second (default 115200; any rate the device takes)
  --data 5|6|7|8        data bits (default 8)
  --parity P            none, odd, even, mark or space (default none)
  --stop 1|1.5|2        stop bits (default 1; 1.5 only with 5 data bits)
  --flow F              none, rtscts, dtrdsr or xonxoff (default none)
  --delay MS            poll period in milliseconds (default 50; below 50 a
                        pulled adapter is no longer noticed)

Terminal:
  --enter cr|lf|crlf    what the Enter key sends (default crlf)
  --display MODE        raw, names (control characters as <CR> <LF> ...) or hex
  --echo                show typed keys locally
  --reconnect           when the adapter is pulled, wait and reopen it
  --log FILE            append received data to FILE (the traffic log)
  --timestamps          stamp each record of the log with the date and time
  Ctrl-T is the menu key: Ctrl-T h lists the menu, Ctrl-T q quits.

Script steps (run in the order given; no terminal needed):
  --send TEXT           send TEXT; \r \n \t \e \0 \\ and \xHH are escapes
  --send-file FILE      send the bytes of FILE (progress on a terminal's stderr)
  --expect TEXT         wait until TEXT has been received
  --read-line           wait for one line and print it
  --timeout S           limit of each wait in seconds (default 10)

Other:
  --demo                start a simulated instrument on a virtual port and
                        connect to it; without a terminal it runs a short
                        scripted session and exits
  -l, --list            list the ports present with their identifiers
  --json                the list as JSON
  -h, --help            this text
  --version             the version of tarnterm and of the component

Exit status: 0 done, 1 connection failed, 2 invalid command line or setting,
3 time-out, 4 no such port, 5 port busy or access denied, 6 not a serial port,
7 port could not be opened otherwise, 8 sent bytes did not leave the port in
time.
)";
}

}  // namespace tarnterm
