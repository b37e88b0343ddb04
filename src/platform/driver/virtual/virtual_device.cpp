// The device that the driver opens on a virtual port: each driver call is
// answered from the port's shared state, under its lock, the way the
// system's serial driver answers it, including the faults that the test
// side asked for.
#include <algorithm>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>

#include "comm_state.h"
#include "comm_wakes.h"
#include "device_path.h"
#include "serial_device.h"
#include "virtual_port_directory.h"
#include "virtual_port_state.h"

namespace tarn::driver {

namespace {

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
        state_->inputLimit = inQueue;
        state_->changed.notify_all();
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
        if (!IsWellFormedDcb(dcb)) return Fail(ERROR_INVALID_PARAMETER);
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
        if (!QueryQueue()) return false;
        // An overrun is told once, as the driver clears its error flags.
        if (errors) *errors = state_->inputOverrun ? CE_RXOVER : 0;
        state_->inputOverrun = false;
        if (stat) {
            *stat = COMSTAT{};
            stat->cbInQue = static_cast<std::uint32_t>(state_->input.size());
            stat->cbOutQue =
                static_cast<std::uint32_t>(std::min<std::uint64_t>(OutputQueued(), 0xFFFFFFFFu));
        }
        return true;
    }

    // As on Windows, where the driver counts the queue before it takes
    // from it, a read up to an end is a query too: tests count it as a
    // cycle, and a query set to fail fails it.
    bool ReadInputUntil(void* buffer, std::uint32_t count, InputEnd& end,
                        std::uint32_t* read) override {
        if (read) *read = 0;
        {
            std::lock_guard<std::mutex> lock(state_->mutex);
            if (!QueryQueue()) return false;
        }
        return SerialDevice::ReadInputUntil(buffer, count, end, read);
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
        const bool refilled = state_->input.size() < state_->endlessInput.size();
        if (refilled) state_->input += state_->endlessInput;
        // The room made is waited for by the far end.
        if (n > 0 || refilled) state_->changed.notify_all();
        if (read) *read = static_cast<std::uint32_t>(n);
        return true;
    }

    bool WriteFile(const void* buffer, std::uint32_t count, std::uint32_t* written) override {
        std::unique_lock<std::mutex> lock(state_->mutex);
        if (!Alive()) return Dead();
        if (state_->holdWrites) {
            const COMMTIMEOUTS t = state_->timeouts;
            const std::uint64_t totalMs =
                std::uint64_t{t.WriteTotalTimeoutMultiplier} * count + t.WriteTotalTimeoutConstant;
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
                inTime =
                    state_->changed.wait_for(lock, std::chrono::milliseconds(totalMs), released);
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
        if (flags & PURGE_TXABORT) ++state_->writeAborts;
        state_->changed.notify_all();
        return true;
    }

    bool EscapeCommFunction(std::uint32_t function) override {
        std::lock_guard<std::mutex> lock(state_->mutex);
        if (!Alive()) return Dead();
        switch (function) {
            case SETXOFF:
                state_->xoffHeld = true;
                break;
            case SETXON:
                state_->xoffHeld = false;
                break;
            case SETRTS:
                state_->rts = true;
                break;
            case CLRRTS:
                state_->rts = false;
                break;
            case SETDTR:
                state_->dtr = true;
                break;
            case CLRDTR:
                state_->dtr = false;
                break;
            case SETBREAK:
                state_->breakOn = true;
                break;
            case CLRBREAK:
                state_->breakOn = false;
                break;
            default:
                return Fail(ERROR_INVALID_PARAMETER);
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

    bool WaitCommInput(std::uint32_t milliseconds, std::uint64_t wakesSeen) override {
        std::unique_lock<std::mutex> lock(state_->mutex);
        const std::uint32_t linesAtStart = state_->modemStatus;
        state_->changed.wait_for(lock, std::chrono::milliseconds(milliseconds), [&] {
            return !Alive() || waitsCancelled_ || wakes_.Since(wakesSeen) ||
                   !state_->input.empty() || (wakeOnLines_ && state_->modemStatus != linesAtStart);
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

    void WakeCommWaits() override {
        std::lock_guard<std::mutex> lock(state_->mutex);
        wakes_.Ask();
        state_->changed.notify_all();
    }

    std::uint64_t CommWakesAsked() const override { return wakes_.Asked(); }

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
    // A removed port is gone as a pulled adapter is; a call that outlived
    // its handle finds the handle invalid.
    // REQUIRES: state_->mutex held.
    // Counts a look at the input queue. REQUIRES: state_->mutex held.
    bool QueryQueue() {
        ++state_->queueQueries;
        state_->changed.notify_all();
        if (!Alive()) return Dead();
        if (state_->failNextQueueQuery) {
            state_->failNextQueueQuery = false;
            return Fail(ERROR_GEN_FAILURE);
        }
        return true;
    }

    bool Dead() const { return Fail(released_ ? ERROR_INVALID_HANDLE : kDeviceGoneError); }

    std::shared_ptr<VirtualPortState> state_;
    const unsigned generation_;
    // Taken at the opening, with state_->mutex held.
    const bool wakeOnLines_;
    bool released_ = false;        // guarded by state_->mutex
    bool waitsCancelled_ = false;  // guarded by state_->mutex
    CommWakes wakes_;
};

}  // namespace

std::shared_ptr<SerialDevice> OpenVirtualDevice(const std::string& path, bool& isVirtual) {
    isVirtual = false;
    if (!HasDevicePrefix(path)) return nullptr;
    std::shared_ptr<VirtualPortState> state = FindListedPort(StripDevicePrefix(path));
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
    // What an opening writes is told apart from what earlier ones wrote and
    // the far end has not taken yet.
    if (state->written.empty()) {
        state->writtenOpeningStarts.clear();
        state->writtenOpening = state->openCount;
    } else {
        state->writtenOpeningStarts.push_back(state->written.size());
    }
    // The last handle's output that never reached the line went with it,
    // and its queue size and errors too.
    state->lingering.clear();
    state->inputLimit = kDefaultInputQueue;
    state->inputOverrun = false;
    // A fresh handle starts with the driver's defaults, not the last user's.
    state->dcb = DefaultDcb();
    state->changed.notify_all();
    return std::make_shared<VirtualDevice>(state, state->generation);
}

}  // namespace tarn::driver
