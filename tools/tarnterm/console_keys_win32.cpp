#include "console_keys_win32.h"

namespace tarnterm {

std::string Utf8(const wchar_t* text, int length) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string bytes(size > 0 ? size : 0, '\0');
    if (size > 0) {
        WideCharToMultiByte(CP_UTF8, 0, text, length, &bytes[0], size, nullptr, nullptr);
    }
    return bytes;
}

void ConsoleKeys::Append(const INPUT_RECORD& record, std::string& keys) {
    if (record.EventType != KEY_EVENT) return;
    const KEY_EVENT_RECORD& key = record.Event.KeyEvent;
    if (!key.bKeyDown || key.uChar.UnicodeChar == 0) return;
    const wchar_t c = key.uChar.UnicodeChar;
    std::string bytes;
    if (c >= 0xD800 && c <= 0xDBFF) {
        // The first half of a pair; the second comes with the next record.
        highSurrogate_ = c;
        return;
    }
    if (c >= 0xDC00 && c <= 0xDFFF && highSurrogate_ != 0) {
        const wchar_t pair[2] = {highSurrogate_, c};
        bytes = Utf8(pair, 2);
    } else {
        bytes = Utf8(&c, 1);
    }
    highSurrogate_ = 0;
    for (WORD i = 0; i < (key.wRepeatCount > 0 ? key.wRepeatCount : 1); ++i) keys += bytes;
}

}  // namespace tarnterm
