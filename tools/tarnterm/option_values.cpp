// The readers of option values that other parts of tarnterm use as well:
// digits, rates and escaped byte strings.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "option_table.h"

namespace tarnterm {

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

}  // namespace tarnterm
