// The two string types of the host runtime and the conversions between them.
//
// A byte string (AnsiString) carries data exactly as it travels on a line:
// one byte per character, never converted. A text string (UnicodeString) is
// UTF-16 and carries names and messages. Between the two stands the system's
// ANSI code page: on Windows the process's CP_ACP, elsewhere ISO-8859-1
// (Latin-1), where byte b and U+00bb are the same character.
//
// Every function here is pure and may be called from any thread.
#pragma once

#include <cstdint>
#include <string>

namespace tarn::host {

using AnsiString = std::string;
using UnicodeString = std::u16string;

// Byte string to text through the ANSI code page. On POSIX every byte maps
// to the code point of the same value, so any byte string round-trips.
UnicodeString AnsiToUnicode(const AnsiString& text);

// Text to byte string through the ANSI code page. On POSIX a character above
// U+00FF has no byte and becomes '?'; on Windows the code page's best fit or
// its default character applies, as WideCharToMultiByte decides.
AnsiString UnicodeToAnsi(const UnicodeString& text);

// UTF-8 for printing and for exception texts. Invalid input becomes U+FFFD
// (decoding) or is encoded as U+FFFD (a lone surrogate when encoding).
std::string UnicodeToUtf8(const UnicodeString& text);
UnicodeString Utf8ToUnicode(const std::string& text);

// Removes the leading and trailing characters whose code is 32 or less, as
// the host's Trim does: blanks and every control character.
AnsiString Trim(const AnsiString& text);
UnicodeString Trim(const UnicodeString& text);

// Upper-cases the letters a to z only; every other character is copied.
AnsiString UpperCaseAscii(const AnsiString& text);
UnicodeString UpperCaseAscii(const UnicodeString& text);

// Equality without regard to the case of the letters a to z.
bool SameTextAscii(const AnsiString& a, const AnsiString& b);
bool SameTextAscii(const UnicodeString& a, const UnicodeString& b);

// Compares like strcmp after folding a to z to upper case: negative, zero
// or positive. Used for sorted string lists.
int CompareTextAscii(const UnicodeString& a, const UnicodeString& b);

// Decimal text of an integer.
UnicodeString IntToStr(std::int64_t value);

}  // namespace tarn::host
