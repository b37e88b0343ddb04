// The bytes that keys in the console input buffer type: what tarnterm sends,
// and where its menu key is seen.
#pragma once

#include <string>

#include <windows.h>

namespace tarnterm {

class ConsoleKeys {
public:
    // Appends what `record` types to `keys`, as often as the key repeats:
    // the character of a key press in UTF-8, or for a cursor or function key
    // the escape sequence a POSIX terminal sends. Releases (but that of Alt
    // ending a character code), bare modifier keys, mouse, focus and resize
    // events type nothing.
    void Append(const INPUT_RECORD& record, std::string& keys);

private:
    // A character beyond the Basic Multilingual Plane comes as two records.
    wchar_t highSurrogate_ = 0;
};

// UTF-8 for UTF-16 text; a `length` of -1 converts up to and including the
// terminating NUL.
std::string Utf8(const wchar_t* text, int length);

}  // namespace tarnterm
