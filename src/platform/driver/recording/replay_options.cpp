#include "replay_options.h"

#include <cmath>
#include <cstdlib>
#include <set>

namespace tarn::driver::recording {
namespace {

constexpr char kScheme[] = "replay://";
constexpr std::size_t kSchemeSize = sizeof kScheme - 1;

bool SameAscii(char a, char b) {
    const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
    return lower(a) == lower(b);
}

// A positive decimal number, digits with at most one point; no signs, no
// exponent, nothing the C library would read besides.
std::optional<double> PositiveNumber(const std::string& text) {
    int points = 0;
    int digits = 0;
    for (const char c : text) {
        if (c == '.') {
            ++points;
        } else if (c >= '0' && c <= '9') {
            ++digits;
        } else {
            return std::nullopt;
        }
    }
    if (digits == 0 || points > 1 || digits > 12) return std::nullopt;
    const double value = std::strtod(text.c_str(), nullptr);
    if (!(value > 0) || !std::isfinite(value)) return std::nullopt;
    return value;
}

// Takes one NAME=VALUE option; false with `why` saying what is wrong.
bool TakeOption(const std::string& option, ReplayOptions& options, bool& speedGiven,
                std::string& why) {
    const std::size_t equals = option.find('=');
    if (equals == std::string::npos) {
        why = "the option \"" + option + "\" is not NAME=VALUE";
        return false;
    }
    const std::string name = option.substr(0, equals);
    const std::string value = option.substr(equals + 1);
    if (name == "mode") {
        if (value != "conversation" && value != "timed") {
            why = "mode is conversation or timed, not \"" + value + "\"";
            return false;
        }
        options.mode = value == "timed" ? ReplayMode::Timed : ReplayMode::Conversation;
        return true;
    }
    if (name == "end") {
        if (value != "quiet" && value != "remove") {
            why = "end is quiet or remove, not \"" + value + "\"";
            return false;
        }
        options.removeAtEnd = value == "remove";
        return true;
    }
    if (name == "speed") {
        speedGiven = true;
        const std::optional<double> speed = value == "max" ? 0.0 : PositiveNumber(value);
        if (!speed) {
            why = "speed is a number above 0 or max, not \"" + value + "\"";
            return false;
        }
        options.speed = *speed;
        return true;
    }
    why = "\"" + name + "\" is not an option (mode, speed, end)";
    return false;
}

}  // namespace

bool IsReplayName(const std::string& name) {
    if (name.size() < kSchemeSize) return false;
    for (std::size_t i = 0; i < kSchemeSize; ++i) {
        if (!SameAscii(name[i], kScheme[i])) return false;
    }
    return true;
}

std::optional<ReplayOptions> ParseReplayName(const std::string& name, std::string& why) {
    why.clear();
    if (!IsReplayName(name)) return std::nullopt;
    const std::string rest = name.substr(kSchemeSize);
    const std::size_t question = rest.find('?');
    ReplayOptions options;
    options.path = rest.substr(0, question);
    if (options.path.empty()) {
        why = "the name gives no file";
        return std::nullopt;
    }
    if (question == std::string::npos) return options;

    std::set<std::string> seen;
    bool speedGiven = false;
    std::size_t start = question + 1;
    for (;;) {
        const std::size_t amp = rest.find('&', start);
        const std::string option = rest.substr(start, amp == std::string::npos ? amp : amp - start);
        const std::string optionName = option.substr(0, option.find('='));
        if (!seen.insert(optionName).second) {
            why = optionName + " is given twice";
            return std::nullopt;
        }
        if (!TakeOption(option, options, speedGiven, why)) return std::nullopt;
        if (amp == std::string::npos) break;
        start = amp + 1;
    }
    // A speed for a conversation would be ignored; it is a mistake to say so.
    if (speedGiven && options.mode != ReplayMode::Timed) {
        why = "speed is for mode=timed only";
        return std::nullopt;
    }
    return options;
}

}  // namespace tarn::driver::recording
