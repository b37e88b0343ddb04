// Pseudo-terminal pairs for the Windows builds, which run their tests under
// Wine. A Windows program cannot make a terminal itself, but Wine lets it
// start Unix programs: a small shell script (pty-pair.sh, beside this file)
// has socat join two new terminals and links the port end into the prefix's
// dosdevices folder as "comN", which the program then opens as "COMn". The
// peer end is opened through its Unix path. The port is also entered in the
// port list key, as the system does for an adapter that is plugged in.
//
// The pairs live in $TARN_WINE_PTY_DIR, which scripts/wine-run.sh makes for
// each run and clears afterwards (stopping any socat a crashed test left),
// or else in a "tarn-pty" folder of the Windows temporary folder.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <shared_mutex>
#include <string>

#include "pty_pair.h"
#include "registry_edit_win32.h"

#include "host_windows.h"

namespace tarn::test {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// How long the script may take to make or take down a pair. Either takes a
// few milliseconds; the bound only keeps a broken setup from hanging.
constexpr auto kScriptLimit = 30s;
// How long WritePeer waits for the port end to take the bytes.
constexpr DWORD kWriteLimitMs = 30000;

// The script that makes and takes down the pairs, by its Unix path in the
// source tree: Wine's /bin/sh reads it from there.
constexpr char kScript[] = TARN_PTY_PAIR_SCRIPT;

// Wine's own conversions between Unix and Windows file names, exported by
// its kernel32. Both return memory from the process heap.
using UnixToDos = WCHAR*(CDECL*)(const char*);
using DosToUnix = char*(CDECL*)(const WCHAR*);

struct WineNames {
    UnixToDos toDos = nullptr;
    DosToUnix toUnix = nullptr;
};

bool FindWineNames(WineNames& names) {
    HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
    if (kernel32 == nullptr) return false;
    names.toDos = reinterpret_cast<UnixToDos>(
        reinterpret_cast<void*>(::GetProcAddress(kernel32, "wine_get_dos_file_name")));
    names.toUnix = reinterpret_cast<DosToUnix>(
        reinterpret_cast<void*>(::GetProcAddress(kernel32, "wine_get_unix_file_name")));
    return names.toDos != nullptr && names.toUnix != nullptr;
}

std::wstring DosName(const WineNames& names, const std::string& unixName) {
    WCHAR* dos = names.toDos(unixName.c_str());
    if (dos == nullptr) return {};
    std::wstring result(dos);
    ::HeapFree(::GetProcessHeap(), 0, dos);
    return result;
}

std::string UnixName(const WineNames& names, const std::wstring& dosName) {
    char* unixName = names.toUnix(dosName.c_str());
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
    const int size = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0);
    std::wstring result(static_cast<std::size_t>(size > 0 ? size : 0), L'\0');
    if (size > 0) {
        ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &result[0],
                              size);
    }
    return result;
}

std::wstring Environment(const wchar_t* name) {
    wchar_t buffer[32768];
    const DWORD length = ::GetEnvironmentVariableW(name, buffer, sizeof buffer / sizeof *buffer);
    if (length == 0 || length >= sizeof buffer / sizeof *buffer) return {};
    return std::wstring(buffer, length);
}

bool Exists(const std::wstring& path) {
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The file's text without surrounding white space.
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

// Starts `/bin/sh pty-pair.sh command pairDir`. Wine runs a Unix program
// without giving the caller a process handle, so callers wait for the files
// that the script leaves instead.
bool RunScript(const WineNames& names, const std::string& command, const std::string& pairDir,
               std::string* whyNot) {
    const std::wstring shell = DosName(names, "/bin/sh");
    std::wstring line = Quoted(shell) + L" " + Quoted(FromUtf8(kScript)) + L" " +
                        Quoted(FromUtf8(command)) + L" " + Quoted(FromUtf8(pairDir));
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

// The peer end, opened twice: Wine keeps the time-outs per handle, so a read
// with its own total time-out and a write on another thread do not change
// each other's.
struct PeerHandles {
    HANDLE reader = INVALID_HANDLE_VALUE;
    HANDLE writer = INVALID_HANDLE_VALUE;
};

class WinePtyPair final : public PtyPair {
public:
    WinePtyPair(WineNames names, std::wstring dosDir, std::string unixDir, std::string portName,
                PeerHandles peer)
        : names_(names),
          dosDir_(std::move(dosDir)),
          unixDir_(std::move(unixDir)),
          portName_(std::move(portName)),
          valueName_(u"\\Device\\TarnPty\\" + std::u16string(portName_.begin(), portName_.end())),
          peer_(peer) {}

    ~WinePtyPair() override { Remove(); }

    bool Register(std::string* whyNot) {
        return SetSerialCommString(valueName_, std::u16string(portName_.begin(), portName_.end()),
                                   whyNot);
    }

    std::string PortName() const override { return portName_; }
    std::string PeerPath() const override { return Utf8(dosDir_ + L"\\peer"); }

    bool WritePeer(const std::string& bytes) override {
        std::shared_lock<std::shared_mutex> lock(peerMutex_);
        if (peer_.writer == INVALID_HANDLE_VALUE) return false;
        COMMTIMEOUTS timeouts{0, 0, 0, 0, kWriteLimitMs};
        if (!::SetCommTimeouts(peer_.writer, &timeouts)) return false;
        std::size_t done = 0;
        while (done < bytes.size()) {
            DWORD put = 0;
            if (!::WriteFile(peer_.writer, bytes.data() + done,
                             static_cast<DWORD>(bytes.size() - done), &put, nullptr) ||
                put == 0) {
                return false;
            }
            done += put;
        }
        return true;
    }

    std::string ReadPeer(std::size_t count, std::chrono::milliseconds timeout) override {
        std::string got;
        std::shared_lock<std::shared_mutex> lock(peerMutex_);
        if (peer_.reader == INVALID_HANDLE_VALUE) return got;
        const Clock::time_point deadline = Clock::now() + timeout;
        while (got.size() < count) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) break;
            // A read ends when all it asked for came or the total time-out
            // ran out; a zero total would mean no time-out at all.
            COMMTIMEOUTS timeouts{0, 0, static_cast<DWORD>(left.count()), 0, 0};
            if (!::SetCommTimeouts(peer_.reader, &timeouts)) break;
            char buffer[4096];
            const DWORD want = static_cast<DWORD>(std::min(sizeof buffer, count - got.size()));
            DWORD n = 0;
            if (!::ReadFile(peer_.reader, buffer, want, &n, nullptr)) break;
            got.append(buffer, n);
        }
        return got;
    }

    void Remove() override {
        if (removed_.exchange(true)) return;
        DeleteSerialCommValue(valueName_);
        {
            // Waits for a read or write on the peer that is under way; each
            // ends within its time-out.
            std::unique_lock<std::shared_mutex> lock(peerMutex_);
            if (peer_.reader != INVALID_HANDLE_VALUE) ::CloseHandle(peer_.reader);
            if (peer_.writer != INVALID_HANDLE_VALUE) ::CloseHandle(peer_.writer);
            peer_ = PeerHandles{};
        }
        // The folder goes last, once the link is gone and socat has ended,
        // so that the port end has hung up when this returns.
        if (!RunScript(names_, "remove", unixDir_, nullptr)) return;
        const Clock::time_point deadline = Clock::now() + kScriptLimit;
        while (Exists(dosDir_) && Clock::now() < deadline) ::Sleep(2);
    }

private:
    const WineNames names_;
    const std::wstring dosDir_;
    const std::string unixDir_;
    const std::string portName_;
    const std::u16string valueName_;
    std::shared_mutex peerMutex_;
    PeerHandles peer_;  // guarded by peerMutex_
    std::atomic<bool> removed_{false};
};

// The Unix folder that holds the pairs, created when missing.
bool PairsFolder(const WineNames& names, std::string& unixFolder, std::wstring& dosFolder,
                 std::string* whyNot) {
    unixFolder = Utf8(Environment(L"TARN_WINE_PTY_DIR"));
    if (unixFolder.empty()) {
        wchar_t temp[MAX_PATH + 1];
        const DWORD length = ::GetTempPathW(MAX_PATH + 1, temp);
        if (length == 0 || length > MAX_PATH) {
            if (whyNot) *whyNot = "the temporary folder is unknown";
            return false;
        }
        unixFolder = UnixName(names, std::wstring(temp, length) + L"tarn-pty");
    }
    dosFolder = DosName(names, unixFolder);
    if (unixFolder.empty() || dosFolder.empty()) {
        if (whyNot) *whyNot = "no folder for pseudo-terminal pairs";
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

std::unique_ptr<PtyPair> PtyPair::Create(std::string* whyNot) {
    WineNames names;
    if (!FindWineNames(names)) {
        if (whyNot)
            *whyNot = "pseudo-terminal pairs need Wine (kernel32 lacks its file name calls)";
        return nullptr;
    }
    // A build that was moved away from its source tree has no script.
    if (!Exists(DosName(names, kScript))) {
        if (whyNot) *whyNot = std::string("the script ") + kScript + " is missing";
        return nullptr;
    }
    std::string unixFolder;
    std::wstring dosFolder;
    if (!PairsFolder(names, unixFolder, dosFolder, whyNot)) return nullptr;

    // A folder of its own for each pair; CreateDirectory claims a name
    // atomically, also against other processes.
    static std::atomic<unsigned> counter{0};
    std::string leaf;
    std::wstring dosDir;
    for (;;) {
        leaf = std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(++counter);
        dosDir = dosFolder + L"\\" + std::wstring(leaf.begin(), leaf.end());
        if (::CreateDirectoryW(dosDir.c_str(), nullptr)) break;
        if (::GetLastError() != ERROR_ALREADY_EXISTS) {
            if (whyNot) *whyNot = "cannot create a folder in " + unixFolder;
            return nullptr;
        }
    }
    const std::string unixDir = unixFolder + "/" + leaf;
    if (!RunScript(names, "create", unixDir, whyNot)) return nullptr;

    const std::wstring nameFile = dosDir + L"\\name";
    const std::wstring errorFile = dosDir + L"\\error";
    const Clock::time_point deadline = Clock::now() + kScriptLimit;
    while (!Exists(nameFile) && !Exists(errorFile) && Clock::now() < deadline) ::Sleep(2);
    if (!Exists(nameFile)) {
        const std::string error = ReadWholeFile(errorFile);
        if (whyNot) {
            *whyNot = "no pseudo-terminal pair: " +
                      (error.empty() ? "the script did not finish in " + unixDir : error);
        }
        RunScript(names, "remove", unixDir, nullptr);
        return nullptr;
    }

    std::string portName = ReadWholeFile(nameFile);
    for (char& c : portName) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    const std::wstring peerPath = dosDir + L"\\peer";
    PeerHandles peer;
    peer.reader = ::CreateFileW(peerPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    DWORD peerError = ::GetLastError();
    if (peer.reader != INVALID_HANDLE_VALUE) {
        peer.writer = ::CreateFileW(peerPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
        peerError = ::GetLastError();
    }
    // From here the pair takes itself down again on every path.
    auto pair = std::make_unique<WinePtyPair>(names, dosDir, unixDir, portName, peer);
    if (peer.reader == INVALID_HANDLE_VALUE || peer.writer == INVALID_HANDLE_VALUE) {
        if (whyNot) *whyNot = "cannot open the peer end, error " + std::to_string(peerError);
        return nullptr;
    }
    if (!pair->Register(whyNot)) return nullptr;
    return pair;
}

}  // namespace tarn::test
