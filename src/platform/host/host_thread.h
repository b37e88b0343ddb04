// The host runtime's thread class.
//
// A derived class overrides Execute. C++ cannot run code after the
// most-derived constructor has finished, so the body never starts from a
// constructor: a thread "created not suspended" is started by its creator
// right after construction, which TThread::Create<T>(...) does in one step.
// A thread created suspended is started later with Start().
//
// Lifetime: with FreeOnTerminate set, the object deletes itself on its own
// thread once Execute and the OnTerminate handler have returned, and the
// creator must not touch it after starting it. Otherwise whoever owns the
// object deletes it; the destructor asks the thread to stop and waits for
// it. A derived class whose Execute uses its own members must stop the
// thread in its own destructor (Terminate, then WaitFor), because those
// members are gone by the time the base destructor runs.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

#include "host_strings.h"

namespace tarn::host {

// Ordinal 3 is normal priority, as in the host runtime.
enum TThreadPriority : std::uint8_t {
    tpIdle,
    tpLowest,
    tpLower,
    tpNormal,
    tpHigher,
    tpHighest,
    tpTimeCritical
};

// The literal names of the priorities, by ordinal, for published
// properties of this type.
const std::vector<UnicodeString>& ThreadPriorityNames();

class TThread {
public:
    using TNotifyEvent = std::function<void(TThread* sender)>;

    virtual ~TThread();
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    // Constructs a T and starts it unless T was created suspended. For a
    // FreeOnTerminate thread the result may already be gone when it is
    // returned; use it only for threads that do not free themselves.
    template <class T, class... Args>
    static T* Create(Args&&... args) {
        static_assert(std::is_base_of_v<TThread, T>, "Create makes threads only");
        T* thread = new T(std::forward<Args>(args)...);
        TThread* base = thread;
        if (!base->createSuspended_) {
            try {
                base->Start();
            } catch (...) {
                delete thread;
                throw;
            }
        }
        return thread;
    }

    // Begins the body on a new thread; returns once the thread runs, so that
    // ThreadID is valid. Raises EThreadError when called a second time or
    // when the system cannot create a thread.
    void Start();

    // Asks Execute to end; Execute polls Terminated. Any thread.
    void Terminate() { terminated_.store(true); }
    bool Terminated() const { return terminated_.load(); }

    // Any thread, until the body has finished.
    bool FreeOnTerminate() const { return freeOnTerminate_.load(); }
    void SetFreeOnTerminate(bool value) { freeOnTerminate_.store(value); }

    // Stored, and applied to the system thread where the system allows it:
    // on Windows through SetThreadPriority; on Linux as the thread's nice
    // value, where raising priority needs privileges and otherwise fails
    // without effect. Any thread.
    TThreadPriority Priority() const;
    void SetPriority(TThreadPriority priority);

    // Waits until the body and OnTerminate have finished and returns the
    // return value. On the main thread it services the synchronize queue
    // while waiting, so that the thread's own Synchronize calls (its
    // OnTerminate included) cannot deadlock. Raises EThreadError on the
    // thread itself, on a FreeOnTerminate thread and before Start.
    std::uint32_t WaitFor();

    // True once Execute and OnTerminate have returned. Any thread.
    bool Finished() const;
    // The system's identifier of the thread; 0 before Start. Any thread.
    std::uint32_t ThreadID() const;
    // The exception that escaped Execute (or OnTerminate), or null. Read it
    // after WaitFor, or from the OnTerminate handler.
    std::exception_ptr FatalException() const;

    // Called with this thread as sender, on the main thread through
    // Synchronize, after Execute has returned. Set it before Start.
    void SetOnTerminate(TNotifyEvent handler);

    // Runs `fn` on the main thread and waits for it (see Synchronize in
    // host_synchronize.h); an exception of `fn` is raised again here.
    void Synchronize(std::function<void()> fn);
    static void Synchronize(TThread* thread, std::function<void()> fn);

    static void Sleep(std::uint32_t milliseconds);
    // The calling thread's system identifier, comparable with ThreadID().
    static std::uint32_t CurrentThreadID();

protected:
    explicit TThread(bool createSuspended);

    virtual void Execute() = 0;
    // Runs OnTerminate through Synchronize when a handler is set.
    virtual void DoTerminate();

    void SetReturnValue(std::uint32_t value) { returnValue_.store(value); }
    std::uint32_t ReturnValue() const { return returnValue_.load(); }

private:
    struct Shared;
    static void Run(TThread* self, std::shared_ptr<Shared> shared);
    void WaitUntilFinished();

    // State that the system thread may touch after the object is gone (when
    // a waiter deletes it right after it finished) lives here.
    std::shared_ptr<Shared> shared_;
    std::thread thread_;
    std::atomic<bool> terminated_{false};
    std::atomic<bool> freeOnTerminate_{false};
    std::atomic<std::uint32_t> returnValue_{0};
    const bool createSuspended_;
};

namespace detail {

// The calling thread's system identifier (host_thread_win32.cpp,
// host_thread_posix.cpp).
std::uint32_t CurrentOsThreadId();
// Applies a priority to a running thread; failures are ignored.
void ApplyThreadPriority(std::uint32_t osThreadId, TThreadPriority priority);
// Makes the calling thread's timed waits end as close to their time as the
// system allows, where the system lets each thread choose; failures are
// ignored.
void UsePreciseTimedWaits();

}  // namespace detail

}  // namespace tarn::host
