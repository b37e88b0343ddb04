// A recursive-descent reader of one JSON object. Nesting is bounded, so
// that a hostile line cannot exhaust the stack, and every failure says at
// which character of the line it was found.
#include "recording_json.h"

#include <algorithm>

namespace tarn::driver::recording {
namespace {

// Deeper than any recording member needs; unknown members may nest this far.
constexpr int kMaxDepth = 32;

class Parser {
public:
    Parser(std::string_view text, std::string& error) : text_(text), error_(error) {}

    std::optional<JsonObject> Document() {
        SkipBlanks();
        if (!Peek('{')) return Fail("a line is not a JSON object");
        JsonObject object;
        if (!ObjectBody(object, 0)) return std::nullopt;
        SkipBlanks();
        if (pos_ != text_.size()) return Fail("text after the object");
        return object;
    }

private:
    std::nullopt_t Fail(const char* what) {
        if (error_.empty()) error_ = std::string(what) + " at column " + std::to_string(pos_ + 1);
        return std::nullopt;
    }
    bool Failed(const char* what) {
        Fail(what);
        return false;
    }

    bool AtEnd() const { return pos_ >= text_.size(); }
    bool Peek(char c) const { return !AtEnd() && text_[pos_] == c; }
    bool Take(char c) {
        if (!Peek(c)) return false;
        ++pos_;
        return true;
    }
    void SkipBlanks() {
        while (!AtEnd() && (text_[pos_] == ' ' || text_[pos_] == '\t' || text_[pos_] == '\r' ||
                            text_[pos_] == '\n')) {
            ++pos_;
        }
    }

    bool ObjectBody(JsonObject& object, int depth) {
        Take('{');
        SkipBlanks();
        if (Take('}')) return true;
        for (;;) {
            SkipBlanks();
            JsonValue name;
            if (!Peek('"')) return Failed("a member name expected");
            if (!String(name)) return false;
            const bool duplicate =
                std::any_of(object.begin(), object.end(),
                            [&](const auto& member) { return member.first == name.text; });
            if (duplicate) return Failed("a member named twice");
            SkipBlanks();
            if (!Take(':')) return Failed("':' expected");
            JsonValue value;
            if (!Value(value, depth)) return false;
            object.emplace_back(std::move(name.text), std::move(value));
            SkipBlanks();
            if (Take('}')) return true;
            if (!Take(',')) return Failed("',' or '}' expected");
        }
    }

    bool ArrayBody(int depth) {
        Take('[');
        SkipBlanks();
        if (Take(']')) return true;
        for (;;) {
            JsonValue item;
            if (!Value(item, depth)) return false;
            SkipBlanks();
            if (Take(']')) return true;
            if (!Take(',')) return Failed("',' or ']' expected");
        }
    }

    bool Value(JsonValue& value, int depth) {
        SkipBlanks();
        if (AtEnd()) return Failed("a value expected");
        const char c = text_[pos_];
        if (c == '"') return String(value);
        if (c == '{' || c == '[') {
            if (depth + 1 >= kMaxDepth) return Failed("values nested too deep");
            if (c == '[') {
                value.type = JsonValue::Type::Array;
                return ArrayBody(depth + 1);
            }
            value.type = JsonValue::Type::Object;
            JsonObject inner;
            return ObjectBody(inner, depth + 1);
        }
        if (c == '-' || (c >= '0' && c <= '9')) return Number(value);
        return Literal(value);
    }

    bool Literal(JsonValue& value) {
        const auto word = [&](std::string_view w) {
            if (text_.substr(pos_, w.size()) != w) return false;
            pos_ += w.size();
            return true;
        };
        if (word("true") || word("false")) {
            value.type = JsonValue::Type::Bool;
            value.boolean = text_[pos_ - 1] == 'e' && text_[pos_ - 2] == 'u';
            return true;
        }
        if (word("null")) {
            value.type = JsonValue::Type::Null;
            return true;
        }
        return Failed("a value expected");
    }

    bool Digits() {
        const std::size_t start = pos_;
        while (!AtEnd() && text_[pos_] >= '0' && text_[pos_] <= '9') ++pos_;
        return pos_ > start;
    }

    bool Number(JsonValue& value) {
        value.type = JsonValue::Type::Number;
        const bool negative = Take('-');
        const std::size_t intStart = pos_;
        if (Take('0')) {
            if (!AtEnd() && text_[pos_] >= '0' && text_[pos_] <= '9') {
                return Failed("a number with a leading zero");
            }
        } else if (!Digits()) {
            return Failed("a digit expected");
        }
        const std::string_view integerPart = text_.substr(intStart, pos_ - intStart);
        bool whole = true;
        if (Take('.')) {
            whole = false;
            if (!Digits()) return Failed("a digit expected after '.'");
        }
        if (Take('e') || Take('E')) {
            whole = false;
            if (!Take('+')) Take('-');
            if (!Digits()) return Failed("a digit expected in the exponent");
        }
        if (whole && !negative) value.integer = ToInteger(integerPart);
        return true;
    }

    static std::optional<std::uint64_t> ToInteger(std::string_view digits) {
        std::uint64_t n = 0;
        for (const char d : digits) {
            const auto digit = static_cast<std::uint64_t>(d - '0');
            if (n > (UINT64_MAX - digit) / 10) return std::nullopt;
            n = n * 10 + digit;
        }
        return n;
    }

    std::optional<unsigned> Hex4() {
        if (text_.size() - pos_ < 4) return std::nullopt;
        unsigned code = 0;
        for (int i = 0; i < 4; ++i) {
            const char h = text_[pos_++];
            code <<= 4;
            if (h >= '0' && h <= '9') {
                code |= static_cast<unsigned>(h - '0');
            } else if (h >= 'a' && h <= 'f') {
                code |= static_cast<unsigned>(h - 'a' + 10);
            } else if (h >= 'A' && h <= 'F') {
                code |= static_cast<unsigned>(h - 'A' + 10);
            } else {
                return std::nullopt;
            }
        }
        return code;
    }

    // After the backslash of "\u": one character, a surrogate pair whole.
    std::optional<unsigned> UnicodeEscape() {
        const std::optional<unsigned> high = Hex4();
        if (!high || (*high >= 0xDC00 && *high <= 0xDFFF)) return std::nullopt;
        if (*high < 0xD800 || *high > 0xDBFF) return high;
        if (!Take('\\') || !Take('u')) return std::nullopt;
        const std::optional<unsigned> low = Hex4();
        if (!low || *low < 0xDC00 || *low > 0xDFFF) return std::nullopt;
        return 0x10000 + ((*high - 0xD800) << 10) + (*low - 0xDC00);
    }

    std::optional<unsigned> Escape() {
        if (AtEnd()) return std::nullopt;
        switch (text_[pos_++]) {
            case '"':
                return '"';
            case '\\':
                return '\\';
            case '/':
                return '/';
            case 'b':
                return '\b';
            case 'f':
                return '\f';
            case 'n':
                return '\n';
            case 'r':
                return '\r';
            case 't':
                return '\t';
            case 'u':
                return UnicodeEscape();
            default:
                return std::nullopt;
        }
    }

    // One character written as UTF-8 in the line; empty for a sequence
    // that is not UTF-8 (overlong, cut, a surrogate, above U+10FFFF).
    std::optional<unsigned> Utf8Character() {
        const auto lead = static_cast<unsigned char>(text_[pos_++]);
        int extra = 0;
        unsigned code = 0;
        if (lead >= 0xC2 && lead <= 0xDF) {
            extra = 1;
            code = lead & 0x1Fu;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            extra = 2;
            code = lead & 0x0Fu;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            extra = 3;
            code = lead & 0x07u;
        } else {
            return std::nullopt;
        }
        for (int i = 0; i < extra; ++i) {
            if (AtEnd()) return std::nullopt;
            const auto next = static_cast<unsigned char>(text_[pos_++]);
            if ((next & 0xC0u) != 0x80u) return std::nullopt;
            code = (code << 6) | (next & 0x3Fu);
        }
        const unsigned least[] = {0, 0x80, 0x800, 0x10000};
        if (code < least[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            return std::nullopt;
        }
        return code;
    }

    static void AppendUtf8(std::string& out, unsigned code) {
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }

    bool String(JsonValue& value) {
        value.type = JsonValue::Type::String;
        Take('"');
        std::string bytes;
        bool allBytes = true;
        for (;;) {
            if (AtEnd()) return Failed("a string without its end");
            const auto c = static_cast<unsigned char>(text_[pos_]);
            if (c == '"') break;
            std::optional<unsigned> code;
            if (c < 0x20) return Failed("a control character in a string");
            if (c == '\\') {
                ++pos_;
                code = Escape();
                if (!code) return Failed("a bad escape in a string");
            } else if (c < 0x80) {
                code = c;
                ++pos_;
            } else {
                code = Utf8Character();
                if (!code) return Failed("a string that is not UTF-8");
            }
            AppendUtf8(value.text, *code);
            if (*code > 0xFF) allBytes = false;
            if (allBytes) bytes += static_cast<char>(*code);
        }
        ++pos_;
        if (allBytes) value.bytes = std::move(bytes);
        return true;
    }

    std::string_view text_;
    std::string& error_;
    std::size_t pos_ = 0;
};

}  // namespace

std::optional<JsonObject> ParseJsonObject(std::string_view text, std::string& error) {
    error.clear();
    return Parser(text, error).Document();
}

const JsonValue* FindMember(const JsonObject& object, std::string_view name) {
    for (const auto& member : object) {
        if (member.first == name) return &member.second;
    }
    return nullptr;
}

}  // namespace tarn::driver::recording
