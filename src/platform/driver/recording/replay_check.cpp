// The check talks to the replayed port through the driver seam, as an
// application would, so that it tests the file and the replay together.
#include "replay_check.h"

#include <optional>
#include <vector>

#include "comm_state.h"
#include "recording_reader.h"
#include "replay_timeline.h"
#include "serial_driver.h"

namespace tarn::driver::recording {
namespace {

DCB DcbOf(const LineSettings& s) {
    DCB dcb = DefaultDcb();
    dcb.BaudRate = s.baud;
    dcb.ByteSize = static_cast<std::uint8_t>(s.bits);
    dcb.Parity = static_cast<std::uint8_t>(s.parity);
    dcb.StopBits = static_cast<std::uint8_t>(s.stop);
    std::uint32_t flags = dcb.Flags & ~(DCB_fOutxCtsFlow | DCB_fOutxDsrFlow | DCB_fOutX | DCB_fInX |
                                        DCB_fDtrControlMask | DCB_fRtsControlMask);
    if (s.cts) flags |= DCB_fOutxCtsFlow;
    if (s.dsr) flags |= DCB_fOutxDsrFlow;
    if (s.xonxoff) flags |= DCB_fOutX | DCB_fInX;
    flags |= static_cast<std::uint32_t>(s.dtr) << DCB_fDtrControlShift;
    flags |= static_cast<std::uint32_t>(s.rts) << DCB_fRtsControlShift;
    dcb.Flags = flags;
    return dcb;
}

std::string LastError() { return SystemErrorText(GetLastError()); }

// Plays one event against the open port; false with `problem` set.
bool CheckEvent(HANDLE h, const Event& e, std::string& problem) {
    const std::string at = "line " + std::to_string(e.line) + ": ";
    switch (e.kind) {
        case EventKind::Sent: {
            std::uint32_t written = 0;
            const auto size = static_cast<std::uint32_t>(e.data.size());
            if (WriteFile(h, e.data.data(), size, &written) && written == size) return true;
            problem = at + "the replay refused the recorded request: " + LastError();
            return false;
        }
        case EventKind::Received: {
            // In a conversation the answer is there as soon as the request
            // before it was written: nothing is waited for.
            std::string got(e.data.size(), '\0');
            std::uint32_t read = 0;
            const auto size = static_cast<std::uint32_t>(got.size());
            if (size > 0 && !ReadFile(h, &got[0], size, &read)) read = 0;
            got.resize(read);
            if (got == e.data) return true;
            problem = at + "expected " + EscapedBytes(e.data) + " from the replay, got " +
                      EscapedBytes(got);
            return false;
        }
        case EventKind::Settings:
            if (SetCommState(h, DcbOf(e.settings))) return true;
            problem = at + "settings that no port takes: " + LastError();
            return false;
        case EventKind::Gone: {
            std::uint32_t status = 0;
            if (!GetCommModemStatus(h, &status)) return true;
            problem = at + "the device did not go away";
            return false;
        }
        case EventKind::Modem:
        case EventKind::Escape:
        case EventKind::Purge:
            return true;
    }
    return true;
}

}  // namespace

bool CheckReplay(const std::string& path, std::string& report) {
    std::string error;
    const std::optional<Recording> recording = ReadRecordingFile(path, error);
    if (!recording) {
        report = error;
        return false;
    }
    // Looked for before anything is played: the replay plays a removal as
    // soon as it is due, and what comes after it would fail for that.
    const std::vector<Event>& events = recording->events;
    for (std::size_t i = 0; i + 1 < events.size(); ++i) {
        if (events[i].kind != EventKind::Gone) continue;
        report = path + ", line " + std::to_string(events[i + 1].line) +
                 ": an event after the device went away (line " + std::to_string(events[i].line) +
                 ")";
        return false;
    }
    const HANDLE h = CreateFileA(DevicePath("replay://" + path));
    if (h == INVALID_HANDLE_VALUE) {
        report = path + ": the replay does not open: " + LastError();
        return false;
    }
    // Reads return at once with what is there.
    SetCommTimeouts(h, COMMTIMEOUTS{0xFFFFFFFFu, 0, 0, 0, 0});
    std::size_t sent = 0;
    std::size_t received = 0;
    bool ok = true;
    for (std::size_t i = 0; i < recording->events.size() && ok; ++i) {
        const Event& e = recording->events[i];
        ok = CheckEvent(h, e, report);
        if (!ok) report = path + ", " + report;
        if (e.kind == EventKind::Sent) sent += e.data.size();
        if (e.kind == EventKind::Received) received += e.data.size();
    }
    CloseHandle(h);
    if (ok) {
        report = path + ": consistent, " + std::to_string(recording->events.size()) + " events, " +
                 std::to_string(sent) + " bytes sent and " + std::to_string(received) +
                 " received as recorded";
    }
    return ok;
}

}  // namespace tarn::driver::recording
