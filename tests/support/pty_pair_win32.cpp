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
#include "wine_unix_win32.h"

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

// Starts `/bin/sh pty-pair.sh command pairDir`; callers wait for the files
// that the script leaves.
bool RunScript(const std::string& command, const std::string& pairDir, std::string* whyNot) {
    return wine::RunShellScript(kScript, {command, pairDir}, whyNot);
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
    WinePtyPair(std::wstring dosDir, std::string unixDir, std::string portName, PeerHandles peer)
        : dosDir_(std::move(dosDir)),
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
    std::string PortPath() const override { return unixDir_ + "/port"; }
    std::string PeerPath() const override { return wine::Utf8(dosDir_ + L"\\peer"); }

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
        if (!RunScript("remove", unixDir_, nullptr)) return;
        const Clock::time_point deadline = Clock::now() + kScriptLimit;
        while (wine::Exists(dosDir_) && Clock::now() < deadline) ::Sleep(2);
    }

    bool Unlist() override { return DeleteSerialCommValue(valueName_); }

private:
    const std::wstring dosDir_;
    const std::string unixDir_;
    const std::string portName_;
    const std::u16string valueName_;
    std::shared_mutex peerMutex_;
    PeerHandles peer_;  // guarded by peerMutex_
    std::atomic<bool> removed_{false};
};

}  // namespace

// The "COMn" name is a link of the prefix already, which Unlist leaves.
std::unique_ptr<PtyPair> PtyPair::Create(std::string* whyNot, bool) {
    if (!wine::Available()) {
        if (whyNot)
            *whyNot = "pseudo-terminal pairs need Wine (kernel32 lacks its file name calls)";
        return nullptr;
    }
    // A build that was moved away from its source tree has no script.
    if (!wine::Exists(wine::DosName(kScript))) {
        if (whyNot) *whyNot = std::string("the script ") + kScript + " is missing";
        return nullptr;
    }
    std::string unixDir;
    std::wstring dosDir;
    if (!wine::NewWorkFolder(unixDir, dosDir, whyNot)) return nullptr;
    if (!RunScript("create", unixDir, whyNot)) return nullptr;

    const std::wstring nameFile = dosDir + L"\\name";
    const std::wstring errorFile = dosDir + L"\\error";
    const Clock::time_point deadline = Clock::now() + kScriptLimit;
    while (!wine::Exists(nameFile) && !wine::Exists(errorFile) && Clock::now() < deadline) {
        ::Sleep(2);
    }
    if (!wine::Exists(nameFile)) {
        const std::string error = wine::ReadWholeFile(errorFile);
        if (whyNot) {
            *whyNot = "no pseudo-terminal pair: " +
                      (error.empty() ? "the script did not finish in " + unixDir : error);
        }
        RunScript("remove", unixDir, nullptr);
        return nullptr;
    }

    std::string portName = wine::ReadWholeFile(nameFile);
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
    auto pair = std::make_unique<WinePtyPair>(dosDir, unixDir, portName, peer);
    if (peer.reader == INVALID_HANDLE_VALUE || peer.writer == INVALID_HANDLE_VALUE) {
        if (whyNot) *whyNot = "cannot open the peer end, error " + std::to_string(peerError);
        return nullptr;
    }
    if (!pair->Register(whyNot)) return nullptr;
    return pair;
}

bool PtyPair::DrainReachesPeer() { return false; }

}  // namespace tarn::test
