#include "host_thread.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>

#include "host_exception.h"
#include "host_synchronize.h"

namespace tarn::host {

struct TThread::Shared {
    std::mutex mutex;
    std::condition_variable changed;
    // Guarded by mutex.
    bool started = false;
    bool running = false;  // the system thread has recorded its identifier
    bool finished = false;
    std::uint32_t osId = 0;
    TThreadPriority priority = tpNormal;
    std::exception_ptr fatal;
    TNotifyEvent onTerminate;
    // Mirrors `finished` for waiters that may only read atomics.
    std::atomic<bool> done{false};
};

TThread::TThread(bool createSuspended)
    : shared_(std::make_shared<Shared>()), createSuspended_(createSuspended) {}

TThread::~TThread() {
    if (!thread_.joinable()) return;
    if (thread_.get_id() == std::this_thread::get_id()) {
        // A FreeOnTerminate thread deleting itself: nobody will join it.
        thread_.detach();
        return;
    }
    Terminate();
    WaitUntilFinished();
    thread_.join();
}

void TThread::Start() {
    // Copies kept on the stack: once the body runs, a FreeOnTerminate
    // thread may finish and delete this object before Start returns.
    const std::shared_ptr<Shared> shared = shared_;
    std::unique_lock<std::mutex> lock(shared->mutex);
    if (shared->started) throw EThreadError(u"Thread has already been started");
    try {
        // The new thread first takes the mutex held here, so thread_ is
        // assigned before the body can run and free the object.
        thread_ = std::thread(&TThread::Run, this, shared);
    } catch (const std::system_error& error) {
        throw EThreadError(u"Cannot create a thread: " + Utf8ToUnicode(error.what()));
    }
    shared->started = true;
    shared->changed.wait(lock, [&] { return shared->running; });
}

void TThread::Run(TThread* self, std::shared_ptr<Shared> shared) {
    {
        std::lock_guard<std::mutex> lock(shared->mutex);
        shared->osId = detail::CurrentOsThreadId();
        // A thread of this class sleeps for periods that its owner chose,
        // often a millisecond or two, and each one should last just that.
        detail::UsePreciseTimedWaits();
        // Normal priority is what a new thread has; leaving it alone keeps
        // a niceness that the process was started with.
        if (shared->priority != tpNormal) {
            detail::ApplyThreadPriority(shared->osId, shared->priority);
        }
        shared->running = true;
    }
    shared->changed.notify_all();

    try {
        self->Execute();
    } catch (...) {
        std::lock_guard<std::mutex> lock(shared->mutex);
        shared->fatal = std::current_exception();
    }
    try {
        self->DoTerminate();
    } catch (...) {
        std::lock_guard<std::mutex> lock(shared->mutex);
        if (!shared->fatal) shared->fatal = std::current_exception();
    }

    // Read before finishing: once `finished` is set, an owner waiting in
    // WaitFor may delete the object at any moment.
    const bool freeSelf = self->freeOnTerminate_.load();
    {
        std::lock_guard<std::mutex> lock(shared->mutex);
        shared->finished = true;
        shared->done.store(true);
    }
    shared->changed.notify_all();
    detail::SignalMainThread();
    if (freeSelf) delete self;
}

void TThread::DoTerminate() {
    TNotifyEvent handler;
    {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        handler = shared_->onTerminate;
    }
    if (handler) Synchronize([&] { handler(this); });
}

void TThread::WaitUntilFinished() {
    const std::shared_ptr<Shared> shared = shared_;
    if (IsMainThread()) {
        detail::ServiceQueueUntil([&] { return shared->done.load(); });
        return;
    }
    std::unique_lock<std::mutex> lock(shared->mutex);
    shared->changed.wait(lock, [&] { return shared->finished; });
}

std::uint32_t TThread::WaitFor() {
    {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        if (!shared_->started) throw EThreadError(u"Cannot wait for a thread that was not started");
        if (shared_->running && !shared_->finished &&
            shared_->osId == detail::CurrentOsThreadId()) {
            throw EThreadError(u"A thread cannot wait for itself");
        }
    }
    if (freeOnTerminate_.load()) {
        throw EThreadError(u"Cannot wait for a thread that frees itself on termination");
    }
    WaitUntilFinished();
    return returnValue_.load();
}

TThreadPriority TThread::Priority() const {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    return shared_->priority;
}

void TThread::SetPriority(TThreadPriority priority) {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->priority = priority;
    // Only while the system thread exists: after it ends, its identifier may
    // already belong to another thread.
    if (shared_->running && !shared_->finished) {
        detail::ApplyThreadPriority(shared_->osId, priority);
    }
}

bool TThread::Finished() const { return shared_->done.load(); }

std::uint32_t TThread::ThreadID() const {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    return shared_->osId;
}

std::exception_ptr TThread::FatalException() const {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    return shared_->fatal;
}

void TThread::SetOnTerminate(TNotifyEvent handler) {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->onTerminate = std::move(handler);
}

void TThread::Synchronize(std::function<void()> fn) { host::Synchronize(std::move(fn)); }

void TThread::Synchronize(TThread* /*thread*/, std::function<void()> fn) {
    host::Synchronize(std::move(fn));
}

void TThread::Sleep(std::uint32_t milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

std::uint32_t TThread::CurrentThreadID() { return detail::CurrentOsThreadId(); }

const std::vector<UnicodeString>& ThreadPriorityNames() {
    static const std::vector<UnicodeString> names = {u"tpIdle",        u"tpLowest", u"tpLower",
                                                     u"tpNormal",      u"tpHigher", u"tpHighest",
                                                     u"tpTimeCritical"};
    return names;
}

}  // namespace tarn::host
