// The replayed port's driver calls, and its opening.
#include "replay_device.h"

#include <algorithm>
#include <cstring>

#include "comm_state.h"
#include "device_path.h"
#include "read_deadlines.h"
#include "remote_port_list.h"

namespace tarn::driver {

std::shared_ptr<SerialDevice> OpenReplayDevice(const std::string& path, bool& isReplay) {
    using namespace recording;
    isReplay = false;
    if (!HasDevicePrefix(path)) return nullptr;
    const std::string name = StripDevicePrefix(path);
    if (!IsReplayName(name)) return nullptr;
    isReplay = true;
    std::string why;
    const std::optional<ReplayOptions> options = ParseReplayName(name, why);
    if (!options) {
        SetLastError(host::DescribedError("Cannot replay " + name + ": " + why + "."));
        return nullptr;
    }
    std::string error;
    std::optional<Recording> recording = ReadRecordingFile(options->path, error);
    if (!recording) {
        SetLastError(host::DescribedError("Cannot replay " + error + "."));
        return nullptr;
    }
    // Listed as the remote ports are, under the name it was opened with,
    // so that the presence check finds it while it lasts.
    const unsigned number = remote::ClaimRemotePort(name);
    if (number == 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    auto device = std::make_shared<ReplayDevice>(std::move(*recording), *options, number);
    remote::ListRemotePort(number);
    return device;
}

namespace recording {

namespace {

bool Fail(std::uint32_t error) {
    SetLastError(error);
    return false;
}

LineSettings SettingsOf(const DCB& dcb) {
    LineSettings s;
    s.baud = dcb.BaudRate;
    s.bits = dcb.ByteSize;
    s.parity = static_cast<Parity>(dcb.Parity);
    s.stop = static_cast<StopBits>(dcb.StopBits);
    s.cts = (dcb.Flags & DCB_fOutxCtsFlow) != 0;
    s.dsr = (dcb.Flags & DCB_fOutxDsrFlow) != 0;
    s.dtr = static_cast<DtrControl>(std::min<std::uint32_t>(driver::DtrControl(dcb), 2));
    s.rts = static_cast<RtsControl>(driver::RtsControl(dcb));
    s.xonxoff = (dcb.Flags & (DCB_fOutX | DCB_fInX)) != 0;
    return s;
}

std::string Describe(const LineSettings& s) {
    static const char* const parities[] = {"none", "odd", "even", "mark", "space"};
    static const char* const stops[] = {"1", "1.5", "2"};
    static const char* const dtrs[] = {"off", "on", "handshake"};
    static const char* const rtss[] = {"off", "on", "handshake", "toggle"};
    return std::to_string(s.baud) + " baud, " + std::to_string(s.bits) + " bits, parity " +
           parities[static_cast<int>(s.parity)] + ", stop " + stops[static_cast<int>(s.stop)] +
           ", cts " + (s.cts ? "on" : "off") + ", dsr " + (s.dsr ? "on" : "off") + ", dtr " +
           dtrs[static_cast<int>(s.dtr)] + ", rts " + rtss[static_cast<int>(s.rts)] + ", xonxoff " +
           (s.xonxoff ? "on" : "off");
}

}  // namespace

ReplayDevice::ReplayDevice(Recording recording, const ReplayOptions& options, unsigned listedNumber)
    : path_(options.path),
      listedNumber_(listedNumber),
      timeline_(std::move(recording.events), options, Clock::now()),
      dcb_(DefaultDcb()),
      timeouts_{0xFFFFFFFFu, 0, 0, 0, 0} {}

ReplayDevice::~ReplayDevice() { Released(); }

void ReplayDevice::Unlist() {
    if (!listed_) return;
    listed_ = false;
    // Only wakes the watches of the port list; it never calls back here.
    remote::UnlistRemotePort(listedNumber_);
}

bool ReplayDevice::Sync() {
    if (released_) return false;
    const unsigned modemBefore = timeline_.ModemChanges();
    const std::size_t inputBefore = timeline_.Input().size();
    timeline_.Advance(Clock::now());
    if (timeline_.GoneError()) {
        Unlist();
        changed_.notify_all();
        return false;
    }
    if (timeline_.ModemChanges() != modemBefore || timeline_.Input().size() != inputBefore) {
        changed_.notify_all();
    }
    return true;
}

bool ReplayDevice::FailUnusable() const {
    if (released_) return Fail(ERROR_INVALID_HANDLE);
    return Fail(timeline_.GoneError().value_or(kDeviceGoneError));
}

template <typename Done>
void ReplayDevice::WaitFor(Lock& lock, std::optional<Clock::time_point> deadline, Done done) {
    while (Sync() && !done()) {
        const Clock::time_point now = Clock::now();
        if (deadline && now >= *deadline) return;
        // An event already due that was not played waits for the
        // application (a read), not for the clock.
        std::optional<Clock::time_point> until = timeline_.NextDue();
        if (until && *until <= now) until.reset();
        if (deadline && (!until || *deadline < *until)) until = deadline;
        if (until) {
            changed_.wait_until(lock, *until);
        } else {
            changed_.wait(lock);
        }
    }
}

void ReplayDevice::Released() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (released_) return;
    released_ = true;
    Unlist();
    changed_.notify_all();
}

bool ReplayDevice::SetupComm(std::uint32_t inQueue, std::uint32_t outQueue) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!Sync()) return FailUnusable();
    return (inQueue != 0 && outQueue != 0) || Fail(ERROR_INVALID_PARAMETER);
}

bool ReplayDevice::SetCommState(const DCB& dcb) {
    if (!IsWellFormedDcb(dcb)) return Fail(ERROR_INVALID_PARAMETER);
    std::lock_guard<std::mutex> lock(mutex_);
    if (!Sync()) return FailUnusable();
    const LineSettings asked = SettingsOf(dcb);
    LineSettings recorded;
    if (!timeline_.SettingsAllowed(asked, recorded)) {
        return Fail(host::DescribedError("Replay of " + path_ + ": the settings " +
                                         Describe(asked) + " differ from the recorded " +
                                         Describe(recorded) + "."));
    }
    dcb_ = dcb;
    return true;
}

bool ReplayDevice::GetCommState(DCB& dcb) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!Sync()) return FailUnusable();
    dcb = dcb_;
    return true;
}

bool ReplayDevice::SetCommTimeouts(const COMMTIMEOUTS& timeouts) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!Sync()) return FailUnusable();
    timeouts_ = timeouts;
    return true;
}

bool ReplayDevice::GetCommTimeouts(COMMTIMEOUTS& timeouts) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!Sync()) return FailUnusable();
    timeouts = timeouts_;
    return true;
}

bool ReplayDevice::ClearCommError(std::uint32_t* errors, COMSTAT* stat) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!Sync()) return FailUnusable();
    if (errors) *errors = 0;
    if (stat) {
        *stat = COMSTAT{};
        stat->cbInQue = static_cast<std::uint32_t>(
            std::min<std::size_t>(timeline_.Input().size(), 0xFFFFFFFFu));
    }
    return true;
}

bool ReplayDevice::ReadFile(void* buffer, std::uint32_t count, std::uint32_t* read) {
    Lock lock(mutex_);
    if (read) *read = 0;
    if (!Sync()) return FailUnusable();
    ReadDeadlines deadlines(timeouts_, count, Clock::now());
    std::uint32_t done = 0;
    char* out = static_cast<char*>(buffer);
    for (;;) {
        std::string& input = timeline_.Input();
        const std::size_t n = std::min<std::size_t>(count - done, input.size());
        if (n > 0) {
            std::memcpy(out + done, input.data(), n);
            input.erase(0, n);
            done += static_cast<std::uint32_t>(n);
            deadlines.Arrived(Clock::now());
            // A read may let the next events be played.
            Sync();
        }
        if (done == count || deadlines.EndsWhenNothingQueued(done)) break;
        const std::optional<Clock::time_point> until = deadlines.WaitUntil();
        if (until && Clock::now() >= *until) break;
        WaitFor(lock, until, [&] { return !timeline_.Input().empty(); });
        if (released_ || timeline_.GoneError()) break;
        if (timeline_.Input().empty()) break;  // the time ran out
    }
    if (read) *read = done;
    // What was read before the device went is the caller's; a read that
    // found it gone first fails.
    if (done == 0 && (released_ || timeline_.GoneError())) return FailUnusable();
    return true;
}

bool ReplayDevice::WriteFile(const void* buffer, std::uint32_t count, std::uint32_t* written) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (written) *written = 0;
    if (!Sync()) return FailUnusable();
    if (writeRefusal_ != 0) return Fail(writeRefusal_);
    std::string mismatch;
    std::size_t taken = 0;
    if (!timeline_.Write(std::string_view(static_cast<const char*>(buffer), count), Clock::now(),
                         mismatch, taken)) {
        // What matched was taken, as a line takes the front of a block, and
        // its answer follows; the write itself fails, so that the sender
        // hears of the difference from the write that holds it.
        writeRefusal_ = host::DescribedError(mismatch + ".");
        if (taken > 0) {
            Sync();
            changed_.notify_all();
            if (written) *written = static_cast<std::uint32_t>(taken);
        }
        return Fail(writeRefusal_);
    }
    Sync();
    changed_.notify_all();
    if (written) *written = count;
    return true;
}

bool ReplayDevice::PurgeComm(std::uint32_t flags) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!Sync()) return FailUnusable();
    const std::uint32_t known = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
    return (flags & ~known) == 0 || Fail(ERROR_INVALID_PARAMETER);
}

bool ReplayDevice::EscapeCommFunction(std::uint32_t function) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!Sync()) return FailUnusable();
    const bool known =
        (function >= SETXOFF && function <= CLRDTR) || function == SETBREAK || function == CLRBREAK;
    return known || Fail(ERROR_INVALID_PARAMETER);
}

bool ReplayDevice::GetCommModemStatus(std::uint32_t* status) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!Sync()) return FailUnusable();
    const ModemLines m = timeline_.Modem();
    if (status) {
        *status = (m.cts ? MS_CTS_ON : 0) | (m.dsr ? MS_DSR_ON : 0) | (m.ring ? MS_RING_ON : 0) |
                  (m.rlsd ? MS_RLSD_ON : 0);
    }
    return true;
}

bool ReplayDevice::WaitCommInput(std::uint32_t milliseconds, std::uint64_t wakesSeen) {
    Lock lock(mutex_);
    const unsigned linesAtStart = timeline_.ModemChanges();
    WaitFor(lock, Clock::now() + std::chrono::milliseconds(milliseconds), [&] {
        return waitsCancelled_ || wakes_.Since(wakesSeen) || !timeline_.Input().empty() ||
               timeline_.ModemChanges() != linesAtStart;
    });
    if (released_ || timeline_.GoneError()) return FailUnusable();
    return true;
}

bool ReplayDevice::PeekInput(void* buffer, std::uint32_t count, std::uint32_t* peeked) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (peeked) *peeked = 0;
    if (!Sync()) return FailUnusable();
    const std::string& input = timeline_.Input();
    const std::size_t n = std::min<std::size_t>(count, input.size());
    if (n > 0) std::memcpy(buffer, input.data(), n);
    if (peeked) *peeked = static_cast<std::uint32_t>(n);
    return true;
}

bool ReplayDevice::DrainCommOutput(std::uint32_t /*milliseconds*/) {
    // What is written is taken at once: there is never an output queue.
    std::lock_guard<std::mutex> lock(mutex_);
    return Sync() || FailUnusable();
}

std::uint32_t ReplayDevice::CommWaitWakes() const {
    return COMMWAIT_INPUT | COMMWAIT_LINES | COMMWAIT_REMOVAL;
}

void ReplayDevice::CancelCommWaits() {
    std::lock_guard<std::mutex> lock(mutex_);
    waitsCancelled_ = true;
    changed_.notify_all();
}

void ReplayDevice::WakeCommWaits() {
    std::lock_guard<std::mutex> lock(mutex_);
    wakes_.Ask();
    changed_.notify_all();
}

std::uint64_t ReplayDevice::CommWakesAsked() const { return wakes_.Asked(); }

}  // namespace recording
}  // namespace tarn::driver
