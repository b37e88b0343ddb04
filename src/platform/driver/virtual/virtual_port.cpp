#include "virtual_port.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <stdexcept>

#include "serial_device.h"

namespace tarn::driver {

namespace {

std::string UpperAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

const std::string kDevicePrefix = "\\\\.\\";

}  // namespace

struct VirtualPortState {
    explicit VirtualPortState(std::string n) : name(std::move(n)) {}

    const std::string name;
    mutable std::mutex mutex;
    mutable std::condition_variable changed;

    bool present = true;
    // Bumped by Remove: devices opened under an older generation are dead.
    unsigned generation = 0;
    bool open = false;
    int openCount = 0;
    std::uint32_t refuseOpenError = ERROR_SUCCESS;

    std::string input;    // bytes for the driver side to read
    std::string written;  // bytes the driver side wrote
    std::uint32_t modemStatus = 0;
    bool wakeWaitsOnLines = false;
    bool dtr = false;
    bool rts = false;
    bool breakOn = false;
    bool xoffHeld = false;

    bool refuseNextCommState = false;
    bool limitNextWrite = false;
    std::uint32_t nextWriteLimit = 0;
    bool failNextQueueQuery = false;
    bool holdWrites = false;
    int heldWrites = 0;
    std::uint64_t heldWriteBytes = 0;
    // Bytes written while output is held: in the output queue, not yet on
    // the line, so neither taken by the far end nor drained.
    bool holdOutput = false;
    std::string lingering;
    // Bumped by PurgeComm with PURGE_TXABORT: held writes end as aborted.
    unsigned writeAborts = 0;
    std::uint64_t queueQueries = 0;

    DCB dcb{};
    COMMTIMEOUTS timeouts{0xFFFFFFFFu, 0, 0, 0, 0};
    std::vector<DCB> appliedStates;
    std::vector<COMMTIMEOUTS> appliedTimeouts;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> appliedQueueSizes;
    std::vector<std::uint32_t> escapes;
    std::vector<std::uint32_t> purges;
};

namespace {

// The ports present, by upper-case name. Never destroyed, so that a device
// released during process exit still finds it.
struct PortDirectory {
    std::mutex mutex;
    std::vector<std::shared_ptr<VirtualPortState>> ports;  // in creation order
};

PortDirectory& Directory() {
    static PortDirectory* directory = new PortDirectory;
    return *directory;
}

std::shared_ptr<VirtualPortState> FindPresent(const std::string& name) {
    const std::string key = UpperAscii(name);
    PortDirectory& dir = Directory();
    std::lock_guard<std::mutex> lock(dir.mutex);
    for (const auto& port : dir.ports) {
        if (UpperAscii(port->name) == key) return port;
    }
    return nullptr;
}

using Clock = std::chrono::steady_clock;

class VirtualDevice final : public SerialDevice {
public:
    VirtualDevice(std::shared_ptr<VirtualPortState> state, unsigned generation)
        : state_(std::move(state)),
          generation_(generation),
          wakeOnLines_(state_->wakeWaitsOnLines) {}

    ~VirtualDevice() override { Released(); }

    void Released() override {
        std::lock_guard<std::mutex> lock(state_->mutex);
        if (released_) return;
        released_ = true;
        if (state_->generation == generation_) state_->open = false;
        state_->changed.notify_all();
    }

    bool SetupComm(std::uint32_t inQueue, std::uint32_t outQueue) override {
        std::lock_guard<std::mutex> lock(state_->mutex);
        if (!Alive()) return Dead();
        if (inQueue == 0 || outQueue == 0) return Fail(ERROR_INVALID_PARAMETER);
        state_->appliedQueueSizes.emplace_back(inQueue, outQueue);
        return true;
    }

    bool SetCommState(const DCB& dcb) override {
        std::lock_guard<std::mutex> lock(state_->mutex);
        if (!Alive()) return Dead();
        if (state_->refuseNextCommState) {
            state_->refuseNextCommState = false;
            return Fail(ERROR_INVALID_PARAMETER);
        }
        if (dcb.DCBlength != sizeof(DCB) || dcb.ByteSize < 5 || dcb.ByteSize > 8 ||
            dcb.Parity > SPACEPARITY || dcb.StopBits > TWOSTOPBITS) {
            return Fail(ERROR_INVALID_PARAMETER);
        }
        state_->dcb = dcb;
        state_->appliedStates.push_back(dcb);
        // The line modes of the block drive DTR and RTS as a UART driver
        // does: enabled raises the line, disabled drops it, handshake leaves
        // it to the flow control (raised while input can be taken).
        state_->dtr = DtrControl(dcb) != DTR_CONTROL_DISABLE;
        state_->rts = RtsControl(dcb) != RTS_CONTROL_DISABLE;
        return true;
    }

    bool GetCommState(DCB& dcb) override {
        std::lock_guard<std::mutex> lock(state_->mutex);
        if (!Alive()) return Dead();
        dcb = state_->dcb;
        return true;
    }

    bool SetCommTimeouts(const COMMTIMEOUTS& timeouts) override {
        std::lock_guard<std::mutex> lock(state_->mutex);
        if (!Alive()) return Dead();
        state_->timeouts = timeouts;
        state_->appliedTimeouts.push_back(timeouts);
        return true;
    }

    bool GetCommTimeouts(COMMTIMEOUTS& timeouts) override {
        std::lock_guard<std::mutex> lock(state_->mutex);
        if (!Alive()) return Dead();
        timeouts = state_->timeouts;
        return true;
    }

    bool ClearCommError(std::uint32_t* errors, COMSTAT* stat) override {
        std::lock_guard<std::mutex> lock(state_->mutex);
        ++state_->queueQueries;
        state_->changed.notify_all();
        if (!Alive()) return Dead();
        if (state_->failNextQueueQuery) {
            state_->failNextQueueQuery = false;
            return Fail(ERROR_GEN_FAILURE);
        }
        if (errors) *errors = 0;
        if (stat) {
            *stat = COMSTAT{};
            stat->cbInQue = static_cast<std::uint32_t>(state_->input.size());
            stat->cbOutQue =
                static_cast<std::uint32_t>(std::min<std::uint64_t>(OutputQueued(), 0xFFFFFFFFu));
        }
        return true;
    }

    bool ReadFile(void* buffer, std::uint32_t count, std::uint32_t* read) override {
        std::unique_lock<std::mutex> lock(state_->mutex);
        if (!Alive()) return Dead();
        const COMMTIMEOUTS t = state_->timeouts;
        const bool returnAtOnce = t.ReadIntervalTimeout == 0xFFFFFFFFu &&
                                  t.ReadTotalTimeoutMultiplier == 0 &&
                                  t.ReadTotalTimeoutConstant == 0;
        if (!returnAtOnce && count > 0) {
            // Total time-out only: the interval time-out is not modelled.
            const std::uint64_t totalMs =
                std::uint64_t{t.ReadTotalTimeoutMultiplier} * count + t.ReadTotalTimeoutConstant;
            auto ready = [&] { return !Alive() || state_->input.size() >= count; };
            if (totalMs == 0) {
                state_->changed.wait(lock, ready);
            } else {
                state_->changed.wait_for(lock, std::chrono::milliseconds(totalMs), ready);
            }
            if (!Alive()) return Dead();
        }
        const std::size_t n = std::min<std::size_t>(count, state_->input.size());
        if (n > 0) std::copy_n(state_->input.data(), n, static_cast<char*>(buffer));
        state_->input.erase(0, n);
        if (read) *read = static_cast<std::uint32_t>(n);
        return true;
    }

    bool WriteFile(const void* buffer, std::uint32_t count, std::uint32_t* written) override {
        std::unique_lock<std::mutex> lock(state_->mutex);
        if (!Alive()) return Dead();
        if (state_->holdWrites) {
            const COMMTIMEOUTS t = state_->timeouts;
            const std::uint64_t totalMs = std::uint64_t{t.WriteTotalTimeoutMultiplier} * count +
                                          t.WriteTotalTimeoutConstant;
            const unsigned aborts = state_->writeAborts;
            auto released = [&] {
                return !Alive() || !state_->holdWrites || state_->writeAborts != aborts;
            };
            ++state_->heldWrites;
            state_->heldWriteBytes += count;
            state_->changed.notify_all();
            bool inTime = true;
            if (totalMs == 0) {
                state_->changed.wait(lock, released);
            } else {
                inTime = state_->changed.wait_for(lock, std::chrono::milliseconds(totalMs),
                                                  released);
            }
            --state_->heldWrites;
            state_->heldWriteBytes -= count;
            state_->changed.notify_all();
            // Time-out: as on Windows the call succeeds with nothing taken.
            if (!inTime) return true;
            if (!Alive()) return Dead();
            if (state_->writeAborts != aborts) return Fail(ERROR_OPERATION_ABORTED);
        }
        std::uint32_t n = count;
        if (state_->limitNextWrite) {
            state_->limitNextWrite = false;
            n = std::min(n, state_->nextWriteLimit);
        }
        (state_->holdOutput ? state_->lingering : state_->written)
            .append(static_cast<const char*>(buffer), n);
        if (written) *written = n;
        state_->changed.notify_all();
        return true;
    }

    bool PurgeComm(std::uint32_t flags) override {
        std::lock_guard<std::mutex> lock(state_->mutex);
        if (!Alive()) return Dead();
        state_->purges.push_back(flags);
        if (flags & PURGE_RXCLEAR) state_->input.clear();
        if (flags & (PURGE_TXABORT | PURGE_TXCLEAR)) state_->lingering.clear();
        if (flags & PURGE_TXABORT) {
            ++state_->writeAborts;
            state_->changed.notify_all();
        }
        return true;
    }

    bool EscapeCommFunction(std::uint32_t function) override {
        std::lock_guard<std::mutex> lock(state_->mutex);
        if (!Alive()) return Dead();
        switch (function) {
            case SETXOFF: state_->xoffHeld = true; break;
            case SETXON: state_->xoffHeld = false; break;
            case SETRTS: state_->rts = true; break;
            case CLRRTS: state_->rts = false; break;
            case SETDTR: state_->dtr = true; break;
            case CLRDTR: state_->dtr = false; break;
            case SETBREAK: state_->breakOn = true; break;
            case CLRBREAK: state_->breakOn = false; break;
            default: return Fail(ERROR_INVALID_PARAMETER);
        }
        state_->escapes.push_back(function);
        return true;
    }

    bool GetCommModemStatus(std::uint32_t* status) override {
        std::lock_guard<std::mutex> lock(state_->mutex);
        if (!Alive()) return Dead();
        if (status) *status = state_->modemStatus;
        return true;
    }

    bool WaitCommInput(std::uint32_t milliseconds) override {
        std::unique_lock<std::mutex> lock(state_->mutex);
        const std::uint32_t linesAtStart = state_->modemStatus;
        state_->changed.wait_for(lock, std::chrono::milliseconds(milliseconds), [&] {
            return !Alive() || waitsCancelled_ || !state_->input.empty() ||
                   (wakeOnLines_ && state_->modemStatus != linesAtStart);
        });
        if (!Alive()) return Dead();
        return true;
    }

    // Its waits end at once on input and on removal, and on a change of the
    // modem lines only when asked for before the opening: otherwise the
    // receive thread keeps looking at the lines and the port list every
    // poll period, and tests can count its cycles.
    std::uint32_t CommWaitWakes() const override {
        return COMMWAIT_INPUT | (wakeOnLines_ ? COMMWAIT_LINES | COMMWAIT_REMOVAL : 0);
    }

    bool PeekInput(void* buffer, std::uint32_t count, std::uint32_t* peeked) override {
        std::lock_guard<std::mutex> lock(state_->mutex);
        if (!Alive()) return Dead();
        const std::size_t n = std::min<std::size_t>(count, state_->input.size());
        if (n > 0) std::copy_n(state_->input.data(), n, static_cast<char*>(buffer));
        if (peeked) *peeked = static_cast<std::uint32_t>(n);
        return true;
    }

    // Held writes count as queued, as a write that a driver has not
    // completed does. A purge that aborts the transmission empties the
    // queue by discarding it, which is no drain.
    bool DrainCommOutput(std::uint32_t milliseconds) override {
        std::unique_lock<std::mutex> lock(state_->mutex);
        const unsigned aborts = state_->writeAborts;
        const bool drained = state_->changed.wait_for(
            lock, std::chrono::milliseconds(milliseconds),
            [&] { return !Alive() || state_->writeAborts != aborts || OutputQueued() == 0; });
        if (!Alive()) return Dead();
        if (state_->writeAborts != aborts) return Fail(ERROR_OPERATION_ABORTED);
        return drained || Fail(ERROR_SEM_TIMEOUT);
    }

    void CancelCommWaits() override {
        std::lock_guard<std::mutex> lock(state_->mutex);
        waitsCancelled_ = true;
        state_->changed.notify_all();
    }

private:
    // REQUIRES: state_->mutex held.
    std::uint64_t OutputQueued() const { return state_->heldWriteBytes + state_->lingering.size(); }

    // REQUIRES: state_->mutex held.
    bool Alive() const {
        return !released_ && state_->present && state_->generation == generation_;
    }

    static bool Fail(std::uint32_t error) {
        SetLastError(error);
        return false;
    }
    // A pulled adapter answers every request with ERROR_BAD_COMMAND on
    // Windows; a call that outlived its handle finds the handle invalid.
    // REQUIRES: state_->mutex held.
    bool Dead() const { return Fail(released_ ? ERROR_INVALID_HANDLE : ERROR_BAD_COMMAND); }

    std::shared_ptr<VirtualPortState> state_;
    const unsigned generation_;
    // Taken at the opening, with state_->mutex held.
    const bool wakeOnLines_;
    bool released_ = false;        // guarded by state_->mutex
    bool waitsCancelled_ = false;  // guarded by state_->mutex
};

}  // namespace

std::shared_ptr<SerialDevice> OpenVirtualDevice(const std::string& path, bool& isVirtual) {
    isVirtual = false;
    if (path.compare(0, kDevicePrefix.size(), kDevicePrefix) != 0) return nullptr;
    std::shared_ptr<VirtualPortState> state = FindPresent(path.substr(kDevicePrefix.size()));
    if (!state) return nullptr;
    isVirtual = true;

    std::lock_guard<std::mutex> lock(state->mutex);
    if (!state->present) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    if (state->refuseOpenError != ERROR_SUCCESS) {
        SetLastError(state->refuseOpenError);
        return nullptr;
    }
    if (state->open) {
        // Ports are opened without sharing.
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    state->open = true;
    ++state->openCount;
    // A fresh handle starts with the driver's defaults, not the last user's.
    state->dcb = DCB{};
    state->dcb.DCBlength = sizeof(DCB);
    state->dcb.BaudRate = 9600;
    state->dcb.ByteSize = 8;
    state->dcb.Flags = DCB_fBinary;
    state->changed.notify_all();
    return std::make_shared<VirtualDevice>(state, state->generation);
}

VirtualPort::VirtualPort(const std::string& name) {
    const bool blank = std::all_of(name.begin(), name.end(),
                                   [](char c) { return static_cast<unsigned char>(c) <= 32; });
    if (blank || name.find_first_of("\\/") != std::string::npos) {
        throw std::invalid_argument("virtual port name must be a plain non-blank name");
    }
    PortDirectory& dir = Directory();
    std::lock_guard<std::mutex> lock(dir.mutex);
    for (const auto& port : dir.ports) {
        if (UpperAscii(port->name) == UpperAscii(name)) {
            throw std::invalid_argument("a virtual port named " + name + " exists already");
        }
    }
    state_ = std::make_shared<VirtualPortState>(name);
    dir.ports.push_back(state_);
}

VirtualPort::~VirtualPort() { Remove(); }

const std::string& VirtualPort::Name() const { return state_->name; }

std::vector<std::string> VirtualPort::PresentNames() {
    PortDirectory& dir = Directory();
    std::lock_guard<std::mutex> lock(dir.mutex);
    std::vector<std::string> names;
    for (const auto& port : dir.ports) names.push_back(port->name);
    return names;
}

bool VirtualPort::IsOpen() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->open;
}

int VirtualPort::OpenCount() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->openCount;
}

bool VirtualPort::WaitOpen(bool open, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(state_->mutex);
    return state_->changed.wait_for(lock, timeout, [&] { return state_->open == open; });
}

void VirtualPort::Inject(const std::string& bytes) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->input += bytes;
    state_->changed.notify_all();
}

std::size_t VirtualPort::InputQueued() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->input.size();
}

std::string VirtualPort::TakeWritten() {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return std::exchange(state_->written, std::string());
}

std::string VirtualPort::WaitWritten(std::size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(state_->mutex);
    state_->changed.wait_for(lock, timeout, [&] { return state_->written.size() >= count; });
    return std::exchange(state_->written, std::string());
}

void VirtualPort::SetModemStatus(std::uint32_t status) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->modemStatus = status;
    state_->changed.notify_all();
}

void VirtualPort::WakeWaitsOnLineChanges(bool wake) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->wakeWaitsOnLines = wake;
}

bool VirtualPort::Dtr() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->dtr;
}

bool VirtualPort::Rts() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->rts;
}

bool VirtualPort::BreakOn() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->breakOn;
}

std::vector<std::uint32_t> VirtualPort::Escapes() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->escapes;
}

void VirtualPort::RefuseNextCommState() {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->refuseNextCommState = true;
}

void VirtualPort::LimitNextWrite(std::uint32_t accepted) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->limitNextWrite = true;
    state_->nextWriteLimit = accepted;
}

void VirtualPort::FailNextQueueQuery() {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->failNextQueueQuery = true;
}

void VirtualPort::HoldWrites(bool hold) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->holdWrites = hold;
    state_->changed.notify_all();
}

void VirtualPort::HoldOutput(bool hold) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->holdOutput = hold;
    if (!hold) state_->written += std::exchange(state_->lingering, std::string());
    state_->changed.notify_all();
}

bool VirtualPort::WaitHeldWrites(int count, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(state_->mutex);
    return state_->changed.wait_for(lock, timeout,
                                    [&] { return state_->heldWrites >= count; });
}

void VirtualPort::RefuseOpens(std::uint32_t error) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->refuseOpenError = error;
}

std::uint64_t VirtualPort::QueueQueries() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->queueQueries;
}

bool VirtualPort::WaitQueueQueries(std::uint64_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(state_->mutex);
    return state_->changed.wait_for(lock, timeout,
                                    [&] { return state_->queueQueries >= count; });
}

std::vector<DCB> VirtualPort::AppliedStates() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->appliedStates;
}

std::vector<COMMTIMEOUTS> VirtualPort::AppliedTimeouts() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->appliedTimeouts;
}

std::vector<std::pair<std::uint32_t, std::uint32_t>> VirtualPort::AppliedQueueSizes() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->appliedQueueSizes;
}

std::vector<std::uint32_t> VirtualPort::Purges() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->purges;
}

void VirtualPort::Remove() {
    {
        PortDirectory& dir = Directory();
        std::lock_guard<std::mutex> lock(dir.mutex);
        dir.ports.erase(std::remove(dir.ports.begin(), dir.ports.end(), state_), dir.ports.end());
    }
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (!state_->present) return;
    state_->present = false;
    state_->open = false;
    ++state_->generation;
    state_->changed.notify_all();
}

void VirtualPort::Unlist() {
    PortDirectory& dir = Directory();
    std::lock_guard<std::mutex> lock(dir.mutex);
    dir.ports.erase(std::remove(dir.ports.begin(), dir.ports.end(), state_), dir.ports.end());
}

void VirtualPort::Plug() {
    {
        PortDirectory& dir = Directory();
        std::lock_guard<std::mutex> lock(dir.mutex);
        if (std::find(dir.ports.begin(), dir.ports.end(), state_) != dir.ports.end()) return;
        for (const auto& port : dir.ports) {
            if (UpperAscii(port->name) == UpperAscii(state_->name)) {
                throw std::invalid_argument("a virtual port named " + state_->name +
                                            " exists already");
            }
        }
        dir.ports.push_back(state_);
    }
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->present = true;
    state_->changed.notify_all();
}

bool VirtualPort::IsPresent() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->present;
}

}  // namespace tarn::driver
