// The Unix side of a Windows test under Wine (wine_unix_win32.h).
#include "wine_unix_win32.h"

#include <atomic>

#include "host_windows.h"

namespace tarn::test::wine {
namespace {

// Wine's own conversions between Unix and Windows file names, exported by
// its kernel32. Both return memory from the process heap.
using UnixToDos = WCHAR*(CDECL*)(const char*);
using DosToUnix = char*(CDECL*)(const WCHAR*);

struct WineNames {
    UnixToDos toDos = nullptr;
    DosToUnix toUnix = nullptr;
};

const WineNames& Names() {
    static const WineNames names = [] {
        WineNames found;
        HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
        if (kernel32 == nullptr) return found;
        found.toDos = reinterpret_cast<UnixToDos>(
            reinterpret_cast<void*>(::GetProcAddress(kernel32, "wine_get_dos_file_name")));
        found.toUnix = reinterpret_cast<DosToUnix>(
            reinterpret_cast<void*>(::GetProcAddress(kernel32, "wine_get_unix_file_name")));
        return found;
    }();
    return names;
}

std::wstring Environment(const wchar_t* name) {
    wchar_t buffer[32768];
    const DWORD length = ::GetEnvironmentVariableW(name, buffer, sizeof buffer / sizeof *buffer);
    if (length == 0 || length >= sizeof buffer / sizeof *buffer) return {};
    return std::wstring(buffer, length);
}

// Quotes one argument of a command line the way the C runtime splits it,
// which is also how Wine splits it for a Unix program.
std::wstring Quoted(const std::wstring& argument) {
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes before a quote are doubled, and the quote escaped.
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted.push_back(c);
    }
    quoted.append(backslashes * 2, L'\\');
    quoted.push_back(L'"');
    return quoted;
}

// The Unix folder that holds the work folders, created when missing.
bool WorkFolders(std::string& unixFolder, std::wstring& dosFolder, std::string* whyNot) {
    unixFolder = Utf8(Environment(L"TARN_WINE_PTY_DIR"));
    if (unixFolder.empty()) {
        wchar_t temp[MAX_PATH + 1];
        const DWORD length = ::GetTempPathW(MAX_PATH + 1, temp);
        if (length == 0 || length > MAX_PATH) {
            if (whyNot) *whyNot = "the temporary folder is unknown";
            return false;
        }
        unixFolder = UnixName(std::wstring(temp, length) + L"tarn-pty");
    }
    dosFolder = DosName(unixFolder);
    if (unixFolder.empty() || dosFolder.empty()) {
        if (whyNot) *whyNot = "no folder for the Unix side's files";
        return false;
    }
    if (!::CreateDirectoryW(dosFolder.c_str(), nullptr) &&
        ::GetLastError() != ERROR_ALREADY_EXISTS) {
        if (whyNot) *whyNot = "cannot create " + unixFolder;
        return false;
    }
    return true;
}

}  // namespace

bool Available() { return Names().toDos != nullptr && Names().toUnix != nullptr; }

std::wstring DosName(const std::string& unixName) {
    if (!Available()) return {};
    WCHAR* dos = Names().toDos(unixName.c_str());
    if (dos == nullptr) return {};
    std::wstring result(dos);
    ::HeapFree(::GetProcessHeap(), 0, dos);
    return result;
}

std::string UnixName(const std::wstring& dosName) {
    if (!Available()) return {};
    char* unixName = Names().toUnix(dosName.c_str());
    if (unixName == nullptr) return {};
    std::string result(unixName);
    ::HeapFree(::GetProcessHeap(), 0, unixName);
    return result;
}

// Unix paths in the environment and on a Unix program's command line are in
// the Unix code page, UTF-8 here.
std::string Utf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    if (size > 0) {
        ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &result[0],
                              size, nullptr, nullptr);
    }
    return result;
}

std::wstring FromUtf8(const std::string& text) {
    if (text.empty()) return {};
    const int size =
        ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring result(static_cast<std::size_t>(size > 0 ? size : 0), L'\0');
    if (size > 0) {
        ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &result[0],
                              size);
    }
    return result;
}

bool Exists(const std::wstring& path) {
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ReadWholeFile(const std::wstring& path) {
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    std::string text;
    char buffer[1024];
    DWORD got = 0;
    while (::ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        text.append(buffer, got);
    }
    ::CloseHandle(file);
    const auto first = text.find_first_not_of(" \t\r\n");
    const auto last = text.find_last_not_of(" \t\r\n");
    return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

bool RunShellScript(const std::string& script, const std::vector<std::string>& arguments,
                    std::string* whyNot) {
    std::wstring line = Quoted(DosName("/bin/sh")) + L" " + Quoted(FromUtf8(script));
    for (const std::string& argument : arguments) line += L" " + Quoted(FromUtf8(argument));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &process)) {
        if (whyNot)
            *whyNot = "starting /bin/sh failed with error " + std::to_string(::GetLastError());
        return false;
    }
    // For a Unix program Wine leaves the process information unset, so the
    // "handles" in it are whatever was there and must not be closed: doing
    // so closed handles of this process that happened to have those values.
    return true;
}

bool NewWorkFolder(std::string& unixDir, std::wstring& dosDir, std::string* whyNot) {
    std::string unixFolder;
    std::wstring dosFolder;
    if (!WorkFolders(unixFolder, dosFolder, whyNot)) return false;
    // CreateDirectory claims a name atomically, also against other processes.
    static std::atomic<unsigned> counter{0};
    for (;;) {
        const std::string leaf =
            std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(++counter);
        dosDir = dosFolder + L"\\" + std::wstring(leaf.begin(), leaf.end());
        if (::CreateDirectoryW(dosDir.c_str(), nullptr)) {
            unixDir = unixFolder + "/" + leaf;
            return true;
        }
        if (::GetLastError() != ERROR_ALREADY_EXISTS) {
            if (whyNot) *whyNot = "cannot create a folder in " + unixFolder;
            return false;
        }
    }
}

}  // namespace tarn::test::wine
