// The main thread and the queue of calls that other threads hand to it.
//
// This is the one way code crosses from a background thread to the main
// thread. A background thread's Synchronize queues a call and blocks until
// the main thread has run it; the main thread runs queued calls whenever it
// calls CheckSynchronize or ProcessMessages (and while it waits in
// TThread::WaitFor). A GUI event loop installs a wake-up hook so that it
// knows when to do so.
//
// Which thread is the main thread: by default the thread that ran the
// library's static initialisation, that is the thread that loaded the
// library (for a program linked against it, the program's initial thread).
// SetMainThread moves the role to the calling thread.
//
// Every function here may be called from any thread; the queue is guarded by
// one internal mutex, which is never held while a queued call or the wake-up
// hook runs.
#pragma once

#include <functional>

namespace tarn::host {

bool IsMainThread();

// Declares the calling thread the main thread. Calls already queued stay
// queued for the new main thread.
void SetMainThread();

// Runs `fn` on the main thread. On the main thread it runs at once.
// Elsewhere it is queued, the wake-up hook is called, and the caller blocks
// until the main thread has run it; an exception that `fn` throws there is
// caught and thrown again in the caller. The caller blocks for as long as
// the main thread does not service the queue. An empty function is ignored.
void Synchronize(std::function<void()> fn);

// Main thread only (raises EThreadError elsewhere). With a positive
// timeout it first waits up to that many milliseconds for a call to arrive.
// Then it runs the calls queued at that moment, in order, and returns
// whether it ran any. A call may itself service the queue again (a handler
// that calls ProcessMessages): the inner call takes the next queued calls
// and the outer one carries on after it.
bool CheckSynchronize(int timeoutMs = 0);

// The application's message pump: runs what is queued now. On a thread
// other than the main thread it does nothing, as there is nothing for that
// thread to pump.
void ProcessMessages();

// Installs the hook that Synchronize calls, on the queuing thread, after it
// has queued a call; an empty function removes it. The hook must be safe to
// call from any thread and must not block on the main thread.
void SetWakeMainThread(std::function<void()> hook);

namespace detail {

// For TThread::WaitFor on the main thread: services the queue until `done`
// returns true. `done` is called with the queue's mutex held, so it must
// only read atomics. Whoever makes `done` true calls SignalMainThread
// afterwards.
void ServiceQueueUntil(const std::function<bool()>& done);
// Wakes a main thread that waits in ServiceQueueUntil or CheckSynchronize.
void SignalMainThread();

}  // namespace detail

}  // namespace tarn::host
