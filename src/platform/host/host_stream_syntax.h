// The text syntax of component streams, below the level of objects:
// tokens and the writing and reading of single values.
//
//   identifiers   spCOM3, True, SerialPort1Receive
//   integers      0, -12, $FF (hexadecimal)
//   floats        1.5, -2.5E-3 (a point, never a comma)
//   strings       'it''s', #13#10, 'abc'#13#10'def' (pieces written side by
//                 side without blanks make one string; #n is the character
//                 of code n, 0 to 65535)
//
// A string inside quotes is taken byte by byte: each byte is one character
// of that code. Writers therefore quote only the printable ASCII characters
// and write every other character as #n, so that streams are plain ASCII.
// Pure functions; safe on any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host_strings.h"

namespace tarn::host {

// One property value as a stream carries it.
struct TStreamValue {
    enum class Type : std::uint8_t { Ident, Integer, Float, String };

    Type type = Type::Ident;
    UnicodeString ident;  // Ident
    // Integer: sign and magnitude, which hold every 64-bit value exactly.
    bool negative = false;
    std::uint64_t magnitude = 0;
    double real = 0;     // Float
    UnicodeString text;  // String: one code unit per character

    static TStreamValue Identifier(UnicodeString name);
    static TStreamValue Signed(std::int64_t value);
    static TStreamValue Unsigned(std::uint64_t value);
    static TStreamValue Real(double value);
    static TStreamValue String(UnicodeString text);
};

// The stream text of a value. Floats are written with the fewest digits
// that read back to the same double; NaN and infinities as NaN, INF, -INF.
std::string FormatStreamValue(const TStreamValue& value);

// Reads a text that holds exactly one value. Raises EReadError.
TStreamValue ParseStreamValue(const std::string& text);

namespace detail {

struct StreamToken {
    enum class Kind : std::uint8_t { Value, Symbol, End };
    Kind kind = Kind::End;
    TStreamValue value;  // Kind::Value
    char symbol = 0;     // Kind::Symbol: one of = : . [ ] ( ) < > { } ,
    int line = 1;
};

// Splits stream text into tokens, ending with one Kind::End token. Raises
// EReadError naming the line for text that is not made of tokens.
std::vector<StreamToken> Tokenize(const std::string& text);

}  // namespace detail

}  // namespace tarn::host
