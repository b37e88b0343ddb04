// The watch of the port list that the receive threads share: one thread in
// the process that waits on the driver's port change signal and, at each
// change, wakes every receive thread that has joined, through a one-shot
// wake of its input wait (WakeCommWaits), so that it runs its presence
// check now. A receive thread whose driver's wait ends by itself on input,
// line changes and removal then has nothing to look at on a period: the
// only thing no driver reports, the port's name taken off the list while
// its device stays, comes through here.
//
// Threads. Join and Leave run on the receive thread of the member, Wake on
// the watch's thread, TakeChange on the receive thread; the member's flag
// is atomic, the list of members is guarded by the watch's lock. The
// watch's thread starts with the first member and is joined when the last
// leaves, on that member's thread, never at process exit: on Windows a
// library's static destructors run under the loader lock, where no thread
// may end. The watch itself is never destroyed, so a thread left running
// at exit finds it.
#pragma once

#include <atomic>
#include <string>

#include "serial_driver.h"

// One receive thread's part in the watch. Made and destroyed on that
// thread; it leaves the watch on destruction.
class TPortListMember {
public:
    // Joins the watch for the port opened under `name`, whose handle
    // `handle` holds for as long as this member lives (the watch wakes the
    // waits on the handle it holds then). Starts the watch's thread when it
    // is the first, and returns once that thread watches.
    TPortListMember(const std::atomic<tarn::driver::HANDLE>& handle, const std::string& name);
    ~TPortListMember();
    TPortListMember(const TPortListMember&) = delete;
    TPortListMember& operator=(const TPortListMember&) = delete;

    // True when the watch wakes this member at every change of the port
    // list's entry for its name (PortChangeSignal::Covers). Fixed at the
    // joining; receive thread.
    bool Covered() const { return covered_; }

    // True once after each change of the list that the watch saw, and at
    // the first call: changes made before the joining went unseen. The
    // flag stays set until taken, and the watch keeps waking the member
    // meanwhile, so that a wake that another thread's input wait used up
    // is not the member's only one. Receive thread.
    bool TakeChange() { return changed_.exchange(false); }

    // Marks a change and wakes the member's input wait. Watch thread, with
    // the watch's lock held.
    void Wake();
    // True while a change is marked and not yet taken. Any thread.
    bool ChangeUnanswered() const { return changed_.load(); }

private:
    const std::atomic<tarn::driver::HANDLE>& handle_;
    std::atomic<bool> changed_{true};
    bool covered_ = false;
};
