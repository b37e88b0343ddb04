// The receive thread: opening steps, poll loop, presence check, event
// delivery and teardown.
#include "com_thread.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <new>
#include <utility>

#include "Tarnserialport.h"
#include "host_synchronize.h"

namespace drv = tarn::driver;

namespace {

using Clock = std::chrono::steady_clock;

// A thread that wakes on data, on a driver whose wait also ends at once when
// a modem line changes or the device goes away, has nothing to look for
// between two wakes. It looks all the same this often, for what no driver
// reports: the port's name taken off the list while its device stays.
constexpr std::uint32_t kLongestQuietWaitMs = 1000;
constexpr std::uint32_t kWakesForEverything =
    drv::COMMWAIT_INPUT | drv::COMMWAIT_LINES | drv::COMMWAIT_REMOVAL;

}  // namespace

TComThread::TComThread(TTarnSerialPort* AOwner)
    : TThread(true), owner_(AOwner), openingThreadId_(tarn::host::detail::CurrentOsThreadId()) {
    TTarnSerialPort& c = *AOwner;
    SetFreeOnTerminate(true);
    SetPriority(c.FPriority);
    {
        std::lock_guard<std::mutex> lock(c.FLock);
        c.FEntireBuffer.clear();
    }

    openedName_ = c.GetRawPort();
    const std::string path = "\\\\.\\" + openedName_;
    try {
        ComDevice = drv::CreateFileA(path);
    } catch (...) {
        openError_ = drv::ERROR_GEN_FAILURE;
        return;
    }
    if (ComDevice == drv::INVALID_HANDLE_VALUE) {
        openError_ = drv::GetLastError();
        return;
    }
    // A block that the driver refuses makes the opening fail: a port left
    // open with settings nobody asked for would look like a working link.
    if (!c.SetDCBState(ComDevice)) {
        openError_ = drv::GetLastError();
        if (openError_ == drv::ERROR_SUCCESS) openError_ = drv::ERROR_INVALID_PARAMETER;
        return;
    }
    c.SetTimeOuts(ComDevice);
    c.SetBuffers(ComDevice);
    // The component takes this identifier as its ConnectedTo when it
    // registers the connection.
    port_ = c.StringToCommPort(openedName_);
    waitWakes_ = drv::GetCommWaitWakes(ComDevice);
    opened_ = true;
}

void TComThread::Connect() {
    Raise([this] { DoExecuteConnect(); });
}

void TComThread::StartPolling() {
    started_ = true;
    Start();
}

bool TComThread::WaitingWouldDeadlock() const {
    const std::uint32_t self = tarn::host::detail::CurrentOsThreadId();
    if (self == receiveThreadId_.load()) return true;
    // Before the loop starts only the opening thread can end the thread.
    if (!started_.load() && self == openingThreadId_) return true;
    return inSynchronizedEvent_.load() && synchronizedEventThread_.load() == self;
}

void TComThread::RequestStop() {
    Terminate();
    // A thread that waits in the driver for input wakes there. The handle
    // may be closing meanwhile; handles are never reused, so the call then
    // fails without touching another port.
    const drv::HANDLE handle = ComDevice;
    if (handle != drv::INVALID_HANDLE_VALUE) drv::CancelCommWaits(handle);
    std::lock_guard<std::mutex> lock(sleepMutex_);
    sleepWake_.notify_all();
}

void TComThread::SleepDelay() {
    TTarnSerialPort* c = owner();
    if (c == nullptr) return;
    const auto delay = std::chrono::milliseconds(c->FDelay.load());
    std::unique_lock<std::mutex> lock(sleepMutex_);
    sleepWake_.wait_for(lock, delay, [this] { return Terminated(); });
}

void TComThread::WaitForNextCycle(TCycleEnd end, bool& lastWaitFailed) {
    TTarnSerialPort* c = owner();
    if (c == nullptr) return;
    if (!c->FWakeOnData || end == TCycleEnd::Pending) return SleepDelay();
    // After a chunk more may wait. A driver that sleeps until input comes
    // is asked at once: a wait on bytes that are there returns at once, and
    // costs less than a cycle that finds the queue empty. One that looks at
    // its queue between sleeps might sleep through the next bytes, so there
    // the next cycle follows at once.
    if (end == TCycleEnd::Delivered && (waitWakes_ & drv::COMMWAIT_INPUT) == 0) return;
    if (drv::WaitCommInput(ComDevice, InputWaitMs(*c))) {
        lastWaitFailed = false;
        return;
    }
    // A failed wait (the device failed or went away) goes on at once to the
    // cycle whose presence check finds that out. A device that keeps
    // failing while it stays listed then falls back to the sleep, so that
    // the thread does not spin on it.
    if (!std::exchange(lastWaitFailed, true)) return;
    SleepDelay();
}

bool TComThread::LookDue(const TTarnSerialPort& c, Clock::time_point last,
                         Clock::time_point now) const {
    if (!c.FWakeOnData || previousEnd_ != TCycleEnd::Delivered) return true;
    return now - last >= std::chrono::milliseconds(c.FDelay.load());
}

std::uint32_t TComThread::InputWaitMs(const TTarnSerialPort& c) const {
    const std::uint32_t delay = c.FDelay.load();
    const Clock::time_point oldest = std::min(lastLineCheck_, lastPresenceCheck_);
    if (oldest >= cycleStart_ && (waitWakes_ & kWakesForEverything) == kWakesForEverything) {
        return std::max(delay, kLongestQuietWaitMs);
    }
    const auto since = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - oldest);
    if (since.count() >= static_cast<std::int64_t>(delay)) return 0;
    return delay - static_cast<std::uint32_t>(since.count());
}

template <typename Deliver>
bool TComThread::Raise(Deliver deliver) {
    TTarnSerialPort* c = owner();
    if (c == nullptr) return false;
    if (c->FNeedSynchronization && !tarn::host::IsMainThread()) {
        Synchronize([this, &deliver] {
            synchronizedEventThread_ = tarn::host::detail::CurrentOsThreadId();
            inSynchronizedEvent_ = true;
            struct Reset {
                std::atomic<bool>& flag;
                ~Reset() { flag = false; }
            } reset{inSynchronizedEvent_};
            deliver();
        });
    } else {
        deliver();
    }
    return owner() != nullptr;
}

// The deliveries read the component and its handler at the moment they run
// (on the main thread when synchronized), and call nothing for a component
// that is being destroyed.
void TComThread::DoExecuteReceive() {
    TTarnSerialPort* c = owner();
    if (c == nullptr || c->FDestroying) return;
    TSendReceiveEvent handler = c->GetOnReceive();
    if (handler.Assigned()) handler(c, c->GetReadBufferCopy());
}

void TComThread::DoExecuteReceiveNoBuffer() {
    TTarnSerialPort* c = owner();
    if (c == nullptr || c->FDestroying) return;
    TSendReceiveEvent handler = c->GetOnReceive();
    if (handler.Assigned()) handler(c, std::string());
}

void TComThread::DoExecuteLineStatus() {
    TTarnSerialPort* c = owner();
    if (c == nullptr || c->FDestroying) return;
    TLineStatusEvent handler = c->GetOnLineStatusChange();
    if (handler.Assigned()) handler(c, TLineStatusSet::FromBits(c->FLineStatus));
}

void TComThread::DoExecuteConnect() {
    TTarnSerialPort* c = owner();
    if (c == nullptr || c->FDestroying) return;
    TConnectEvent handler = c->GetOnConnect();
    if (handler.Assigned() && port_ != spNone) handler(c, port_);
}

// The connection events carry this thread's own port: the component may
// already have opened another one from inside a handler.
void TComThread::DoExecuteDisconnect() {
    TTarnSerialPort* c = owner();
    if (c == nullptr || c->FDestroying) return;
    TConnectEvent handler = c->GetOnDisconnect();
    if (handler.Assigned() && port_ != spNone) handler(c, port_);
}

void TComThread::DoExecuteFault() {
    TTarnSerialPort* c = owner();
    if (c == nullptr || c->FDestroying) return;
    TConnectEvent handler = c->GetOnFault();
    if (handler.Assigned()) handler(c, port_);
}

bool TComThread::CheckPresence() {
    TTarnSerialPort* c = owner();
    if (c == nullptr) return false;
    // The name that was opened, not the one selected now: renaming the port
    // while it is open does not make the open device vanish.
    if (!c->PortHasVanished(openedName_)) return true;
    c->FIsFaulted = true;
    if (!Raise([this] { DoExecuteFault(); })) return false;
    // Closes this connection only; a handler may have replaced it.
    c->CloseConnection(serial_);
    return true;
}

bool TComThread::CheckPresenceWhenDue(bool queryFailed) {
    TTarnSerialPort* c = owner();
    if (c == nullptr) return false;
    const Clock::time_point now = Clock::now();
    if (!queryFailed && !LookDue(*c, lastPresenceCheck_, now)) return true;
    lastPresenceCheck_ = now;
    return CheckPresence();
}

bool TComThread::PollOnce(TCycleEnd& end) {
    TTarnSerialPort* c = owner();
    const drv::HANDLE handle = ComDevice;
    drv::COMSTAT stat{};
    std::uint32_t errors = 0;
    // Taken before the queue is counted: a read that takes bytes between the
    // two then makes the total smaller, never larger, so that bytes already
    // announced are not announced again.
    const std::uint32_t readBytes = c->FReadBytes;
    // A failed query counts as an empty queue, which leads to the presence
    // check: a port that answers nothing is as good as silent.
    const bool queried = drv::ClearCommError(handle, &errors, &stat);
    const std::uint32_t waiting = queried ? stat.cbInQue : 0;
    end = TCycleEnd::Idle;

    if (!c->FAutoReceive) {
        if (waiting == 0) return CheckPresenceWhenDue(!queried);
        // The bytes stay for the application's reads.
        end = TCycleEnd::Pending;
        const std::uint32_t total = readBytes + waiting;
        if (total > c->FSignaledBytes) {
            c->FSignaledBytes = total;
            return Raise([this] { DoExecuteReceiveNoBuffer(); });
        }
        return true;
    }

    if (Terminated() || waiting == 0) return CheckPresenceWhenDue(!queried);
    c->FIsReceiving = true;
    struct ReceivingDone {
        TComThread* self;
        ~ReceivingDone() {
            if (TTarnSerialPort* owner = self->owner()) owner->FIsReceiving = false;
        }
    } done{this};

    std::string chunk(waiting, '\0');
    std::uint32_t got = 0;
    bool read = false;
    {
        std::lock_guard<std::mutex> input(c->FInputLock);
        read = drv::ReadFile(handle, &chunk[0], waiting, &got);
    }
    if (!read || got == 0) {
        end = TCycleEnd::Pending;
        return CheckPresence();
    }
    chunk.resize(got);
    end = TCycleEnd::Delivered;
    {
        std::lock_guard<std::mutex> lock(c->FLock);
        c->FReadBuffer = chunk;
        if (c->FKeepEntireBuffer) {
            try {
                c->FEntireBuffer += chunk;
            } catch (const std::bad_alloc&) {
                // Out of memory for the whole history: start it afresh and
                // still deliver the chunk.
                c->FEntireBuffer = std::string();
            }
        }
    }
    if (!Raise([this] { DoExecuteReceive(); })) return false;
    if (c->FLogInput) c->WriteLog(chunk);
    return true;
}

void TComThread::Execute() {
    receiveThreadId_ = tarn::host::detail::CurrentOsThreadId();
    bool lastWaitFailed = false;
    while (!Terminated() && ComDevice != drv::INVALID_HANDLE_VALUE) {
        TTarnSerialPort* c = owner();
        if (c == nullptr) break;

        cycleStart_ = Clock::now();
        try {
            if (LookDue(*c, lastLineCheck_, cycleStart_)) {
                lastLineCheck_ = cycleStart_;
                const TLineStatusSet lines = c->GetLineStatus(ComDevice);
                if (lines.Bits() != c->FLineStatus.load()) {
                    c->FLineStatus = lines.Bits();
                    if (!Raise([this] { DoExecuteLineStatus(); })) break;
                }
            }
        } catch (...) {
            // A failing line-status handler does not stop reception.
            if (owner() == nullptr) break;
        }
        if (Terminated() || ComDevice == drv::INVALID_HANDLE_VALUE) break;

        TCycleEnd end = TCycleEnd::Idle;
        try {
            if (!PollOnce(end)) break;
        } catch (...) {
            // A handler, the log or the chunk handling failed: the cycle
            // ends with a presence check. An exception from that check (a
            // second failing OnFault, an unreadable port list) ends the
            // loop; the teardown still runs.
            if (owner() == nullptr) break;
            try {
                if (!CheckPresence()) break;
            } catch (...) {
                break;
            }
        }
        previousEnd_ = end;
        WaitForNextCycle(end, lastWaitFailed);
    }
    TearDown();
}

void TComThread::EndConnection() {
    if (!disconnectReported_.exchange(true)) {
        try {
            Raise([this] { DoExecuteDisconnect(); });
        } catch (...) {
            // The port is closed all the same; nobody is left to tell.
        }
    }
    const drv::HANDLE handle = ComDevice.exchange(drv::INVALID_HANDLE_VALUE);
    if (handle != drv::INVALID_HANDLE_VALUE) {
        drv::PurgeComm(handle, drv::PURGE_TXABORT | drv::PURGE_RXABORT | drv::PURGE_TXCLEAR |
                                   drv::PURGE_RXCLEAR);
        drv::CloseHandle(handle);
    }
}

void TComThread::TearDown() {
    EndConnection();
    TTarnSerialPort* c = owner();
    if (c == nullptr) return;
    c->ThreadEnded(this);
}
