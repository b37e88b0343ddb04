// The lowest level of the stream syntax: splitting a text into tokens and
// reading one value. Any text is either taken or refused with EReadError;
// a value that is read writes itself as a text that reads back to the same
// value and writes the same text again.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "host_exception.h"
#include "host_stream_syntax.h"
#include "host_strings.h"

namespace {

using tarn::fuzz::Quoted;
using tarn::fuzz::Require;
using tarn::host::TStreamValue;
using tarn::host::detail::StreamToken;

// CR LF, LF and a lone CR each end one line, as for the tokeniser.
int LineCount(const std::string& text) {
    int lines = 1;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n') ++lines;
        if (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n')) ++lines;
    }
    return lines;
}

void CheckTokens(const std::string& text) {
    std::vector<StreamToken> tokens;
    try {
        tokens = tarn::host::detail::Tokenize(text);
    } catch (const tarn::host::EReadError&) {
        return;
    }
    Require(!tokens.empty() && tokens.back().kind == StreamToken::Kind::End,
            "the tokens end with one end token: " + Quoted(text));
    const int lines = LineCount(text);
    int previous = 1;
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        Require(tokens[i].kind != StreamToken::Kind::End || i + 1 == tokens.size(),
                "an end token inside the tokens: " + Quoted(text));
        Require(tokens[i].line >= previous && tokens[i].line <= lines,
                "token line numbers rise within the text: " + Quoted(text));
        previous = tokens[i].line;
    }
}

// The number that a numeric value stands for. Stream text writes plus
// infinity as the identifier INF, and an integral float as an integer.
bool AsNumber(const TStreamValue& value, double& number) {
    switch (value.type) {
        case TStreamValue::Type::Float:
            number = value.real;
            return true;
        case TStreamValue::Type::Integer:
            number = static_cast<double>(value.magnitude) * (value.negative ? -1 : 1);
            return true;
        case TStreamValue::Type::Ident:
            number = std::numeric_limits<double>::infinity();
            return tarn::host::SameTextAscii(value.ident, tarn::host::UnicodeString(u"INF"));
        default:
            return false;
    }
}

bool SameValue(const TStreamValue& a, const TStreamValue& b) {
    switch (a.type) {
        case TStreamValue::Type::Ident:
            return b.type == a.type && b.ident == a.ident;
        case TStreamValue::Type::Integer:
            return b.type == a.type && b.negative == a.negative && b.magnitude == a.magnitude;
        case TStreamValue::Type::String:
            return b.type == a.type && b.text == a.text;
        case TStreamValue::Type::Float: {
            // The same double: zero keeps its sign.
            double number = 0;
            return AsNumber(b, number) && number == a.real &&
                   std::signbit(number) == std::signbit(a.real);
        }
    }
    return false;
}

void CheckValue(const std::string& text) {
    TStreamValue value;
    try {
        value = tarn::host::ParseStreamValue(text);
    } catch (const tarn::host::EReadError&) {
        return;
    }
    const std::string written = tarn::host::FormatStreamValue(value);
    TStreamValue back;
    try {
        back = tarn::host::ParseStreamValue(written);
    } catch (const tarn::host::EReadError& e) {
        Require(false, "the written value " + Quoted(written) + " of " + Quoted(text) +
                           " does not read back: " + e.what());
    }
    Require(SameValue(value, back),
            "the written value " + Quoted(written) + " reads back as another value");
    Require(tarn::host::FormatStreamValue(back) == written,
            "the written value " + Quoted(written) + " writes differently when read back");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    CheckTokens(text);
    CheckValue(text);
    return 0;
}
