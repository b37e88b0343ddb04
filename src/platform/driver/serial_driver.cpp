// Handle table and dispatch of the driver seam. A handle is a number handed
// out once and never reused, mapped to the backend object of its port. Each
// call takes a counted reference to that object for its own duration, so a
// CloseHandle on another thread removes the handle at once (later calls fail
// with ERROR_INVALID_HANDLE), ends the calls that wait on the device, and
// returns once they have let go of it.
#include "serial_driver.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "recording_device.h"
#include "serial_device.h"

namespace tarn::driver {

namespace {

class HandleTable {
public:
    HANDLE Add(std::shared_ptr<SerialDevice> device) {
        // Multiples of four starting well above zero look like the handles
        // the system hands out, and never collide with the invalid value.
        const HANDLE handle = nextHandle_.fetch_add(4) + 4;
        Part& part = PartOf(handle);
        std::lock_guard<std::mutex> lock(part.mutex);
        part.devices.emplace(handle, std::move(device));
        return handle;
    }

    std::shared_ptr<SerialDevice> Find(HANDLE handle) const {
        const Part& part = PartOf(handle);
        std::lock_guard<std::mutex> lock(part.mutex);
        auto it = part.devices.find(handle);
        return it == part.devices.end() ? nullptr : it->second;
    }

    std::shared_ptr<SerialDevice> Remove(HANDLE handle) {
        Part& part = PartOf(handle);
        std::lock_guard<std::mutex> lock(part.mutex);
        auto it = part.devices.find(handle);
        if (it == part.devices.end()) return nullptr;
        auto device = std::move(it->second);
        part.devices.erase(it);
        return device;
    }

    // Puts `replacement` in the place of `expected`, when the handle still
    // maps to it; false otherwise.
    bool Replace(HANDLE handle, const std::shared_ptr<SerialDevice>& expected,
                 std::shared_ptr<SerialDevice> replacement) {
        Part& part = PartOf(handle);
        std::lock_guard<std::mutex> lock(part.mutex);
        auto it = part.devices.find(handle);
        if (it == part.devices.end() || it->second != expected) return false;
        it->second = std::move(replacement);
        return true;
    }

private:
    // Every call on a port looks its handle up, so that with many ports
    // open their threads would queue at one lock: handles that follow one
    // another fall into different parts, each with a lock of its own.
    static constexpr std::size_t kParts = 16;
    struct Part {
        mutable std::mutex mutex;
        std::unordered_map<HANDLE, std::shared_ptr<SerialDevice>> devices;  // guarded by mutex
    };
    Part& PartOf(HANDLE handle) { return parts_[(handle / 4) % kParts]; }
    const Part& PartOf(HANDLE handle) const { return parts_[(handle / 4) % kParts]; }

    std::atomic<HANDLE> nextHandle_{0x100};
    std::array<Part, kParts> parts_;
};

HandleTable& Handles() {
    // Never destroyed: a detached thread may still close a handle while the
    // process exits.
    static HandleTable* table = new HandleTable;
    return *table;
}

// Runs `call` on the device behind `handle`, or fails with
// ERROR_INVALID_HANDLE when there is none.
template <typename Call>
bool WithDevice(HANDLE handle, Call call) {
    std::shared_ptr<SerialDevice> device = Handles().Find(handle);
    if (!device) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    return call(*device);
}

// What `get` reads off the device behind `handle`, or 0 (with the last
// error set) when there is none.
template <typename Get>
auto ValueOfDevice(HANDLE handle, Get get) {
    decltype(get(std::declval<const SerialDevice&>())) value{};
    WithDevice(handle, [&](const SerialDevice& d) {
        value = get(d);
        return true;
    });
    return value;
}

// The port's own device of `device`: the one it records, if it records.
std::shared_ptr<SerialDevice> PortDevice(const std::shared_ptr<SerialDevice>& device) {
    auto recording = std::dynamic_pointer_cast<recording::RecordingDevice>(device);
    return recording ? recording->Recorded() : device;
}

// Puts `replacement` in the place of the device `current` of `handle`, and
// ends the recording that `current` made, if any. Calls already running on
// `current` finish on it.
bool ReplaceDevice(HANDLE handle, const std::shared_ptr<SerialDevice>& current,
                   std::shared_ptr<SerialDevice> replacement) {
    // A close or another swap on another thread came first.
    if (!Handles().Replace(handle, current, std::move(replacement))) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    auto recording = std::dynamic_pointer_cast<recording::RecordingDevice>(current);
    if (recording) recording->Stop();
    return true;
}

// Waits until the calls still running on `device` have let go of it, and
// then lets go of it itself, so that the port's descriptor and its claim
// are given back before CloseHandle returns: an Open right after a Close,
// the usual way to reconnect, must find the port free, not still held by a
// reader on another thread that has yet to return from a wait that the
// release ended. A call that does not end (a driver that ignores the
// release) is waited for only so long; the device then goes with it.
void AwaitLastUse(std::shared_ptr<SerialDevice> device) {
    // A recording holds the port's own device, and a call may be running
    // on either: the port is free once its own device is held here alone.
    std::shared_ptr<SerialDevice> port = PortDevice(device);
    device.reset();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    for (int look = 0; port.use_count() > 1; ++look) {
        if (look < 100) {
            std::this_thread::yield();
            continue;
        }
        if (std::chrono::steady_clock::now() >= deadline) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

}  // namespace

HANDLE CreateFileA(const std::string& path) {
    // Every name below this point ends at its first NUL, so a name holding
    // one would open a device other than the one it names. Windows refuses
    // such a name as malformed.
    if (path.find('\0') != std::string::npos) {
        SetLastError(ERROR_INVALID_NAME);
        return INVALID_HANDLE_VALUE;
    }
    // A recording to replay has a name of the shape of an address, which
    // the remote ports would refuse, so it is looked at first.
    bool isReplay = false;
    std::shared_ptr<SerialDevice> device = OpenReplayDevice(path, isReplay);
    if (isReplay) {
        if (!device) return INVALID_HANDLE_VALUE;
        return Handles().Add(std::move(device));
    }
    // An address names a port on another machine, never one of this system.
    bool isRemote = false;
    device = OpenRemoteDevice(path, isRemote);
    bool isVirtual = false;
    if (!isRemote) device = OpenVirtualDevice(path, isVirtual);
    // A virtual port takes precedence over a device of the system with the
    // same name, also when the virtual one refuses to open.
    if (!isRemote && !isVirtual) device = OpenOsDevice(path);
    if (!device) return INVALID_HANDLE_VALUE;
    return Handles().Add(std::move(device));
}

bool CloseHandle(HANDLE handle) {
    std::shared_ptr<SerialDevice> device = Handles().Remove(handle);
    if (!device) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    device->Released();
    AwaitLastUse(std::move(device));
    return true;
}

namespace {

// The handles whose recording moves to a new one (StartRecording on a
// recorded handle): the old recording stops before, or just after, the new
// one takes its place, and a look at IsRecording from another thread in
// between must not read a recording that goes on as one that stopped.
class RestartedRecordings {
public:
    explicit RestartedRecordings(HANDLE handle) : handle_(handle) {
        std::lock_guard<std::mutex> lock(Mutex());
        Handles().push_back(handle_);
    }
    ~RestartedRecordings() {
        std::lock_guard<std::mutex> lock(Mutex());
        auto& handles = Handles();
        handles.erase(std::find(handles.begin(), handles.end(), handle_));
    }
    RestartedRecordings(const RestartedRecordings&) = delete;
    RestartedRecordings& operator=(const RestartedRecordings&) = delete;

    static bool Includes(HANDLE handle) {
        std::lock_guard<std::mutex> lock(Mutex());
        const auto& handles = Handles();
        return std::find(handles.begin(), handles.end(), handle) != handles.end();
    }

private:
    // Never destroyed, as the handle table.
    static std::mutex& Mutex() {
        static auto* mutex = new std::mutex;
        return *mutex;
    }
    static std::vector<HANDLE>& Handles() {
        static auto* handles = new std::vector<HANDLE>;
        return *handles;
    }

    const HANDLE handle_;
};

}  // namespace

bool StartRecording(HANDLE handle, const std::string& path, const std::string& port,
                    RecordingFrom from) {
    const std::shared_ptr<SerialDevice> current = Handles().Find(handle);
    if (!current) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    std::optional<RestartedRecordings> restarted;
    if (PortDevice(current) != current) restarted.emplace(handle);
    auto recording = recording::RecordingDevice::Start(PortDevice(current), path, port,
                                                       from == RecordingFrom::Now);
    if (!recording) return false;
    return ReplaceDevice(handle, current, std::move(recording));
}

void NoteDeviceGone(HANDLE handle) {
    auto recording = std::dynamic_pointer_cast<recording::RecordingDevice>(Handles().Find(handle));
    if (recording) recording->NoteGone(kDeviceGoneError);
}

bool StopRecording(HANDLE handle) {
    const std::shared_ptr<SerialDevice> current = Handles().Find(handle);
    if (!current) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    const std::shared_ptr<SerialDevice> device = PortDevice(current);
    return device == current || ReplaceDevice(handle, current, device);
}

bool IsRecording(HANDLE handle) {
    auto recording = std::dynamic_pointer_cast<recording::RecordingDevice>(Handles().Find(handle));
    if (recording == nullptr) return false;
    return recording->IsWriting() || RestartedRecordings::Includes(handle);
}

bool SetupComm(HANDLE handle, std::uint32_t inQueue, std::uint32_t outQueue) {
    return WithDevice(handle, [&](SerialDevice& d) { return d.SetupComm(inQueue, outQueue); });
}

bool SetCommState(HANDLE handle, const DCB& dcb) {
    return WithDevice(handle, [&](SerialDevice& d) { return d.SetCommState(dcb); });
}

bool GetCommState(HANDLE handle, DCB& dcb) {
    return WithDevice(handle, [&](SerialDevice& d) { return d.GetCommState(dcb); });
}

bool SetCommTimeouts(HANDLE handle, const COMMTIMEOUTS& timeouts) {
    return WithDevice(handle, [&](SerialDevice& d) { return d.SetCommTimeouts(timeouts); });
}

bool GetCommTimeouts(HANDLE handle, COMMTIMEOUTS& timeouts) {
    return WithDevice(handle, [&](SerialDevice& d) { return d.GetCommTimeouts(timeouts); });
}

bool ClearCommError(HANDLE handle, std::uint32_t* errors, COMSTAT* stat) {
    return WithDevice(handle, [&](SerialDevice& d) { return d.ClearCommError(errors, stat); });
}

std::optional<std::uint32_t> InputWaiting(HANDLE handle) {
    std::uint32_t errors = 0;
    COMSTAT stat{};
    if (!ClearCommError(handle, &errors, &stat)) return std::nullopt;
    return stat.cbInQue;
}

bool ReadFile(HANDLE handle, void* buffer, std::uint32_t count, std::uint32_t* read) {
    if (read) *read = 0;
    return WithDevice(handle, [&](SerialDevice& d) { return d.ReadFile(buffer, count, read); });
}

bool WriteFile(HANDLE handle, const void* buffer, std::uint32_t count, std::uint32_t* written) {
    if (written) *written = 0;
    return WithDevice(handle, [&](SerialDevice& d) { return d.WriteFile(buffer, count, written); });
}

bool PurgeComm(HANDLE handle, std::uint32_t flags) {
    return WithDevice(handle, [&](SerialDevice& d) { return d.PurgeComm(flags); });
}

bool EscapeCommFunction(HANDLE handle, std::uint32_t function) {
    return WithDevice(handle, [&](SerialDevice& d) { return d.EscapeCommFunction(function); });
}

bool GetCommModemStatus(HANDLE handle, std::uint32_t* status) {
    return WithDevice(handle, [&](SerialDevice& d) { return d.GetCommModemStatus(status); });
}

bool WaitCommInput(HANDLE handle, std::uint32_t milliseconds) {
    return WithDevice(
        handle, [&](SerialDevice& d) { return d.WaitCommInput(milliseconds, d.CommWakesAsked()); });
}

bool WaitCommInput(HANDLE handle, std::uint32_t milliseconds, std::uint64_t wakesSeen) {
    return WithDevice(handle,
                      [&](SerialDevice& d) { return d.WaitCommInput(milliseconds, wakesSeen); });
}

bool PeekInput(HANDLE handle, void* buffer, std::uint32_t count, std::uint32_t* peeked) {
    if (peeked) *peeked = 0;
    return WithDevice(handle, [&](SerialDevice& d) { return d.PeekInput(buffer, count, peeked); });
}

bool ReadInputUntil(HANDLE handle, void* buffer, std::uint32_t count, InputEnd& end,
                    std::uint32_t* read) {
    if (read) *read = 0;
    return WithDevice(handle,
                      [&](SerialDevice& d) { return d.ReadInputUntil(buffer, count, end, read); });
}

bool SerialDevice::ReadInputUntil(void* buffer, std::uint32_t count, InputEnd& end,
                                  std::uint32_t* read) {
    if (read) *read = 0;
    std::uint32_t peeked = 0;
    if (!PeekInput(buffer, count, &peeked)) return false;
    if (peeked == 0) return true;
    const std::size_t take =
        std::clamp<std::size_t>(end.Find(static_cast<const char*>(buffer), peeked), 1, peeked);
    // The peeked bytes wait at the front of the queue, so the read returns
    // with them at once.
    return ReadFile(buffer, static_cast<std::uint32_t>(take), read);
}

bool DrainCommOutput(HANDLE handle, std::uint32_t milliseconds) {
    return WithDevice(handle, [&](SerialDevice& d) { return d.DrainCommOutput(milliseconds); });
}

std::uint32_t GetCommWaitWakes(HANDLE handle) {
    return ValueOfDevice(handle, [](const SerialDevice& d) { return d.CommWaitWakes(); });
}

bool CancelCommWaits(HANDLE handle) {
    return WithDevice(handle, [](SerialDevice& d) {
        d.CancelCommWaits();
        return true;
    });
}

bool WakeCommWaits(HANDLE handle) {
    return WithDevice(handle, [](SerialDevice& d) {
        d.WakeCommWaits();
        return true;
    });
}

std::uint64_t CommWakesAsked(HANDLE handle) {
    return ValueOfDevice(handle, [](const SerialDevice& d) { return d.CommWakesAsked(); });
}

}  // namespace tarn::driver
