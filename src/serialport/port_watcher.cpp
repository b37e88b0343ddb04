// The port watcher: a thread that waits on the driver's port change signal,
// reads the port list again at each change and raises one event per name
// that came or went.
#include "port_watcher.h"

#include <algorithm>
#include <utility>

#include "host_synchronize.h"
#include "port_list_p.h"
#include "port_watcher_p.h"

using tarn::driver::PortChangeSignal;
using tarn::host::UnicodeString;

namespace {

// After a change that the system reported, the list is read at once and
// once more this much later: the system may announce a change before it
// has finished making it (a device node goes before its sysfs entry, a
// pseudo-terminal's node before its line hangs up).
constexpr std::uint32_t kSettleMs = 250;
// Where the system cannot tell of a change (its watch could not be set up),
// the list is read this often; also after a read of the list failed.
constexpr std::uint32_t kFallbackMs = 3000;
// With a system watch and nothing to read again, the wait is only cut into
// pieces of this length; it ends for a change or a stop at any moment.
constexpr std::uint32_t kQuietMs = 60000;

// The names in list order, each once.
std::vector<UnicodeString> Distinct(std::vector<UnicodeString> names) {
    std::vector<UnicodeString> distinct;
    for (UnicodeString& name : names) {
        if (std::find(distinct.begin(), distinct.end(), name) == distinct.end()) {
            distinct.push_back(std::move(name));
        }
    }
    return distinct;
}

bool Contains(const std::vector<UnicodeString>& names, const UnicodeString& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

}  // namespace

// --- The thread ---------------------------------------------------------------

TPortWatchThread::TPortWatchThread(std::shared_ptr<TPortWatchShared> shared)
    : TThread(true), shared_(std::move(shared)) {}

void TPortWatchThread::StartWatching() {
    Start();
    std::exception_ptr error;
    {
        std::unique_lock<std::mutex> lock(signalMutex_);
        readyChanged_.wait(lock, [&] { return ready_; });
        error = startError_;
    }
    if (!error) return;
    WaitFor();
    std::rethrow_exception(error);
}

void TPortWatchThread::AnnounceReady(std::exception_ptr error) {
    {
        std::lock_guard<std::mutex> lock(signalMutex_);
        ready_ = true;
        startError_ = std::move(error);
    }
    readyChanged_.notify_all();
}

void TPortWatchThread::RequestStop() {
    stopped_.store(true);
    std::lock_guard<std::mutex> lock(signalMutex_);
    if (signal_ != nullptr) signal_->Cancel();
}

bool TPortWatchThread::DeliveringOnCallingThread() const {
    return deliveringThread_.load() == CurrentThreadID();
}

void TPortWatchThread::Execute() {
    // The signal is made before the baseline is read, so that no change
    // after the read goes unnoticed, and on this thread, which waits on it.
    std::unique_ptr<PortChangeSignal> signal;
    std::vector<UnicodeString> baseline;
    try {
        signal = std::make_unique<PortChangeSignal>();
        baseline = Distinct(ReadPortListNames());
    } catch (...) {
        AnnounceReady(std::current_exception());
        return;
    }
    {
        std::lock_guard<std::mutex> lock(signalMutex_);
        signal_ = signal.get();
    }
    // Forgotten before the signal goes, also when a handler's exception
    // ends the watching.
    struct Forget {
        TPortWatchThread& thread;
        ~Forget() {
            std::lock_guard<std::mutex> lock(thread.signalMutex_);
            thread.signal_ = nullptr;
        }
    } forget{*this};
    AnnounceReady(nullptr);
    Watch(*signal, std::move(baseline));
}

void TPortWatchThread::Watch(PortChangeSignal& signal, std::vector<UnicodeString> seen) {
    // How long until the list is read again without a change, 0 for not
    // at all.
    std::uint32_t lookAgainMs = signal.SystemWatched() ? 0 : kFallbackMs;
    while (!stopped_.load()) {
        const PortChangeSignal::Result woke = signal.Wait(lookAgainMs > 0 ? lookAgainMs : kQuietMs);
        if (woke == PortChangeSignal::Result::Cancelled) return;
        if (woke == PortChangeSignal::Result::TimedOut && lookAgainMs == 0) continue;

        lookAgainMs = woke == PortChangeSignal::Result::Changed ? kSettleMs
                      : signal.SystemWatched()                  ? 0
                                                                : kFallbackMs;
        std::vector<UnicodeString> now;
        try {
            now = Distinct(ReadPortListNames());
        } catch (...) {
            // A list that cannot be read now (a value that is not a string)
            // is read again later; what was seen stays the reference.
            lookAgainMs = kFallbackMs;
            continue;
        }
        for (const UnicodeString& name : seen) {
            if (!Contains(now, name) && !Deliver(name, false)) return;
        }
        for (const UnicodeString& name : now) {
            if (!Contains(seen, name) && !Deliver(name, true)) return;
        }
        seen = std::move(now);
    }
}

bool TPortWatchThread::Deliver(const UnicodeString& name, bool arrived) {
    if (stopped_.load()) return false;
    // Runs on the thread that raises the event. A stop asked for while the
    // call waited in the queue drops it.
    auto raise = [this, &name, arrived] {
        if (stopped_.load()) return;
        TPortChangeEvent handler;
        TPortWatcher* sender = nullptr;
        {
            std::lock_guard<std::mutex> lock(shared_->mutex);
            handler = arrived ? shared_->onArrival : shared_->onRemoval;
            sender = shared_->sender;
        }
        if (!handler.Assigned() || sender == nullptr) return;
        struct Delivering {
            std::atomic<std::uint32_t>& thread;
            ~Delivering() { thread.store(0); }
        } delivering{deliveringThread_};
        deliveringThread_.store(CurrentThreadID());
        handler(sender, name);
    };
    // An exception of a handler leaves Execute and ends the watching.
    if (shared_->needSynchronization.load()) {
        Synchronize(raise);
    } else {
        raise();
    }
    return !stopped_.load();
}

// --- The watcher ---------------------------------------------------------------

TPortWatcherPrivate::TPortWatcherPrivate(TPortWatcher* q)
    : shared(std::make_shared<TPortWatchShared>()) {
    shared->sender = q;
}

TPortWatcherPrivate::~TPortWatcherPrivate() {
    Stop();
    std::lock_guard<std::mutex> lock(shared->mutex);
    shared->sender = nullptr;
}

void TPortWatcherPrivate::Start() {
    TPortWatchThread* ended = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (thread_ != nullptr && !thread_->Finished()) return;
        std::swap(ended, thread_);
    }
    // A thread that a handler's exception ended.
    delete ended;

    auto thread = std::make_unique<TPortWatchThread>(shared);
    thread->StartWatching();
    std::lock_guard<std::mutex> lock(mutex_);
    thread_ = thread.release();
}

void TPortWatcherPrivate::Stop() {
    TPortWatchThread* thread = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        std::swap(thread, thread_);
    }
    if (thread == nullptr) return;
    thread->RequestStop();
    if (thread->DeliveringOnCallingThread()) {
        // Inside the thread's own handler: it is blocked until the handler
        // returns, so it cannot have finished, and it frees itself when it
        // has.
        thread->SetFreeOnTerminate(true);
        return;
    }
    // On the main thread this serves the queue, where a queued event of
    // the thread finds it stopped and returns.
    thread->WaitFor();
    delete thread;
}

bool TPortWatcherPrivate::Active() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return thread_ != nullptr && !thread_->Finished();
}

// --- The public interface -------------------------------------------------------

TPortWatcher::TPortWatcher() : d(std::make_unique<TPortWatcherPrivate>(this)) {}

TPortWatcher::~TPortWatcher() = default;

void TPortWatcher::Start() { d->Start(); }

void TPortWatcher::Stop() { d->Stop(); }

bool TPortWatcher::Active() const { return d->Active(); }

TPortChangeEvent TPortWatcher::GetOnArrival() const {
    std::lock_guard<std::mutex> lock(d->shared->mutex);
    return d->shared->onArrival;
}

void TPortWatcher::SetOnArrival(TPortChangeEvent Value) {
    std::lock_guard<std::mutex> lock(d->shared->mutex);
    d->shared->onArrival = std::move(Value);
}

TPortChangeEvent TPortWatcher::GetOnRemoval() const {
    std::lock_guard<std::mutex> lock(d->shared->mutex);
    return d->shared->onRemoval;
}

void TPortWatcher::SetOnRemoval(TPortChangeEvent Value) {
    std::lock_guard<std::mutex> lock(d->shared->mutex);
    d->shared->onRemoval = std::move(Value);
}

bool TPortWatcher::GetNeedSynchronization() const { return d->shared->needSynchronization.load(); }

void TPortWatcher::SetNeedSynchronization(bool Value) {
    d->shared->needSynchronization.store(Value);
}
