// TPortWatcher: reports serial ports appearing on and disappearing from the
// port list, the list whose names TTarnSerialPort::GetExistingCommPortNames
// gives ("COM3", "/DEV/PTS/4", a virtual port's name; in capitals,
// trimmed).
//
//   TPortWatcher watcher;
//   watcher.SetOnArrival([](TPortWatcher*, UnicodeString name) { ... });
//   watcher.SetOnRemoval([](TPortWatcher*, UnicodeString name) { ... });
//   watcher.Start();
//
// The ports listed when Start is called are the baseline: no event is
// raised for them. After that each change of the list raises one event, in
// the order the watcher saw them: OnArrival when a name that was not
// listed is, OnRemoval when a listed name is no longer. A name listed twice
// counts once. When one look finds several changes, the removals come
// first, then the arrivals, each in the order of the list.
//
// The watcher does not poll where the system can tell it of a change: it
// waits on the driver's port change signal (inotify on Linux, a registry
// notification on Windows, and the driver's own changes, which include
// the virtual ports) and reads the list again on each.
//
// Threads. A background thread of the watcher waits and looks. Its events
// run on the main thread, through the host's synchronize queue, while
// NeedSynchronization is true (the default), so the program must serve that
// queue (CheckSynchronize, ProcessMessages); with it false they run on the
// watcher's thread. Each declaration below says which threads may call it;
// one that says nothing belongs to the owner's thread, or to a handler of
// this watcher.
#pragma once

#include <memory>

#include "host_event.h"
#include "host_strings.h"

class TPortWatcher;
class TPortWatcherPrivate;

using TPortChangeEvent =
    tarn::host::TEvent<void(TPortWatcher* Sender, tarn::host::UnicodeString PortName)>;

class TPortWatcher {
public:
    TPortWatcher();
    // Stops the watcher as Stop does. Inside one of its own handlers it
    // returns at once, and the thread ends by itself after the handler
    // without calling another.
    ~TPortWatcher();
    TPortWatcher(const TPortWatcher&) = delete;
    TPortWatcher& operator=(const TPortWatcher&) = delete;

    // Reads the port list as the baseline and starts watching; returns once
    // the baseline is read. Nothing when already watching. Raises the
    // registry's error when the list cannot be read (a value that is not a
    // string, on Windows), and EThreadError when no thread can be made.
    void Start();
    // Ends the watching. When it returns no handler of this watcher runs
    // and none will: an event still queued for the main thread is dropped.
    // It waits for the thread, serving the main thread's queue while it
    // does so on the main thread; on another thread, while an event waits
    // for the main thread, it waits until the main thread serves its queue.
    // Inside one of its own handlers it cannot wait: the thread then ends by
    // itself after the handler. Nothing when not watching.
    void Stop();
    // True from Start until Stop, or until a handler raised an exception,
    // which ends the watching. Any thread.
    bool Active() const;

    // Handlers may be replaced at any time from any thread; each event reads
    // the handler when it runs.
    TPortChangeEvent GetOnArrival() const;
    void SetOnArrival(TPortChangeEvent Value);
    TPortChangeEvent GetOnRemoval() const;
    void SetOnRemoval(TPortChangeEvent Value);

    // Where the events run, as above; a change takes effect at the next
    // event. Any thread.
    bool GetNeedSynchronization() const;
    void SetNeedSynchronization(bool Value);

private:
    // The watcher's state and its thread (port_watcher_p.h). Set by the
    // constructor and never replaced.
    const std::unique_ptr<TPortWatcherPrivate> d;
};
