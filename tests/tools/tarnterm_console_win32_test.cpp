// The Windows console as tarnterm reads it: the bytes that input records
// type, and the real console input buffer of a pseudo console, which this
// process attaches to, in raw mode and back.
#include <gtest/gtest.h>

#include <iterator>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "console.h"
#include "console_keys_win32.h"
#include "host_windows.h"
#include "terminal.h"
#include "wait_until.h"

namespace {

using tarnterm::Stream;

INPUT_RECORD Key(WORD virtualKey, wchar_t c, DWORD modifiers = 0, WORD repeat = 1) {
    INPUT_RECORD record{};
    record.EventType = KEY_EVENT;
    record.Event.KeyEvent.bKeyDown = TRUE;
    record.Event.KeyEvent.wRepeatCount = repeat;
    record.Event.KeyEvent.wVirtualKeyCode = virtualKey;
    record.Event.KeyEvent.uChar.UnicodeChar = c;
    record.Event.KeyEvent.dwControlKeyState = modifiers;
    return record;
}

INPUT_RECORD Released(INPUT_RECORD record) {
    record.Event.KeyEvent.bKeyDown = FALSE;
    return record;
}

INPUT_RECORD Event(WORD type) {
    INPUT_RECORD record{};
    record.EventType = type;
    return record;
}

struct KeysCase {
    const char* name;
    std::vector<INPUT_RECORD> records;
    std::string bytes;
};

void PrintTo(const KeysCase& keysCase, std::ostream* out) { *out << keysCase.name; }

class TarntermConsoleKeys : public testing::TestWithParam<KeysCase> {};

TEST_P(TarntermConsoleKeys, TypeTheBytesOfTheirKeys) {
    tarnterm::ConsoleKeys translate;
    std::string keys;
    for (const INPUT_RECORD& record : GetParam().records) translate.Append(record, keys);
    EXPECT_EQ(keys, GetParam().bytes);
}

const INPUT_RECORD kCtrl = Key(VK_CONTROL, 0, LEFT_CTRL_PRESSED);

INSTANTIATE_TEST_SUITE_P(
    Records, TarntermConsoleKeys,
    testing::Values(
        KeysCase{"Characters", {Key('A', L'a'), Key('B', L'B', SHIFT_PRESSED)}, "aB"},
        // UTF-8; a character beyond the Basic Multilingual Plane from its halves.
        KeysCase{"NonAscii",
                 {Key(0, L'\u00e9'), Key(0, L'\u20ac'), Key(0, 0xD83D), Key(0, 0xDE00)},
                 "\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80"},
        KeysCase{"Enter", {Key(VK_RETURN, L'\r')}, "\r"},
        KeysCase{"CtrlLetters",
                 {kCtrl, Key('A', 0x01, LEFT_CTRL_PRESSED), Key('T', 0x14, RIGHT_CTRL_PRESSED),
                  Key('C', 0x03, LEFT_CTRL_PRESSED)},
                 std::string("\x01") + tarnterm::Terminal::kMenuKey + "\x03"},
        KeysCase{
            "ReleasesTypeNothing",
            {kCtrl, Key('T', 0x14, LEFT_CTRL_PRESSED), Released(Key('T', 0x14, LEFT_CTRL_PRESSED)),
             Released(kCtrl), Released(Key('A', L'a'))},
            "\x14"},
        KeysCase{
            "RepeatCounts", {Key('A', L'a', 0, 3), Key(0, L'\u00e9', 0, 2)}, "aaa\xc3\xa9\xc3\xa9"},
        // As a terminal on a POSIX system sends them, with xterm's number for
        // the modifiers.
        KeysCase{"CursorAndFunctionKeys",
                 {Key(VK_UP, 0, ENHANCED_KEY, 2), Key(VK_LEFT, 0), Key(VK_HOME, 0),
                  Key(VK_DELETE, 0, ENHANCED_KEY), Key(VK_NEXT, 0), Key(VK_F1, 0), Key(VK_F12, 0),
                  Key(VK_RIGHT, 0, ENHANCED_KEY | LEFT_CTRL_PRESSED), Key(VK_F5, 0, SHIFT_PRESSED),
                  Key(VK_F2, 0, LEFT_ALT_PRESSED)},
                 "\x1b[A\x1b[A\x1b[D\x1b[H\x1b[3~\x1b[6~\x1bOP\x1b[24~\x1b[1;5C\x1b[15;2~"
                 "\x1b[1;3Q"},
        // Delete, as on POSIX terminals; Ctrl-H and Ctrl-Backspace stay
        // backspaces.
        KeysCase{"Backspace",
                 {Key(VK_BACK, L'\b'), Key('H', L'\b', LEFT_CTRL_PRESSED),
                  Key(VK_BACK, 0x7f, LEFT_CTRL_PRESSED)},
                 "\x7f\b\b"},
        // Alt and 0233 on the number pad, here with Num Lock off: the digits
        // type nothing, the character comes with the release of Alt.
        KeysCase{"AltNumberPad",
                 {Key(VK_MENU, 0, LEFT_ALT_PRESSED), Key(VK_INSERT, 0, LEFT_ALT_PRESSED),
                  Key(VK_DOWN, 0, LEFT_ALT_PRESSED), Key(VK_NEXT, 0, LEFT_ALT_PRESSED),
                  Key(VK_NEXT, 0, LEFT_ALT_PRESSED), Released(Key(VK_MENU, L'\u00e9'))},
                 "\xc3\xa9"},
        KeysCase{"OtherEventsTypeNothing",
                 {Event(FOCUS_EVENT), Event(WINDOW_BUFFER_SIZE_EVENT), Event(MENU_EVENT),
                  Event(MOUSE_EVENT), Key(VK_SHIFT, 0, SHIFT_PRESSED)},
                 ""}),
    [](const testing::TestParamInfo<KeysCase>& info) { return std::string(info.param.name); });

// A console without a window, whatever this process had before: a pseudo
// console, joined by a child that lives only until this process attaches to
// the same console. Standard input and output are its buffers meanwhile.
class PseudoConsole {
public:
    PseudoConsole() {
        // Looked up at run time: the headers declare it only for builds
        // that require Windows 10 1809.
        using Create = HRESULT(WINAPI*)(COORD, HANDLE, HANDLE, DWORD, void**);
        const auto create = reinterpret_cast<Create>(reinterpret_cast<void (*)()>(
            GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "CreatePseudoConsole")));
        HANDLE inputRead = nullptr;
        HANDLE outputWrite = nullptr;
        if (create == nullptr || !CreatePipe(&inputRead, &typed_, nullptr, 0) ||
            !CreatePipe(&outputRead_, &outputWrite, nullptr, 0) ||
            create({80, 25}, inputRead, outputWrite, 0, &console_) != S_OK) {
            why_ = "no pseudo console: error " + std::to_string(GetLastError());
            return;
        }
        CloseHandle(inputRead);
        CloseHandle(outputWrite);
        if (!AttachThroughChild()) return;
        in_ = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        out_ = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        if (in_ == INVALID_HANDLE_VALUE || out_ == INVALID_HANDLE_VALUE) {
            why_ = "the console buffers do not open: error " + std::to_string(GetLastError());
            return;
        }
        savedIn_ = GetStdHandle(STD_INPUT_HANDLE);
        savedOut_ = GetStdHandle(STD_OUTPUT_HANDLE);
        SetStdHandle(STD_INPUT_HANDLE, in_);
        SetStdHandle(STD_OUTPUT_HANDLE, out_);
    }

    ~PseudoConsole() {
        if (savedIn_ != nullptr) SetStdHandle(STD_INPUT_HANDLE, savedIn_);
        if (savedOut_ != nullptr) SetStdHandle(STD_OUTPUT_HANDLE, savedOut_);
        for (HANDLE handle : {in_, out_}) {
            if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
        }
        if (attached_) {
            FreeConsole();
            // Back to the console of the shell that started the tests, where
            // there is one.
            AttachConsole(ATTACH_PARENT_PROCESS);
        }
        // Closed first, so that the console's last output cannot block its
        // end while nobody reads it.
        for (HANDLE handle : {outputRead_, typed_}) {
            if (handle != nullptr) CloseHandle(handle);
        }
        if (console_ != nullptr) {
            using Close = void(WINAPI*)(void*);
            reinterpret_cast<Close>(reinterpret_cast<void (*)()>(
                GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "ClosePseudoConsole")))(console_);
        }
    }

    bool Ready() const { return why_.empty(); }
    const std::string& Why() const { return why_; }
    HANDLE In() const { return in_; }
    HANDLE Out() const { return out_; }

    // Sends bytes as a terminal sends what is typed into it.
    bool Type(const std::string& bytes) {
        DWORD wrote = 0;
        return WriteFile(typed_, bytes.data(), static_cast<DWORD>(bytes.size()), &wrote, nullptr) &&
               wrote == bytes.size();
    }

private:
    bool AttachThroughChild() {
        // PROC_THREAD_ATTRIBUTE_PSEUDOCONSOLE, which the headers also hold back.
        constexpr DWORD_PTR kPseudoConsoleAttribute = 0x00020016;
        SIZE_T size = 0;
        InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        std::vector<char> list(size);
        const auto attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(list.data());
        STARTUPINFOEXW startup{};
        startup.StartupInfo.cb = sizeof startup;
        startup.lpAttributeList = attributes;
        wchar_t system[MAX_PATH];
        GetSystemDirectoryW(system, MAX_PATH);
        // A shell that waits for input it never gets.
        std::wstring line = L"\"" + std::wstring(system) + L"\\cmd.exe\" /k";
        PROCESS_INFORMATION child{};
        if (!InitializeProcThreadAttributeList(attributes, 1, 0, &size) ||
            !UpdateProcThreadAttribute(attributes, 0, kPseudoConsoleAttribute, console_,
                                       sizeof console_, nullptr, nullptr) ||
            !CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE,
                            EXTENDED_STARTUPINFO_PRESENT, nullptr, nullptr, &startup.StartupInfo,
                            &child)) {
            why_ = "no child in the pseudo console: error " + std::to_string(GetLastError());
            return false;
        }
        DeleteProcThreadAttributeList(attributes);
        FreeConsole();
        // The child can be attached to once it has connected to its console.
        attached_ = tarn::test::WaitUntil([&] { return AttachConsole(child.dwProcessId) != 0; });
        if (!attached_) why_ = "attaching failed: error " + std::to_string(GetLastError());
        // Ended before any key is written, so that it reads none of them.
        TerminateProcess(child.hProcess, 0);
        WaitForSingleObject(child.hProcess, 30000);
        CloseHandle(child.hThread);
        CloseHandle(child.hProcess);
        return attached_;
    }

    void* console_ = nullptr;
    HANDLE typed_ = nullptr;
    HANDLE outputRead_ = nullptr;
    HANDLE in_ = INVALID_HANDLE_VALUE;
    HANDLE out_ = INVALID_HANDLE_VALUE;
    HANDLE savedIn_ = nullptr;
    HANDLE savedOut_ = nullptr;
    bool attached_ = false;
    std::string why_;
};

// Reads keys until `count` bytes have come, or for a generous while.
std::string ReadKeys(tarnterm::Console& console, std::size_t count) {
    std::string keys;
    tarn::test::WaitUntil([&] { return !console.ReadKeys(keys, 100) || keys.size() >= count; });
    return keys;
}

TEST(TarntermConsoleWin32, ReadsKeysInRawModeAndRestoresTheMode) {
    PseudoConsole pseudo;
    ASSERT_TRUE(pseudo.Ready()) << pseudo.Why();
    const DWORD cooked = ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT;
    ASSERT_TRUE(SetConsoleMode(pseudo.In(), cooked));
    DWORD inputMode = 0;
    ASSERT_TRUE(GetConsoleMode(pseudo.In(), &inputMode));
    DWORD outputMode = 0;
    ASSERT_TRUE(GetConsoleMode(pseudo.Out(), &outputMode));
    {
        const std::unique_ptr<tarnterm::Console> console = tarnterm::CreateSystemConsole();
        ASSERT_TRUE(console->IsTerminal(Stream::kInput));
        ASSERT_TRUE(console->EnterRawMode());
        DWORD raw = 0;
        ASSERT_TRUE(GetConsoleMode(pseudo.In(), &raw));
        EXPECT_EQ(raw & cooked, 0u);

        const INPUT_RECORD records[] = {Key('A', L'a'),
                                        Released(Key('A', L'a')),
                                        Event(FOCUS_EVENT),
                                        kCtrl,
                                        Key('T', 0x14, LEFT_CTRL_PRESSED),
                                        Event(WINDOW_BUFFER_SIZE_EVENT),
                                        Key(0, L'\u00e9', 0, 2)};
        DWORD wrote = 0;
        // Wine leaves the count at zero, so only the result says anything.
        ASSERT_TRUE(WriteConsoleInputW(pseudo.In(), records, std::size(records), &wrote));
        EXPECT_EQ(ReadKeys(*console, 6), "a\x14\xc3\xa9\xc3\xa9");
        // What a terminal sends for typed keys reaches the program as such.
        ASSERT_TRUE(pseudo.Type("x\x1b[A\r"));
        EXPECT_EQ(ReadKeys(*console, 5), "x\x1b[A\r");

        console->RestoreMode();
        DWORD restored = 0;
        ASSERT_TRUE(GetConsoleMode(pseudo.In(), &restored));
        EXPECT_EQ(restored, inputMode);
        ASSERT_TRUE(console->EnterRawMode());
    }
    // The program's end restores it as well, output included.
    DWORD restored = 0;
    ASSERT_TRUE(GetConsoleMode(pseudo.In(), &restored));
    EXPECT_EQ(restored, inputMode);
    ASSERT_TRUE(GetConsoleMode(pseudo.Out(), &restored));
    EXPECT_EQ(restored, outputMode);
}

}  // namespace
