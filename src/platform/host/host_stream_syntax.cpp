#include "host_stream_syntax.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

#include "host_exception.h"

namespace tarn::host {

TStreamValue TStreamValue::Identifier(UnicodeString name) {
    TStreamValue v;
    v.type = Type::Ident;
    v.ident = std::move(name);
    return v;
}

TStreamValue TStreamValue::Signed(std::int64_t value) {
    TStreamValue v;
    v.type = Type::Integer;
    v.negative = value < 0;
    // Written so that the most negative value does not overflow.
    v.magnitude = value < 0 ? static_cast<std::uint64_t>(-(value + 1)) + 1
                            : static_cast<std::uint64_t>(value);
    return v;
}

TStreamValue TStreamValue::Unsigned(std::uint64_t value) {
    TStreamValue v;
    v.type = Type::Integer;
    v.magnitude = value;
    return v;
}

TStreamValue TStreamValue::Real(double value) {
    TStreamValue v;
    v.type = Type::Float;
    v.real = value;
    return v;
}

TStreamValue TStreamValue::String(UnicodeString text) {
    TStreamValue v;
    v.type = Type::String;
    v.text = std::move(text);
    return v;
}

namespace {

bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsHexDigit(char c) { return IsDigit(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }
int HexValue(char c) {
    if (IsDigit(c)) return c - '0';
    return (c >= 'a' ? c - 'a' : c - 'A') + 10;
}

std::string Narrow(const UnicodeString& ascii) { return UnicodeToUtf8(ascii); }

class Lexer {
public:
    explicit Lexer(const std::string& text) : s_(text) {}

    std::vector<detail::StreamToken> Run() {
        std::vector<detail::StreamToken> tokens;
        for (;;) {
            SkipBlanks();
            detail::StreamToken token;
            token.line = line_;
            if (i_ >= s_.size()) {
                tokens.push_back(token);
                return tokens;
            }
            const char c = s_[i_];
            if (IsLetter(c)) {
                token.kind = detail::StreamToken::Kind::Value;
                token.value = ReadIdent();
            } else if (StartsNumber()) {
                token.kind = detail::StreamToken::Kind::Value;
                token.value = ReadNumber();
            } else if (c == '\'' || c == '#') {
                token.kind = detail::StreamToken::Kind::Value;
                token.value = ReadString();
            } else if (c != '\0' && std::strchr("=:.[](),<>{}", c) != nullptr) {
                token.kind = detail::StreamToken::Kind::Symbol;
                token.symbol = c;
                ++i_;
            } else {
                Fail(u"unexpected character #" + IntToStr(static_cast<unsigned char>(c)));
            }
            tokens.push_back(std::move(token));
        }
    }

private:
    [[noreturn]] void Fail(const UnicodeString& message) const {
        throw EReadError(u"Line " + IntToStr(line_) + u": " + message);
    }

    char At(std::size_t i) const { return i < s_.size() ? s_[i] : '\0'; }

    void SkipBlanks() {
        while (i_ < s_.size()) {
            const char c = s_[i_];
            if (c == '\n') {
                ++line_;
                ++i_;
            } else if (c == '\r') {
                // CR LF, LF and a lone CR each end one line.
                ++line_;
                ++i_;
                if (At(i_) == '\n') ++i_;
            } else if (c == ' ' || c == '\t' || c == '\f' || c == '\v') {
                ++i_;
            } else {
                return;
            }
        }
    }

    bool StartsNumber() const {
        const char c = s_[i_];
        if (IsDigit(c) || c == '$') return true;
        if (c != '-' && c != '+') return false;
        const char next = At(i_ + 1);
        return IsDigit(next) || next == '$' || MatchesInf(i_ + 1);
    }

    bool MatchesInf(std::size_t at) const {
        return (At(at) == 'I' || At(at) == 'i') && (At(at + 1) == 'N' || At(at + 1) == 'n') &&
               (At(at + 2) == 'F' || At(at + 2) == 'f') && !IsLetter(At(at + 3)) &&
               !IsDigit(At(at + 3));
    }

    TStreamValue ReadIdent() {
        const std::size_t start = i_;
        while (i_ < s_.size() && (IsLetter(s_[i_]) || IsDigit(s_[i_]))) ++i_;
        const std::string name = s_.substr(start, i_ - start);
        return TStreamValue::Identifier(UnicodeString(name.begin(), name.end()));
    }

    void EndOfNumber() const {
        if (IsLetter(At(i_)) || IsDigit(At(i_))) Fail(u"malformed number");
    }

    std::uint64_t ReadHex() {
        ++i_;  // the '$'
        if (!IsHexDigit(At(i_))) Fail(u"'$' must be followed by hexadecimal digits");
        std::uint64_t value = 0;
        while (IsHexDigit(At(i_))) {
            if (value > (std::numeric_limits<std::uint64_t>::max() >> 4)) Fail(u"number too large");
            value = (value << 4) | static_cast<std::uint64_t>(HexValue(s_[i_]));
            ++i_;
        }
        return value;
    }

    TStreamValue ReadNumber() {
        const std::size_t start = i_;
        bool negative = false;
        if (s_[i_] == '-' || s_[i_] == '+') {
            negative = s_[i_] == '-';
            ++i_;
        }
        if (MatchesInf(i_)) {
            i_ += 3;
            const double inf = std::numeric_limits<double>::infinity();
            return TStreamValue::Real(negative ? -inf : inf);
        }
        if (At(i_) == '$') {
            TStreamValue v = TStreamValue::Unsigned(ReadHex());
            v.negative = negative && v.magnitude != 0;
            EndOfNumber();
            return v;
        }
        const std::size_t digits = i_;
        while (IsDigit(At(i_))) ++i_;
        bool isFloat = false;
        if (At(i_) == '.' && IsDigit(At(i_ + 1))) {
            isFloat = true;
            ++i_;
            while (IsDigit(At(i_))) ++i_;
        }
        if (At(i_) == 'e' || At(i_) == 'E') {
            std::size_t j = i_ + 1;
            if (At(j) == '+' || At(j) == '-') ++j;
            if (!IsDigit(At(j))) Fail(u"malformed number");
            isFloat = true;
            i_ = j;
            while (IsDigit(At(i_))) ++i_;
        }
        EndOfNumber();
        if (isFloat) {
            // from_chars takes no leading '+'.
            const std::size_t from = s_[start] == '+' ? start + 1 : start;
            double value = 0;
            const auto result = std::from_chars(s_.data() + from, s_.data() + i_, value);
            if (result.ec != std::errc() || result.ptr != s_.data() + i_) {
                Fail(u"number out of range");
            }
            return TStreamValue::Real(value);
        }
        std::uint64_t magnitude = 0;
        for (std::size_t k = digits; k < i_; ++k) {
            const auto digit = static_cast<std::uint64_t>(s_[k] - '0');
            if (magnitude > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) {
                Fail(u"number too large");
            }
            magnitude = magnitude * 10 + digit;
        }
        TStreamValue v = TStreamValue::Unsigned(magnitude);
        v.negative = negative && magnitude != 0;
        return v;
    }

    TStreamValue ReadString() {
        UnicodeString text;
        while (At(i_) == '\'' || At(i_) == '#') {
            if (s_[i_] == '\'') {
                ++i_;
                for (;;) {
                    if (i_ >= s_.size() || s_[i_] == '\n' || s_[i_] == '\r') {
                        Fail(u"unterminated string");
                    }
                    if (s_[i_] == '\'') {
                        if (At(i_ + 1) != '\'') {
                            ++i_;
                            break;
                        }
                        i_ += 2;
                        text += u'\'';
                        continue;
                    }
                    text += static_cast<char16_t>(static_cast<unsigned char>(s_[i_]));
                    ++i_;
                }
            } else {
                ++i_;
                std::uint64_t code = 0;
                if (At(i_) == '$') {
                    code = ReadHex();
                } else {
                    if (!IsDigit(At(i_))) Fail(u"'#' must be followed by a character code");
                    while (IsDigit(At(i_))) {
                        code = code * 10 + static_cast<std::uint64_t>(s_[i_] - '0');
                        if (code > 0xFFFF) Fail(u"character code too large");
                        ++i_;
                    }
                }
                if (code > 0xFFFF) Fail(u"character code too large");
                text += static_cast<char16_t>(code);
            }
        }
        if (IsLetter(At(i_)) || IsDigit(At(i_))) Fail(u"malformed string");
        return TStreamValue::String(std::move(text));
    }

    const std::string& s_;
    std::size_t i_ = 0;
    int line_ = 1;
};

}  // namespace

std::string FormatStreamValue(const TStreamValue& value) {
    switch (value.type) {
        case TStreamValue::Type::Ident:
            return Narrow(value.ident);
        case TStreamValue::Type::Integer: {
            const std::string digits = std::to_string(value.magnitude);
            return value.negative && value.magnitude != 0 ? "-" + digits : digits;
        }
        case TStreamValue::Type::Float: {
            if (std::isnan(value.real)) return "NaN";
            if (std::isinf(value.real)) return value.real < 0 ? "-INF" : "INF";
            char buffer[64];
            const auto result = std::to_chars(buffer, buffer + sizeof buffer, value.real);
            std::string text(buffer, result.ptr);
            // The shortest form of a whole number has no point, and reads
            // back as an integer: that loses the sign of a negative zero and
            // fails beyond the integers' range. Those keep a point.
            const bool whole = text.find_first_of(".eE") == std::string::npos;
            if (whole && ((value.real == 0 && std::signbit(value.real)) ||
                          std::fabs(value.real) >= 18446744073709551616.0)) {
                text += ".0";
            }
            return text;
        }
        case TStreamValue::Type::String: {
            if (value.text.empty()) return "''";
            std::string out;
            bool quoted = false;
            for (const char16_t c : value.text) {
                const bool printable = c >= 32 && c <= 126;
                if (printable != quoted) {
                    out += '\'';
                    quoted = printable;
                }
                if (printable) {
                    out += static_cast<char>(c);
                    if (c == u'\'') out += '\'';
                } else {
                    out += '#';
                    out += std::to_string(static_cast<unsigned>(c));
                }
            }
            if (quoted) out += '\'';
            return out;
        }
    }
    return {};
}

TStreamValue ParseStreamValue(const std::string& text) {
    const std::vector<detail::StreamToken> tokens = detail::Tokenize(text);
    if (tokens.size() != 2 || tokens[0].kind != detail::StreamToken::Kind::Value) {
        throw EReadError(u"\"" + Utf8ToUnicode(text) + u"\" is not a single value");
    }
    return tokens[0].value;
}

namespace detail {

std::vector<StreamToken> Tokenize(const std::string& text) { return Lexer(text).Run(); }

}  // namespace detail

}  // namespace tarn::host
