// Opening and closing a port, and the end of the component. The port's
// handle belongs to the receive thread; Open creates that thread (whose
// construction opens the port) and Close stops it (whose teardown closes
// the port).
#include <algorithm>
#include <chrono>
#include <functional>
#include <optional>

#include "Tarnserialport.h"
#include "Tarnserialport_p.h"
#include "com_thread_p.h"
#include "host_format.h"
#include "host_synchronize.h"
#include "timer_resolution.h"

namespace drv = tarn::driver;
using tarn::host::AnsiToUnicode;

namespace {

// Below this poll period a finer system timer is asked for. A thread that
// wakes on data asks for it too: where the driver waits for input by looking
// at the queue between short sleeps, the coarse timer would stretch each
// sleep to a whole tick.
constexpr std::uint32_t kFineTimerDelay = 50;
// How long Close waits for the thread's teardown, as passes of 10 ms after
// a first pass of Delay.
constexpr int kClosePasses = 500;

}  // namespace

TTarnSerialPort::~TTarnSerialPort() {
    d->FDestroying = true;
    {
        std::lock_guard<std::mutex> lock(d->FLock);
        for (TComThread* thread : d->FRunningThreads) thread->RequestStop();
    }
    // The threads read this component until their teardown has finished, so
    // the component stays until then; events still queued for the main
    // thread run, but call no handler of a component that is going.
    d->WaitForThreadEnd(true);
    // The teardown aborted writes still blocked in the driver; background
    // sends now end soon and must not find the component gone.
    d->WaitForSenders();
    if (d->FTimerPeriodBegun.exchange(false)) tarn::timer::TimeEndPeriod(1);
    // The private part goes last, when nothing can reach it any more.
}

bool TTarnSerialPortPrivate::ThreadRunning(std::uint64_t serial) const {
    for (const TComThread* thread : FRunningThreads) {
        if (thread->Serial() == serial) return true;
    }
    return false;
}

bool TTarnSerialPortPrivate::WaitForThreadEnd(bool detachIfStuck) {
    std::unique_lock<std::mutex> lock(FLock);
    bool waitedForAll = true;
    for (auto it = FRunningThreads.begin(); it != FRunningThreads.end();) {
        TComThread* thread = *it;
        if (!thread->WaitingWouldDeadlock()) {
            ++it;
            continue;
        }
        // We run inside this thread's own event: it cannot end while we
        // wait here.
        waitedForAll = false;
        if (!detachIfStuck) {
            ++it;
            continue;
        }
        thread->DetachOwner();
        if (ComThread == thread) SetComThread(nullptr);
        it = FRunningThreads.erase(it);
    }
    const auto pending = [this] {
        for (const TComThread* thread : FRunningThreads) {
            if (thread->StopRequested() && !thread->WaitingWouldDeadlock()) return true;
        }
        return false;
    };
    WaitForThreads(
        lock, [&] { return !pending(); }, std::nullopt);
    return waitedForAll;
}

void TTarnSerialPortPrivate::ThreadEnded(TComThread* thread) {
    std::lock_guard<std::mutex> lock(FLock);
    // Only the connection that is still the component's is reported closed:
    // a handler may have opened another one while this thread wound down.
    if (ComThread == thread) SetComThread(nullptr);
    if (ComThread == nullptr) ConnectedTo = spNone;
    FRunningThreads.erase(std::remove(FRunningThreads.begin(), FRunningThreads.end(), thread),
                          FRunningThreads.end());
    FThreadEndedSignal.notify_all();
    tarn::host::detail::SignalMainThread();
}

bool TTarnSerialPortPrivate::CloseRequested() const {
    std::lock_guard<std::mutex> lock(FLock);
    return ComThread != nullptr && ComThread->StopRequested();
}

void TTarnSerialPortPrivate::FinishEndingConnections() {
    // A connection that is ending (its device has gone, or a Close of it
    // could not wait) is closed for good first, and threads that still wind
    // down finish, so that a port can be reopened at once, for example a
    // re-plugged adapter or from inside OnDisconnect.
    bool ending = false;
    {
        std::lock_guard<std::mutex> lock(FLock);
        ending = ComThread != nullptr && (ComThread->StopRequested() || FIsFaulted);
        for (TComThread* thread : FRunningThreads) {
            if (thread != ComThread) thread->RequestStop();
        }
    }
    if (ending) q->Close();
    WaitForThreadEnd(false);
}

void TTarnSerialPort::Open() {
    d->FinishEndingConnections();

    if (StringToCommPort(d->RawPort()) == d->ConnectedTo) return;
    if (d->CurrentThread() != nullptr) Close();

    if ((d->FDelay < kFineTimerDelay || d->FWakeOnData) && !d->FTimerPeriodBegun.exchange(true)) {
        tarn::timer::TimeBeginPeriod(1);
    }
    d->ResetReadCounts();
    {
        std::lock_guard<std::mutex> lock(d->FInputLock);
        d->FEntireBuffer.clear();
    }

    auto* thread = new TComThread(d.get(), d->RawPort(), d->FPriority);
    if (!thread->Opened()) {
        const std::uint32_t error = thread->OpenError();
        const bool recordingFailed = thread->RecordingFailed();
        thread->TearDown();
        delete thread;
        Close();
        if (recordingFailed) {
            TTarnSerialPortPrivate::RaiseRecordFailure(d->RawPort(), d->Guarded(d->FRecordFile),
                                                       error);
        }
        throw ETarnSerialPortException(
            tarn::host::Format(u"Cannot connect to %s. %s",
                               {AnsiToUnicode(d->RawPort()), tarn::host::SysErrorMessage(error)}),
            error);
    }
    d->BeginConnection(thread);
}

void TTarnSerialPortPrivate::BeginConnection(TComThread* thread) {
    // Registered before OnConnect, so that the handler finds the port open
    // and can close it, or open another one, like any open port.
    {
        std::lock_guard<std::mutex> lock(FLock);
        thread->SetSerial(++FLastConnectionSerial);
        SetComThread(thread);
        FRunningThreads.push_back(thread);
        ConnectedTo = thread->Port();
    }
    FIsFaulted = false;
    FFaultClaimed = false;
    // The port was open for a moment but the thread never runs: its closing
    // steps run here, with OnDisconnect unless Close has raised it already.
    const auto endUnstarted = [thread] {
        thread->RequestStop();
        thread->TearDown();
        delete thread;
    };
    try {
        thread->Connect();
        // The handler closed the port (and may have opened another).
        if (thread->StopRequested()) return endUnstarted();
        thread->StartPolling();
    } catch (...) {
        // The handler raised, or no thread could be created: the caller sees
        // the exception with the port closed again.
        endUnstarted();
        if (CurrentThread() == nullptr) q->Close();
        throw;
    }
    // From here on the thread owns itself; it may end at any moment.
}

void TTarnSerialPort::Close() { d->CloseConnection(0); }

void TTarnSerialPortPrivate::CloseConnection(std::uint64_t serial) {
    TComThread* thread = nullptr;
    bool mayWait = false;
    if (serial != 0) {
        std::lock_guard<std::mutex> lock(FLock);
        if (ComThread == nullptr || ComThread->Serial() != serial) return;
    }
    if (FTimerPeriodBegun.exchange(false)) tarn::timer::TimeEndPeriod(1);
    ResetReadCounts();
    {
        std::lock_guard<std::mutex> lock(FLock);
        thread = ComThread;
        if (thread == nullptr) {
            ConnectedTo = spNone;
            return;
        }
        serial = thread->Serial();
        thread->RequestStop();
        mayWait = !thread->WaitingWouldDeadlock();
    }

    if (!mayWait) {
        // On the receive thread itself, inside one of its events, or inside
        // OnConnect, the thread cannot finish while we wait. Its closing
        // steps run here instead (the thread is held where it is, so it
        // cannot run them at the same time), and the component is Closed
        // when Close returns: a handler that closes and reopens finds the
        // device free, and its events come in order.
        thread->EndConnection();
        std::lock_guard<std::mutex> lock(FLock);
        if (ComThread == thread) {
            SetComThread(nullptr);
            ConnectedTo = spNone;
            FLineStatus = 0;
        }
        return;
    }

    std::unique_lock<std::mutex> lock(FLock);
    WaitForThreadOf(serial,
                    std::chrono::milliseconds(FDelay.load()) +
                        std::chrono::milliseconds(10 * (kClosePasses - 1)),
                    lock);
    // An OnDisconnect handler may have opened the port again meanwhile;
    // that connection stays. The thread itself may be gone: it is known
    // by its number only.
    if (ComThread == nullptr || ComThread->Serial() == serial) {
        SetComThread(nullptr);
        FLineStatus = 0;
    }
}

void TTarnSerialPortPrivate::WaitForThreadOf(std::uint64_t serial, std::chrono::milliseconds limit,
                                             std::unique_lock<std::mutex>& lock) {
    WaitForThreads(
        lock, [&] { return !ThreadRunning(serial); }, std::chrono::steady_clock::now() + limit);
}

void TTarnSerialPortPrivate::WaitForThreads(
    std::unique_lock<std::mutex>& lock, const std::function<bool()>& done,
    std::optional<std::chrono::steady_clock::time_point> deadline) {
    using Clock = std::chrono::steady_clock;
    while (!done() && (!deadline || Clock::now() < *deadline)) {
        if (tarn::host::IsMainThread()) {
            // A thread may be waiting for the main thread to run one of its
            // events; serve the queue until the teardowns are done.
            lock.unlock();
            tarn::host::CheckSynchronize(10);
            lock.lock();
        } else if (deadline) {
            FThreadEndedSignal.wait_until(lock, *deadline);
        } else {
            FThreadEndedSignal.wait(lock);
        }
    }
}
