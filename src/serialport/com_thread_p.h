// TComThread: the receive thread of an open port. It owns the port's handle
// (ComDevice): its construction opens the port, its poll loop reads and
// announces what arrives, and its teardown closes the port. The component
// reaches the handle only through it, and the thread reaches the component
// only through the interface of TTarnSerialPortPrivate.
//
// Lifetime. The thread frees itself when its body has ended. Its last act
// that touches the component is to unregister itself there (under the
// component's lock), so the component never holds a pointer to an ended
// thread, and the component's destructor waits for that moment (or, when it
// cannot wait because it runs inside this thread's own event, detaches the
// thread, which then finishes without its owner).
//
// One thread is one connection. It keeps the identifier and the name it
// opened, and its events and its teardown speak only of that connection,
// never of one that replaced it while the thread was winding down.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Tarnserialport_p.h"
#include "host_thread.h"
#include "serial_driver.h"
#include "serial_types.h"

class TPortListMember;

class TComThread final : public tarn::host::TThread {
public:
    // Runs the opening steps on the calling thread: opens the port named
    // `name` and hands it the component's settings. The body does not run
    // until Start. Opened() tells whether the port is open.
    TComThread(TTarnSerialPortPrivate* AOwner, const std::string& name,
               tarn::host::TThreadPriority priority);
    ~TComThread() override;

    // Any thread.
    tarn::driver::HANDLE GetPortHandle() const { return ComDevice; }

    // The port's handle; the invalid handle value when none is open.
    std::atomic<tarn::driver::HANDLE> ComDevice{tarn::driver::INVALID_HANDLE_VALUE};

    // True when the opening steps succeeded.
    bool Opened() const { return opened_; }
    // The identifier and the name under which the port was opened; a later
    // change of the component's Port or CustomPortName does not touch them.
    // Constant once the constructor has returned; any thread.
    TCommPort Port() const { return port_; }
    const std::string& OpenedName() const { return openedName_; }
    // The component's number for this connection, given when it registers
    // the thread; 0 before. REQUIRES: the component's lock held, or the
    // call made on the thread itself.
    std::uint64_t Serial() const { return serial_; }
    void SetSerial(std::uint64_t serial) { serial_ = serial; }
    // The driver's error code of a failed opening step.
    std::uint32_t OpenError() const { return openError_; }
    // True when the failed step was the start of the recording.
    bool RecordingFailed() const { return recordingFailed_; }

    // Raises OnConnect as the last opening step. An exception of the
    // handler leaves this call; the caller then tears the port down with
    // TearDown, as the thread never starts.
    void Connect();

    // Starts the poll loop; the thread owns itself from here on.
    void StartPolling();

    // The closing steps that end the connection: OnDisconnect (once per
    // connection, however often this is called), then purge and close the
    // handle. Called by the teardown, and by Close where it cannot wait for
    // the teardown. REQUIRES: a place where the thread cannot end meanwhile
    // (WaitingWouldDeadlock() true, or the thread itself).
    void EndConnection();

    // The closing steps and the unregistering from the component. Runs on
    // the receive thread at the end of its body, or on the opening thread
    // when the thread never started.
    void TearDown();

    // Asks the loop to end and wakes it from its sleep, or from its wait in
    // the driver. Any thread.
    void RequestStop();
    bool StopRequested() const { return Terminated(); }

    // True on the receive thread itself, while the main thread runs one of
    // this thread's synchronized events, or on the opening thread before
    // the loop has started: the places where waiting for this thread would
    // wait for ourselves. Any thread.
    bool WaitingWouldDeadlock() const;

    // The component goes away without waiting; from now on the thread does
    // not touch it. REQUIRES: the component's lock held, and the call made
    // from a place where WaitingWouldDeadlock() is true.
    void DetachOwner() { owner_ = nullptr; }

protected:
    void Execute() override;

private:
    // The component, or null once it has gone. Read and written under the
    // component's lock, except on this thread between events, where only
    // this thread can clear it (see DetachOwner).
    TTarnSerialPortPrivate* owner() const { return owner_; }

    // Raises an event: calls `deliver` with the component, on the main
    // thread when the component asks for synchronization, and not at all
    // once the component has gone. What the event carries travels inside
    // `deliver`. False when the component went away during the event: the
    // caller then stops touching it.
    template <typename Deliver>
    bool Raise(Deliver deliver);
    // Raises OnConnect, OnDisconnect or OnFault for this thread's port.
    bool RaiseConnectionEvent(TTarnSerialPortPrivate::TConnectionEvent event);

    // How a poll cycle ended, which decides how a thread that wakes on data
    // waits before the next one: for input when the queue was empty or a
    // chunk was delivered, and Delay when bytes wait that the thread does
    // not take, so that it does not spin on them.
    enum class TCycleEnd { Idle, Delivered, Pending };

    // The component's presence check. False when the component went away.
    bool CheckPresence();
    // The presence check of a cycle that found the queue empty, when it is
    // due or the queue query failed. It is due as LookDue says, except
    // where the watch of the port list covers the port (PresenceWatched):
    // there only after the watch saw the list change.
    bool CheckPresenceWhenDue(bool queryFailed);
    // True when the port's presence is left to the shared watch of the port
    // list (port_list_watch_p.h): in the wake mode, on a driver whose wait
    // ends at once on input, line changes and removal, for a port whose
    // list entry the watch covers. Joins the watch at the first call that
    // finds the mode and the driver so, with the presence check on.
    bool PresenceWatched(const TTarnSerialPortPrivate::TReceiveSettings& settings);
    // The look at the modem lines at the start of a cycle, with
    // OnLineStatusChange when they changed; false when the component went
    // away.
    bool LookAtLines();
    // One poll cycle after the line status; false when the component went
    // away.
    bool PollOnce(TCycleEnd& end);
    // The part of a cycle with AutoReceive on: reads what waits at
    // `handle` and takes it where a received chunk goes (the books,
    // OnReceive, the log); false when the component went away.
    bool ReceiveChunk(TTarnSerialPortPrivate& c, tarn::driver::HANDLE handle, TCycleEnd& end);
    // Reads what waits at `handle` into room_, `got` bytes of it; false
    // when the driver failed. REQUIRES: the component's input taken.
    bool TakeWaiting(const TTarnSerialPortPrivate& c, tarn::driver::HANDLE handle,
                     std::uint32_t& got);
    // The frames: the cutter follows the component's framing (false while
    // it is frNone); OnFrame and OnFrameError for what it found; and the end
    // of a frame of frSilence in a cycle that found nothing. The Raise
    // functions are false when the component went away.
    bool FollowFraming(const TTarnSerialPortPrivate& c);
    bool RaiseFrames(tarn::serialport::TFoundFrames& frames);
    bool EndQuietFrame(const TTarnSerialPortPrivate& c);
    // Whether a look at the modem lines or the presence, last taken at
    // `last`, is due in this cycle: always, except in a thread that wakes
    // on data right after a chunk, where it waits until Delay has passed
    // since `last` (more bytes may be on their way).
    bool LookDue(const TTarnSerialPortPrivate::TReceiveSettings& settings,
                 std::chrono::steady_clock::time_point last,
                 std::chrono::steady_clock::time_point now) const;
    // How long a thread that wakes on data waits for input: until the next
    // look at the lines and the presence is due, at most Delay after the
    // older of the two. When the driver's wait ends at once on a line change
    // and on removal as well, and this cycle has looked at both, there is
    // nothing to look for until it ends, and it lasts longer: a second,
    // for the name taken off the list, and without end where the watch of
    // the port list wakes the wait for that, or the presence check is off
    // (the presence then counts no more in the looks due).
    std::uint32_t InputWaitMs(const TTarnSerialPortPrivate::TReceiveSettings& settings) const;
    // Waits between two cycles, as the component's WakeOnData says.
    // `lastWaitFailed` carries over from one call to the next.
    void WaitForNextCycle(TCycleEnd end, bool& lastWaitFailed);
    void SleepDelay();

    std::atomic<TTarnSerialPortPrivate*> owner_;
    bool opened_ = false;
    std::uint32_t openError_ = 0;
    bool recordingFailed_ = false;
    TCommPort port_ = spNone;
    std::string openedName_;
    std::uint64_t serial_ = 0;
    std::atomic<bool> disconnectReported_{false};
    std::atomic<bool> started_{false};
    std::uint32_t openingThreadId_ = 0;
    std::atomic<std::uint32_t> receiveThreadId_{0};
    // Set while the main thread runs one of this thread's events.
    std::atomic<bool> inSynchronizedEvent_{false};
    std::atomic<std::uint32_t> synchronizedEventThread_{0};

    // What the driver's input wait wakes for at once (COMMWAIT_ bits).
    std::uint32_t waitWakes_ = 0;
    // When the current cycle began, when the lines and the presence were
    // last looked at, and how the cycle before the current one ended.
    // Receive thread only.
    std::chrono::steady_clock::time_point cycleStart_{};
    std::uint64_t wakesSeen_ = 0;        // the driver's count of wakes at cycleStart_
    bool presenceCheckedBefore_ = true;  // the presence check's switch at the last look
    std::chrono::steady_clock::time_point lastLineCheck_{};
    std::chrono::steady_clock::time_point lastPresenceCheck_{};
    TCycleEnd previousEnd_ = TCycleEnd::Idle;
    // The frames of the chunks, for OnFrame, and the list of those one
    // chunk completed, kept from chunk to chunk so that its room is not
    // grown again for each. Receive thread only (the main thread uses the
    // list while it runs a synchronized OnFrame, for which this thread
    // waits).
    tarn::serialport::TFrameCutter frames_;
    // This thread's membership of the watch of the port list, kept only
    // where the watch covers the port; joined at most once, left at the end
    // of the body. Receive thread only.
    std::unique_ptr<TPortListMember> listWatch_;
    bool listWatchJoined_ = false;
    tarn::serialport::TFoundFrames chunkFrames_;
    // Where a received chunk is read: a few KiB at first, twice as large
    // after each chunk that filled it, up to a bound, so that an idle port
    // holds little and a flood is taken in large chunks.
    static constexpr std::size_t kFirstRoom = 4096;
    static constexpr std::size_t kLargestRoom = 64 * 1024;
    std::vector<char> room_;
    std::size_t roomWanted_ = kFirstRoom;
    // Whether the last chunk took half the first room or more: about what
    // one driver read gives in a flood, whatever the room has grown to.
    bool chunkWasLarge_ = false;

    std::mutex sleepMutex_;
    std::condition_variable sleepWake_;
};
