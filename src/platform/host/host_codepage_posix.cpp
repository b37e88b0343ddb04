// The ANSI code page of a POSIX build is ISO-8859-1: each byte is the code
// point of the same value. It is the one single-byte encoding that maps
// every byte, so byte strings survive a trip through text unchanged.
#include "host_strings.h"

namespace tarn::host {

UnicodeString AnsiToUnicode(const AnsiString& text) {
    UnicodeString out;
    out.reserve(text.size());
    for (const char c : text) out += static_cast<char16_t>(static_cast<unsigned char>(c));
    return out;
}

AnsiString UnicodeToAnsi(const UnicodeString& text) {
    AnsiString out;
    out.reserve(text.size());
    for (const char16_t c : text) out += c <= 0xFF ? static_cast<char>(c) : '?';
    return out;
}

}  // namespace tarn::host
