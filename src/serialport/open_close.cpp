// Opening and closing a port, and the end of the component. The port's
// handle belongs to the receive thread; Open creates that thread (whose
// construction opens the port) and Close stops it (whose teardown closes
// the port).
#include <chrono>

#include "Tarnserialport.h"
#include "com_thread.h"
#include "host_format.h"
#include "host_synchronize.h"
#include "timer_resolution.h"

namespace drv = tarn::driver;
using tarn::host::AnsiToUnicode;

namespace {

// Below this poll period a finer system timer is asked for.
constexpr std::uint32_t kFineTimerDelay = 50;
// How long Close waits for the thread's teardown, as passes of 10 ms after
// a first pass of Delay.
constexpr int kClosePasses = 500;

}  // namespace

TTarnSerialPort::~TTarnSerialPort() {
    FDestroying = true;
    {
        std::lock_guard<std::mutex> lock(FLock);
        if (FRunningThread) FRunningThread->RequestStop();
    }
    // The thread reads this component until its teardown has finished, so
    // the component stays until then; events still queued for the main
    // thread run, but call no handler of a component that is going.
    WaitForThreadEnd(true);
    // The teardown aborted writes still blocked in the driver; background
    // sends now end soon and must not find the component gone.
    WaitForSenders();
    if (FTimerPeriodBegun.exchange(false)) tarn::timer::TimeEndPeriod(1);
}

bool TTarnSerialPort::WaitForThreadEnd(bool detachIfStuck) {
    std::unique_lock<std::mutex> lock(FLock);
    if (FRunningThread == nullptr) return true;
    if (FRunningThread->WaitingWouldDeadlock()) {
        // Called from inside the thread's own event: it cannot end while we
        // wait here.
        if (detachIfStuck) {
            FRunningThread->DetachOwner();
            FRunningThread = nullptr;
            ComThread = nullptr;
        }
        return false;
    }
    if (tarn::host::IsMainThread()) {
        // The thread may be waiting for the main thread to run one of its
        // events; serve the queue until the teardown is done.
        lock.unlock();
        while (true) {
            {
                std::lock_guard<std::mutex> check(FLock);
                if (FRunningThread == nullptr) return true;
            }
            tarn::host::CheckSynchronize(10);
        }
    }
    FThreadEndedSignal.wait(lock, [this] { return FRunningThread == nullptr; });
    return true;
}

void TTarnSerialPort::ThreadEnded(TComThread* thread) {
    std::lock_guard<std::mutex> lock(FLock);
    ConnectedTo = spNone;
    if (ComThread == thread) ComThread = nullptr;
    if (FRunningThread == thread) FRunningThread = nullptr;
    FThreadEndedSignal.notify_all();
    tarn::host::detail::SignalMainThread();
}

void TTarnSerialPort::Open() {
    // A connection that is still winding down (after a fault, or a Close
    // that returned early) finishes first, so that a port can be reopened
    // at once, for example a re-plugged adapter.
    // A connection that has faulted but whose thread has not got as far as
    // its own Close counts as winding down too.
    bool windingDown = false;
    {
        std::lock_guard<std::mutex> lock(FLock);
        if (FRunningThread != nullptr && (ComThread == nullptr || FIsFaulted)) {
            FRunningThread->RequestStop();
            windingDown = true;
        }
    }
    if (windingDown) WaitForThreadEnd(false);

    if (StringToCommPort(GetRawPort()) == ConnectedTo) return;
    if (CurrentThread() != nullptr) Close();

    if (FDelay < kFineTimerDelay && !FTimerPeriodBegun.exchange(true)) {
        tarn::timer::TimeBeginPeriod(1);
    }
    InitSyncCommunicationParams();

    auto* thread = new TComThread(this);
    if (thread->Opened()) {
        try {
            thread->Connect();
        } catch (...) {
            // The port was open for a moment: close it again, with its
            // OnDisconnect, and let the caller see the handler's exception.
            thread->TearDown();
            delete thread;
            Close();
            throw;
        }
        {
            std::lock_guard<std::mutex> lock(FLock);
            ComThread = thread;
            FRunningThread = thread;
        }
        FIsFaulted = false;
        // From here on the thread owns itself; it may end at any moment.
        thread->Start();
        return;
    }

    const std::uint32_t error = thread->OpenError();
    thread->TearDown();
    delete thread;
    Close();
    throw ETarnSerialPortException(tarn::host::Format(
        u"Cannot connect to %s. %s",
        {AnsiToUnicode(GetRawPort()), tarn::host::SysErrorMessage(error)}));
}

void TTarnSerialPort::Close() {
    if (FTimerPeriodBegun.exchange(false)) tarn::timer::TimeEndPeriod(1);
    InitSyncCommunicationParams();

    TComThread* thread = nullptr;
    bool mayWait = false;
    {
        std::lock_guard<std::mutex> lock(FLock);
        thread = ComThread;
        if (thread == nullptr) {
            ConnectedTo = spNone;
            return;
        }
        thread->RequestStop();
        mayWait = !thread->WaitingWouldDeadlock();
    }

    // On the receive thread itself, or inside one of its synchronized
    // events, the thread cannot finish while we wait: return at once and
    // let its teardown close the port when the event is over.
    if (mayWait) {
        using Clock = std::chrono::steady_clock;
        const auto limit = std::chrono::milliseconds(FDelay.load()) +
                           std::chrono::milliseconds(10 * (kClosePasses - 1));
        const auto deadline = Clock::now() + limit;
        std::unique_lock<std::mutex> lock(FLock);
        while (FRunningThread == thread && Clock::now() < deadline) {
            if (tarn::host::IsMainThread()) {
                lock.unlock();
                tarn::host::CheckSynchronize(10);
                lock.lock();
            } else {
                FThreadEndedSignal.wait_until(lock, deadline);
            }
        }
    }

    std::lock_guard<std::mutex> lock(FLock);
    if (ComThread == thread) ComThread = nullptr;
    FLineStatus = 0;
}
