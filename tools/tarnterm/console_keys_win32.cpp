#include "console_keys_win32.h"

namespace tarnterm {
namespace {

// What a terminal on a POSIX system sends for the keys that carry no
// character in the console: xterm's sequences, which nearly every terminal
// shares. The console gives them as escape sequences itself only in its
// virtual terminal input mode, which older consoles and Wine's lack.
struct KeySequence {
    WORD virtualKey;
    const char* sequence;
};
constexpr KeySequence kKeySequences[] = {
    {VK_UP, "\x1b[A"},     {VK_DOWN, "\x1b[B"},  {VK_RIGHT, "\x1b[C"},   {VK_LEFT, "\x1b[D"},
    {VK_HOME, "\x1b[H"},   {VK_END, "\x1b[F"},   {VK_INSERT, "\x1b[2~"}, {VK_DELETE, "\x1b[3~"},
    {VK_PRIOR, "\x1b[5~"}, {VK_NEXT, "\x1b[6~"}, {VK_F1, "\x1bOP"},      {VK_F2, "\x1bOQ"},
    {VK_F3, "\x1bOR"},     {VK_F4, "\x1bOS"},    {VK_F5, "\x1b[15~"},    {VK_F6, "\x1b[17~"},
    {VK_F7, "\x1b[18~"},   {VK_F8, "\x1b[19~"},  {VK_F9, "\x1b[20~"},    {VK_F10, "\x1b[21~"},
    {VK_F11, "\x1b[23~"},  {VK_F12, "\x1b[24~"},
};

std::string SequenceOf(const KEY_EVENT_RECORD& key) {
    const DWORD state = key.dwControlKeyState;
    const bool alt = (state & (LEFT_ALT_PRESSED | RIGHT_ALT_PRESSED)) != 0;
    const bool ctrl = (state & (LEFT_CTRL_PRESSED | RIGHT_CTRL_PRESSED)) != 0;
    // With Alt alone, the cursor keys of the number pad (Num Lock off) are
    // digits of a character code; the separate cursor keys are enhanced.
    if (alt && !ctrl && (state & ENHANCED_KEY) == 0 && key.wVirtualKeyCode >= VK_PRIOR &&
        key.wVirtualKeyCode <= VK_DELETE) {
        return {};
    }
    for (const KeySequence& entry : kKeySequences) {
        if (entry.virtualKey != key.wVirtualKeyCode) continue;
        const std::string plain = entry.sequence;
        const int modifiers =
            1 + ((state & SHIFT_PRESSED) != 0 ? 1 : 0) + (alt ? 2 : 0) + (ctrl ? 4 : 0);
        if (modifiers == 1) return plain;
        // xterm's form with modifiers: ESC [ number ; modifiers final, where
        // the number is 1 for the keys that have none.
        const std::string number = plain.size() > 3 ? plain.substr(2, plain.size() - 3) : "1";
        return "\x1b[" + number + ";" + std::to_string(modifiers) + plain.back();
    }
    return {};
}

}  // namespace

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
    wchar_t c = key.uChar.UnicodeChar;
    // A character typed as Alt and digits on the number pad, or pasted that
    // way by the console, comes with the release of Alt. Other releases
    // type nothing.
    if (!key.bKeyDown && (key.wVirtualKeyCode != VK_MENU || c == 0)) return;
    std::string bytes;
    if (c == 0) {
        bytes = SequenceOf(key);
    } else if (c >= 0xD800 && c <= 0xDBFF) {
        // The first half of a pair; the second comes with the next record.
        highSurrogate_ = c;
        return;
    } else if (c >= 0xDC00 && c <= 0xDFFF && highSurrogate_ != 0) {
        const wchar_t pair[2] = {highSurrogate_, c};
        bytes = Utf8(pair, 2);
    } else {
        // Backspace sends Delete and Ctrl-Backspace a backspace, as on POSIX
        // terminals; the console swaps them outside its virtual terminal
        // input mode.
        if (key.wVirtualKeyCode == VK_BACK && (c == L'\b' || c == 0x7f)) {
            c = (key.dwControlKeyState & (LEFT_CTRL_PRESSED | RIGHT_CTRL_PRESSED)) != 0 ? L'\b'
                                                                                        : 0x7f;
        }
        bytes = Utf8(&c, 1);
    }
    highSurrogate_ = 0;
    for (WORD i = 0; i < (key.wRepeatCount > 0 ? key.wRepeatCount : 1); ++i) keys += bytes;
}

}  // namespace tarnterm
