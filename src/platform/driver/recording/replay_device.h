// A replayed port: the device that the driver opens for "replay://PATH"
// (replay_options.h). It answers the driver calls from a recording
// (recording_reader.h) as the port once answered them, so that a program
// can be tested against what a real device did, without the device.
//
// Threads. Every call may come from any thread; all state is guarded by
// `mutex_`, and every wait is on `changed_`, which each change of what a
// wait looks at notifies. The replay has no thread of its own: each call
// first brings the timeline up to the present, and a wait that has nothing
// to wait for but the clock sleeps until the next event falls due.
//
// Writes in a conversation are compared with the recording; the first one
// that differs fails with a described error (host_system_error.h) that
// names the line of the file and both byte strings, and every later write
// fails with the same error: after a wrong request the recorded answers no
// longer mean anything.
//
// Line settings. A block that differs from the recorded "settings" in
// force is refused with a described error that shows both, as a driver
// refuses a setting it cannot make: the recorded answers were given at the
// recorded settings, and a program that asks for others would not get
// them from the real device either. Before the first recorded "settings"
// every well-formed block is taken.
//
// Purges take nothing: what the recording calls received is what the
// application read, so a purge in the session never removed any of it.
//
// A "gone" event, or the end of the recording with end=remove, makes the
// device gone as a pulled adapter is: every call fails with the recorded
// error (kDeviceGoneError when none), waits end, and the port leaves the
// port list, so that the component's presence check takes it for vanished.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "comm_wakes.h"
#include "recording_reader.h"
#include "replay_options.h"
#include "replay_timeline.h"
#include "serial_device.h"

namespace tarn::driver::recording {

class ReplayDevice final : public SerialDevice {
public:
    // `listedNumber` is the port's claim in the port list
    // (remote_port_list.h), which the device lists and takes off.
    ReplayDevice(Recording recording, const ReplayOptions& options, unsigned listedNumber);
    ~ReplayDevice() override;
    ReplayDevice(const ReplayDevice&) = delete;
    ReplayDevice& operator=(const ReplayDevice&) = delete;

    bool SetupComm(std::uint32_t inQueue, std::uint32_t outQueue) override;
    bool SetCommState(const DCB& dcb) override;
    bool GetCommState(DCB& dcb) override;
    bool SetCommTimeouts(const COMMTIMEOUTS& timeouts) override;
    bool GetCommTimeouts(COMMTIMEOUTS& timeouts) override;
    bool ClearCommError(std::uint32_t* errors, COMSTAT* stat) override;
    bool ReadFile(void* buffer, std::uint32_t count, std::uint32_t* read) override;
    bool WriteFile(const void* buffer, std::uint32_t count, std::uint32_t* written) override;
    bool PurgeComm(std::uint32_t flags) override;
    bool EscapeCommFunction(std::uint32_t function) override;
    bool GetCommModemStatus(std::uint32_t* status) override;
    bool WaitCommInput(std::uint32_t milliseconds, std::uint64_t wakesSeen) override;
    bool PeekInput(void* buffer, std::uint32_t count, std::uint32_t* peeked) override;
    bool DrainCommOutput(std::uint32_t milliseconds) override;
    std::uint32_t CommWaitWakes() const override;
    void CancelCommWaits() override;
    void WakeCommWaits() override;
    std::uint64_t CommWakesAsked() const override;
    void Released() override;

private:
    using Clock = ReplayTimeline::Clock;
    using Lock = std::unique_lock<std::mutex>;

    // Brings the timeline up to now; takes the port off the list when the
    // device has gone. True while the device can be used. REQUIRES: mutex_.
    bool Sync();
    // Fails with the error of a released or gone device. REQUIRES: mutex_.
    bool FailUnusable() const;
    // Waits until `done` holds, the device is unusable or `deadline` (none:
    // no limit) passes, waking for each event that falls due meanwhile.
    // REQUIRES: `lock` holds mutex_.
    template <typename Done>
    void WaitFor(Lock& lock, std::optional<Clock::time_point> deadline, Done done);
    void Unlist();

    const std::string path_;
    const unsigned listedNumber_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    ReplayTimeline timeline_;         // guarded by mutex_
    DCB dcb_{};                       // guarded by mutex_
    COMMTIMEOUTS timeouts_{};         // guarded by mutex_
    std::uint32_t writeRefusal_ = 0;  // the error of the first wrong write; guarded by mutex_
    bool released_ = false;           // guarded by mutex_
    bool listed_ = true;              // guarded by mutex_
    bool waitsCancelled_ = false;     // guarded by mutex_
    CommWakes wakes_;
};

}  // namespace tarn::driver::recording
