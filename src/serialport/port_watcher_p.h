// The port watcher's state and its thread.
//
// Lifetime. The watcher owns its thread and, to stop it, asks it to end and
// waits for it. Where waiting would wait for ourselves (Stop or the
// destructor inside one of the watcher's own handlers, on the main thread
// while the thread waits in Synchronize, or on the thread itself) the
// thread is told to end and to free itself instead. What the thread shares
// with the watcher (handlers, the watcher as the events' sender) lives in a
// TPortWatchShared that both hold, so a thread that ends by itself never
// touches the watcher after it is gone.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <vector>

#include "host_strings.h"
#include "host_thread.h"
#include "port_change_signal.h"
#include "port_watcher.h"

struct TPortWatchShared {
    std::mutex mutex;
    TPortChangeEvent onArrival;      // guarded by mutex
    TPortChangeEvent onRemoval;      // guarded by mutex
    TPortWatcher* sender = nullptr;  // guarded by mutex; null once the watcher is gone
    std::atomic<bool> needSynchronization{true};
};

class TPortWatchThread final : public tarn::host::TThread {
public:
    explicit TPortWatchThread(std::shared_ptr<TPortWatchShared> shared);

    // Starts the thread and waits until it has set up its change signal and
    // read the baseline. Raises what that first read raised, once the
    // thread has ended, or EThreadError when no thread can be made. The
    // starting thread only.
    void StartWatching();

    // Asks the thread to end: no handler is called from now on, and its
    // wait for a change ends. Any thread.
    void RequestStop();

    // True on a thread that runs one of this thread's handlers right now
    // (the main thread in a synchronized event, or the thread itself),
    // where waiting for the thread would wait for ourselves. Any thread.
    bool DeliveringOnCallingThread() const;

protected:
    void Execute() override;

private:
    // Looks at the list until stopped.
    void Watch(tarn::driver::PortChangeSignal& signal, std::vector<tarn::host::UnicodeString> seen);
    // Raises OnArrival or OnRemoval for `name`, on the main thread when the
    // watcher asks for it. False once the thread is asked to end.
    bool Deliver(const tarn::host::UnicodeString& name, bool arrived);
    void AnnounceReady(std::exception_ptr error);

    const std::shared_ptr<TPortWatchShared> shared_;
    std::atomic<bool> stopped_{false};
    // The system identifier of the thread that runs a handler now; 0 when
    // none does.
    std::atomic<std::uint32_t> deliveringThread_{0};

    std::mutex signalMutex_;
    // The thread's change signal while it exists, so that RequestStop can
    // cancel its wait. Guarded by signalMutex_.
    tarn::driver::PortChangeSignal* signal_ = nullptr;
    // The start-up handshake, guarded by signalMutex_.
    std::condition_variable readyChanged_;
    bool ready_ = false;
    std::exception_ptr startError_;
};

class TPortWatcherPrivate {
public:
    explicit TPortWatcherPrivate(TPortWatcher* q);
    ~TPortWatcherPrivate();

    void Start();
    void Stop();
    bool Active() const;  // any thread

    const std::shared_ptr<TPortWatchShared> shared;

private:
    mutable std::mutex mutex_;
    TPortWatchThread* thread_ = nullptr;  // guarded by mutex_; owned
};
