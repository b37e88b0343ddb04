// TComThread: the receive thread of an open port. It owns the port's handle
// (ComDevice): its construction opens the port, its poll loop reads and
// announces what arrives, and its teardown closes the port. The component
// reaches the handle only through it.
//
// Lifetime. The thread frees itself when its body has ended. Its last act
// that touches the component is to unregister itself there (under the
// component's lock), so the component never holds a pointer to an ended
// thread, and the component's destructor waits for that moment (or, when it
// cannot wait because it runs inside this thread's own event, detaches the
// thread, which then finishes without its owner).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

#include "host_thread.h"
#include "serial_driver.h"

class TTarnSerialPort;

class TComThread final : public tarn::host::TThread {
public:
    // Runs the opening steps on the calling thread; the body does not run
    // until Start. Opened() tells whether the port is open.
    explicit TComThread(TTarnSerialPort* AOwner);

    // Any thread.
    tarn::driver::HANDLE GetPortHandle() const { return ComDevice; }

    // The port's handle; the invalid handle value when none is open.
    std::atomic<tarn::driver::HANDLE> ComDevice{tarn::driver::INVALID_HANDLE_VALUE};

    // True when the opening steps succeeded.
    bool Opened() const { return opened_; }
    // The driver's error code of a failed opening step.
    std::uint32_t OpenError() const { return openError_; }

    // Raises OnConnect as the last opening step. An exception of the
    // handler leaves this call; the caller then tears the port down with
    // TearDown, as the thread never starts.
    void Connect();

    // The closing steps: OnDisconnect, purge and close the handle, reset
    // the component's ConnectedTo. Runs on the receive thread at the end of
    // its body, or on the opening thread when the thread never started.
    void TearDown();

    // Asks the loop to end and wakes it from its sleep. Any thread.
    void RequestStop();

    // True on the receive thread itself, or while the main thread runs one
    // of this thread's synchronized events: the places where waiting for
    // this thread would wait for ourselves. Any thread.
    bool WaitingWouldDeadlock() const;

    // The component goes away without waiting; from now on the thread does
    // not touch it. REQUIRES: the component's lock held, and the call made
    // from a place where WaitingWouldDeadlock() is true.
    void DetachOwner() { owner_ = nullptr; }

    // The six deliveries of events; each reads the component when it runs.
    void DoExecuteReceive();
    void DoExecuteReceiveNoBuffer();
    void DoExecuteLineStatus();
    void DoExecuteConnect();
    void DoExecuteDisconnect();
    void DoExecuteFault();

protected:
    void Execute() override;

private:
    // The component, or null once it has gone. Read and written under the
    // component's lock, except on this thread between events, where only
    // this thread can clear it (see DetachOwner).
    TTarnSerialPort* owner() const { return owner_; }

    // Raises an event through `deliver`, on the main thread when the
    // component asks for synchronization. False when the component went
    // away during the event: the caller then stops touching it.
    template <typename Deliver>
    bool Raise(Deliver deliver);

    // The component's presence check. False when the component went away.
    bool CheckPresence();
    // One poll cycle after the line status; false when the component went
    // away.
    bool PollOnce();
    void SleepDelay();

    std::atomic<TTarnSerialPort*> owner_;
    bool opened_ = false;
    std::uint32_t openError_ = 0;
    std::atomic<std::uint32_t> receiveThreadId_{0};
    // Set while the main thread runs one of this thread's events.
    std::atomic<bool> inSynchronizedEvent_{false};
    std::atomic<std::uint32_t> synchronizedEventThread_{0};

    std::mutex sleepMutex_;
    std::condition_variable sleepWake_;
};
