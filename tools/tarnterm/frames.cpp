#include "frames.h"

#include <cstdlib>
#include <utility>

namespace tarnterm {
namespace {

constexpr char kKinds[] =
    "; use delimiter[:TEXT], fixed:N, length:1|2be|2le|4be|4le, slip, cobs or silence[:MS], such "
    "as --frame cobs";

// The longest quiet time taken: a frame that ends after a minute of silence
// is a slip of the finger.
constexpr long kLongestGapMs = 60000;

std::string HexBytes(const std::string& bytes) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (const unsigned char byte : bytes) {
        if (!text.empty()) text += ' ';
        text += kDigits[byte >> 4];
        text += kDigits[byte & 15];
    }
    return text;
}

// The argument of each kind into `frame`; false, with `why` set, for one
// that is missing, wrong or not wanted.
bool ReadKind(const std::string& kind, bool hasArgument, const std::string& argument,
              FrameSettings& frame, std::string& why) {
    if (kind == "delimiter") {
        frame.framing = frDelimiter;
        if (!hasArgument) return true;
        std::string error;
        if (!DecodeEscapes(argument, frame.delimiter, error)) {
            why = "has a delimiter that cannot be read: " + error;
        } else if (frame.delimiter.empty()) {
            why =
                "has no delimiter after its colon; give one, such as delimiter:\\n, or leave "
                "out the colon for CR LF";
        }
        return why.empty();
    }
    if (kind == "fixed") {
        frame.framing = frFixedLength;
        frame.length =
            AllDigits(argument) ? static_cast<std::uint32_t>(std::atol(argument.c_str())) : 0;
        if (frame.length == 0) why = "needs the bytes of each frame, 1 or more, such as fixed:8";
        return why.empty();
    }
    if (kind == "length") {
        const std::pair<const char*, TFrameLengthField> kFields[] = {{"1", lf8Bit},
                                                                     {"2be", lf16BitBE},
                                                                     {"2le", lf16BitLE},
                                                                     {"4be", lf32BitBE},
                                                                     {"4le", lf32BitLE}};
        frame.framing = frLengthPrefixed;
        for (const auto& [name, field] : kFields) {
            if (argument != name) continue;
            frame.lengthField = field;
            return true;
        }
        why =
            "needs the length field's bytes and order: length:1, length:2be, length:2le, "
            "length:4be or length:4le";
        return false;
    }
    if (kind == "slip" || kind == "cobs") {
        frame.framing = kind == "slip" ? frSlip : frCobs;
        if (hasArgument) why = "takes nothing after " + kind + "; write --frame " + kind;
        return why.empty();
    }
    if (kind == "silence") {
        frame.framing = frSilence;
        if (!hasArgument) return true;
        const long ms = AllDigits(argument) ? std::atol(argument.c_str()) : -1;
        if (ms < 0 || ms > kLongestGapMs) {
            why =
                "needs the quiet time in milliseconds, 0 to 60000, such as silence:5, or "
                "silence alone for 3.5 character times";
            return false;
        }
        frame.gapMs = static_cast<std::uint32_t>(ms);
        return true;
    }
    why = "is not a framing" + std::string(kKinds);
    return false;
}

}  // namespace

bool ReadFraming(Options& o, const Argument& arg) {
    const std::size_t colon = arg.value.find(':');
    const bool hasArgument = colon != std::string::npos;
    FrameSettings frame;
    // --max-frame may come before --frame.
    frame.maxLength = o.frame.maxLength;
    std::string why;
    if (!ReadKind(arg.value.substr(0, colon), hasArgument,
                  hasArgument ? arg.value.substr(colon + 1) : std::string(), frame, why)) {
        return arg.Refuse(why);
    }
    o.frame = frame;
    return true;
}

void ApplyFraming(TTarnSerialPort& port, const FrameSettings& frame) {
    // Without a framing in force the setters take each value as it is; the
    // framing, set last, is checked against all of them at once.
    port.SetFraming(frNone);
    if (frame.maxLength != 0) port.SetMaxFrameLength(frame.maxLength);
    port.SetFrameDelimiter(frame.delimiter);
    if (frame.length != 0) port.SetFrameLength(frame.length);
    port.SetFrameLengthField(frame.lengthField);
    port.SetFrameGapMs(frame.gapMs);
    port.SetFraming(frame.framing);
}

std::string FrameText(DisplayMode mode, const std::string& frame,
                      const std::function<std::string(const std::string&)>& nameControls) {
    switch (mode) {
        case DisplayMode::kRaw:
            return frame;
        case DisplayMode::kNames:
            return nameControls(frame);
        case DisplayMode::kHex:
            break;
    }
    return HexBytes(frame);
}

std::string DescribeFrameError(TFrameErrorReason reason, const std::string& bytes) {
    const char* why = "too long (over --max-frame)";
    switch (reason) {
        case feTooLong:
            break;
        case feBadEscape:
            why = "bad SLIP escape";
            break;
        case feBadCode:
            why = "bad COBS code";
            break;
        case feLengthTooLarge:
            why = "length field over --max-frame";
            break;
    }
    std::string text = std::string("frame error, ") + why + ": ";
    if (bytes.size() <= kFrameErrorBytesShown) return text + HexBytes(bytes);
    return text + HexBytes(bytes.substr(0, kFrameErrorBytesShown)) + " ... (" +
           std::to_string(bytes.size()) + " bytes)";
}

}  // namespace tarnterm
