// The line of the Windows scenarios, which run under Wine: the tests'
// pseudo-terminal pair, whose port end is a COM port, with the peer end
// opened once more through its path, so that the peer thread sets its own
// time-outs once instead of before every call. The baseline opens the COM
// port the plain Win32 way.
//
// Both ends wait in ReadFile: up to the read's limit for the first byte,
// then for more until the line has been silent for a millisecond (the
// interval time-out) or the buffer is full. The documented setting that
// returns at once with whatever has come (MAXDWORD interval and multiplier)
// does not work under Wine: such a read waits out its whole total time-out
// however many bytes came.
#include <algorithm>
#include <limits>

#include "pty_pair.h"
#include "scenario_support.h"
#include "wine_unix_win32.h"

#include "host_windows.h"

namespace tarn::bench {
namespace {

std::string Error(const char* step) {
    return std::string(step) + " failed with error " + std::to_string(::GetLastError());
}

// A synchronous comm handle with the time-outs of Line and RawPort. Every
// SetCommTimeouts is a request to the Wine server, so the read limit is set
// only when it changes; writes always wait at most kStallMs.
class CommHandle {
public:
    explicit CommHandle(HANDLE handle) : handle_(handle) {}
    ~CommHandle() {
        if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
    }
    CommHandle(const CommHandle&) = delete;
    CommHandle& operator=(const CommHandle&) = delete;

    bool WriteAll(const char* data, std::size_t size) {
        if (!SetReadLimit(readLimit_ == kUnset ? 0 : readLimit_)) return false;
        for (std::size_t done = 0; done < size;) {
            DWORD put = 0;
            const DWORD want = static_cast<DWORD>(
                std::min<std::size_t>(size - done, std::numeric_limits<DWORD>::max()));
            if (!::WriteFile(handle_, data + done, want, &put, nullptr) || put == 0) return false;
            done += put;
        }
        return true;
    }

    long ReadSome(char* out, std::size_t room, int timeoutMs) {
        if (!SetReadLimit(timeoutMs)) return -1;
        DWORD got = 0;
        const DWORD want =
            static_cast<DWORD>(std::min<std::size_t>(room, std::numeric_limits<DWORD>::max()));
        if (!::ReadFile(handle_, out, want, &got, nullptr)) return -1;
        return static_cast<long>(got);
    }

private:
    static constexpr int kUnset = std::numeric_limits<int>::min();

    // A read waits up to `timeoutMs` (no limit when negative) for the first
    // byte and returns once no more has come for a millisecond; a zero limit
    // returns at once with what has come.
    bool SetReadLimit(int timeoutMs) {
        if (timeoutMs == readLimit_) return true;
        COMMTIMEOUTS t{};
        t.ReadIntervalTimeout = timeoutMs == 0 ? MAXDWORD : 1;
        t.ReadTotalTimeoutMultiplier = 0;
        t.ReadTotalTimeoutConstant = timeoutMs < 0 ? MAXDWORD - 1 : static_cast<DWORD>(timeoutMs);
        t.WriteTotalTimeoutConstant = kStallMs;
        if (!::SetCommTimeouts(handle_, &t)) return false;
        readLimit_ = timeoutMs;
        return true;
    }

    const HANDLE handle_;
    int readLimit_ = kUnset;
};

class WineLine final : public Line {
public:
    WineLine(std::unique_ptr<tarn::test::PtyPair> pair, HANDLE peer)
        : pair_(std::move(pair)), peer_(peer) {}

    std::string PortName() const override { return pair_->PortName(); }
    bool WritePeer(const char* data, std::size_t size) override {
        return peer_.WriteAll(data, size);
    }
    long ReadPeer(char* out, std::size_t room, int timeoutMs) override {
        return peer_.ReadSome(out, room, timeoutMs);
    }

private:
    std::unique_ptr<tarn::test::PtyPair> pair_;
    CommHandle peer_;  // closed before the pair is taken down
};

class Win32RawPort final : public RawPort {
public:
    explicit Win32RawPort(HANDLE handle) : port_(handle) {}

    bool WriteAll(const char* data, std::size_t size) override {
        return port_.WriteAll(data, size);
    }
    long ReadSome(char* out, std::size_t room, int timeoutMs) override {
        return port_.ReadSome(out, room, timeoutMs);
    }

private:
    CommHandle port_;
};

}  // namespace

std::unique_ptr<Line> Line::Create(std::string* whyNot) {
    auto pair = tarn::test::PtyPair::Create(whyNot);
    if (!pair) return nullptr;
    const std::wstring peerPath = tarn::test::wine::FromUtf8(pair->PeerPath());
    const HANDLE peer = ::CreateFileW(peerPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    if (peer == INVALID_HANDLE_VALUE) {
        if (whyNot) *whyNot = Error(("opening the peer " + pair->PeerPath()).c_str());
        return nullptr;
    }
    return std::make_unique<WineLine>(std::move(pair), peer);
}

std::unique_ptr<RawPort> RawPort::Open(const Line& line, std::string* whyNot) {
    const std::string path = "\\\\.\\" + line.PortName();
    const HANDLE handle = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                        OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        if (whyNot) *whyNot = Error(("CreateFile " + path).c_str());
        return nullptr;
    }
    auto port = std::make_unique<Win32RawPort>(handle);
    // 8 data bits, no parity, no flow control: every byte passes as sent.
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(handle, &dcb)) {
        if (whyNot) *whyNot = Error("GetCommState");
        return nullptr;
    }
    dcb.BaudRate = CBR_115200;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
    if (!::SetCommState(handle, &dcb)) {
        if (whyNot) *whyNot = Error("SetCommState");
        return nullptr;
    }
    return port;
}

}  // namespace tarn::bench
