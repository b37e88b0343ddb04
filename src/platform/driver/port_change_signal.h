// A waitable "the port list may have changed" signal. Wait returns when the
// system says that serial devices came or went, when this process changed
// the list itself (a virtual port created, removed, plugged or unlisted; on
// Linux a terminal opened or closed through the driver), when the time has
// passed, or when Cancel is called. It says only that a look is worth
// taking: the caller reads the port list again and compares.
//
// What the system tells, per backend (port_change_signal_<backend>.cpp):
//   Linux: inotify on /dev and /dev/pts. Device nodes of adapters, UARTs
//          and pseudo-terminals appear and vanish there, and a
//          pseudo-terminal's node goes when its master end closes, which is
//          what takes an open one off the list. Kernel uevents were not
//          chosen: pseudo-terminals send none, and in a container the
//          uevent socket hears nothing.
//   Windows: RegNotifyChangeKeyValue on the port list key
//          HKLM\HARDWARE\DEVICEMAP\SERIALCOMM, or on DEVICEMAP with its
//          subkeys while that key does not exist.
// Where the system watch cannot be set up, SystemWatched() is false and
// only this process's own changes wake Wait; the caller then looks again
// on a period of its own.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

namespace tarn::driver {

// Wakes every PortChangeSignal of the process. Called by the driver where it
// changes the port list itself. Any thread; takes the signals' list lock.
void NotifyPortListChanged();

class PortChangeSignal {
public:
    enum class Result { Changed, TimedOut, Cancelled };

    // Sets up the system watch and subscribes to this process's changes.
    // Changes made before construction are not reported. Construct it on
    // the thread that will wait: on Windows a registry notification ends
    // with the thread that asked for it.
    PortChangeSignal();
    // REQUIRES: no Wait running.
    ~PortChangeSignal();
    PortChangeSignal(const PortChangeSignal&) = delete;
    PortChangeSignal& operator=(const PortChangeSignal&) = delete;

    // True when the system's own changes wake Wait. Any thread.
    bool SystemWatched() const;

    // True when Wait wakes on every change of the port list's entry for the
    // port opened under `name` (the name without the device prefix): its
    // coming, its going and a change of what it stands for. Always so for
    // virtual and remote ports, whose lists the driver changes itself; for
    // a port of the system, when the system watch works and sees where that
    // entry lives. Any thread; may look at the file system.
    bool Covers(const std::string& name) const;

    // Waits at most `timeoutMs` for a change after the previous Wait
    // returned (or after construction). Several changes before one Wait are
    // reported once. Cancelled from the Cancel on, at every later call.
    // One thread at a time.
    Result Wait(std::uint32_t timeoutMs);

    // Makes a running Wait, and every later one, return Cancelled. Any
    // thread.
    void Cancel();

    // For NotifyPortListChanged: marks a change and wakes Wait. Any thread.
    void Wake();

    // The backend's part (port_change_signal_linux.cpp,
    // port_change_signal_win32.cpp).
    class SystemWatch {
    public:
        virtual ~SystemWatch() = default;
        // True when the system's own changes end Wait.
        virtual bool Watching() const = 0;
        // True when a change of the entry of the system's port opened as
        // `name` ends Wait. Asked only while Watching(). Any thread.
        virtual bool Covers(const std::string& name) const = 0;
        // Waits until the system reports a change (true), Interrupt is
        // called (false; an Interrupt before the wait counts) or
        // `timeoutMs` passes (false). One thread at a time.
        virtual bool Wait(std::uint32_t timeoutMs) = 0;
        // Any thread.
        virtual void Interrupt() = 0;
    };

private:
    const std::unique_ptr<SystemWatch> system_;
    std::atomic<bool> changed_{false};
    std::atomic<bool> cancelled_{false};
};

// Implemented by each backend. Never null; a watch that could not be set up
// only waits and is interrupted.
namespace detail {
std::unique_ptr<PortChangeSignal::SystemWatch> OpenSystemWatch();
}  // namespace detail

}  // namespace tarn::driver
