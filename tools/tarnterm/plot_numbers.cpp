#include "plot_numbers.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "host_strings.h"

namespace tarnterm {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsLetter(char c) {
    // Bytes of UTF-8 sequences count as letters: "°C" is a unit, "µ5" a name.
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' ||
           static_cast<unsigned char>(c) >= 0x80;
}

bool IsWordChar(char c) { return IsLetter(c) || IsDigit(c); }

bool DigitAt(std::string_view line, std::size_t at) {
    return at < line.size() && IsDigit(line[at]);
}

// Whether a number may begin at `at`: a digit, or a sign or point before
// digits, where no word or number goes on.
bool NumberStartsAt(std::string_view line, std::size_t at) {
    const char c = line[at];
    std::size_t digitsFrom = at;
    if (c == '+' || c == '-') ++digitsFrom;
    if (digitsFrom < line.size() && line[digitsFrom] == '.') ++digitsFrom;
    if (!DigitAt(line, digitsFrom)) return false;
    if (at == 0) return true;
    const char before = line[at - 1];
    if (IsWordChar(before) || before == '.') return false;
    // "TT-100": the hyphen joins a name.
    if ((before == '-' || before == '+') && at >= 2 && IsLetter(line[at - 2])) return false;
    return true;
}

// The end of the number that begins at `at`, which NumberStartsAt allowed.
std::size_t NumberEnd(std::string_view line, std::size_t at) {
    std::size_t end = at;
    if (line[end] == '+' || line[end] == '-') ++end;
    while (DigitAt(line, end)) ++end;
    if (end < line.size() && line[end] == '.') {
        ++end;
        while (DigitAt(line, end)) ++end;
    }
    if (end < line.size() && (line[end] == 'e' || line[end] == 'E')) {
        std::size_t exponent = end + 1;
        if (exponent < line.size() && (line[exponent] == '+' || line[exponent] == '-')) {
            ++exponent;
        }
        if (DigitAt(line, exponent)) {
            end = exponent;
            while (DigitAt(line, end)) ++end;
        }
    }
    return end;
}

// The name of a number from the text between it and the number before.
std::string NameFrom(std::string_view text) {
    // A sign is a separator here: the '-' of "10-20" names nothing.
    constexpr std::string_view kSeparators = " \t=:,;-+";
    const std::size_t last = text.find_last_not_of(kSeparators);
    if (last == std::string_view::npos) return {};
    text = text.substr(0, last + 1);
    const std::size_t space = text.find_last_of(" \t");
    if (space != std::string_view::npos) text = text.substr(space + 1);
    std::string name;
    for (char c : text) {
        if (c > ' ' && c < 0x7f && name.size() < kLongestName) name += c;
    }
    return name;
}

// The unit of a number from the letters after it: what is valid UTF-8 of
// it, without control characters, whole characters up to kLongestName
// bytes.
std::string UnitFrom(std::string_view letters) {
    const std::u16string decoded = tarn::host::Utf8ToUnicode(std::string(letters));
    std::string unit;
    for (std::size_t i = 0; i < decoded.size(); ++i) {
        const char16_t c = decoded[i];
        // U+0080 to U+009F are controls; U+FFFD stands for what was no UTF-8.
        if ((c >= 0x80 && c < 0xa0) || c == 0xfffd) continue;
        const bool pair = c >= 0xd800 && c <= 0xdbff && i + 1 < decoded.size();
        const std::string character = tarn::host::UnicodeToUtf8(decoded.substr(i, pair ? 2 : 1));
        if (unit.size() + character.size() > kLongestName) break;
        unit += character;
        if (pair) ++i;
    }
    return unit;
}

}  // namespace

std::vector<LineNumber> ExtractNumbers(std::string_view line) {
    std::vector<LineNumber> numbers;
    std::size_t previousEnd = 0;
    std::size_t at = 0;
    while (at < line.size()) {
        if (!NumberStartsAt(line, at)) {
            ++at;
            continue;
        }
        const std::size_t end = NumberEnd(line, at);
        // The rest of the word: a unit, or more digits that make it no number.
        bool mixed = false;
        std::size_t wordEnd = end;
        while (wordEnd < line.size() && (IsWordChar(line[wordEnd]) ||
                                         (line[wordEnd] == '.' && DigitAt(line, wordEnd + 1)))) {
            mixed = mixed || IsDigit(line[wordEnd]);
            ++wordEnd;
        }
        if (!mixed) {
            // strtod in the "C" locale, which the program never changes,
            // reads exactly what NumberEnd took.
            const std::string text(line.substr(at, end - at));
            const double value = std::strtod(text.c_str(), nullptr);
            if (std::isfinite(value)) {
                numbers.push_back({NameFrom(line.substr(previousEnd, at - previousEnd)), value,
                                   UnitFrom(line.substr(end, wordEnd - end))});
            }
            // The unit belongs to this number, not to the name of the next.
            previousEnd = wordEnd;
        }
        at = wordEnd;
    }
    return numbers;
}

std::string ValueText(double value) {
    char text[32];
    // Not "-0" for a value that rounds to nothing.
    std::snprintf(text, sizeof text, "%.4g", value == 0 ? 0.0 : value);
    return text;
}

}  // namespace tarnterm
