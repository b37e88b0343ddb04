// A device that records its session: it stands in the handle table in
// place of a port's own device (StartRecording in serial_driver.h), hands
// every call to that device, and writes to a recording (recording_writer.h)
// what the call did to the line: the bytes that the application took and
// that the device took from it, the line settings and modem lines when
// they change, the escapes, the purges, and the device going away. Peeks
// and queue queries change nothing on the line and are not recorded.
//
// Calls come from several threads at once. One lock guards the writer and
// what was last recorded; it is taken only after the device's call has
// returned, so a call that waits in the device never holds up another.
// Taking the time under that lock keeps the times in the file in order.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "recording_writer.h"
#include "serial_device.h"

namespace tarn::driver::recording {

class RecordingDevice final : public SerialDevice {
public:
    // Records the session of `device`, the port opened as `port`, into
    // `path`, which is created or emptied. Null with the last error set
    // when the file cannot be created (RecordingWriter::Open), or when
    // another port's session writes it (record_file_claims.h). With
    // `settingsFirst` the first event is the settings that `device` has:
    // a replay of a session recorded from its middle checks them too.
    static std::shared_ptr<RecordingDevice> Start(std::shared_ptr<SerialDevice> device,
                                                  const std::string& path, const std::string& port,
                                                  bool settingsFirst);

    // The device whose calls this one records.
    const std::shared_ptr<SerialDevice>& Recorded() const { return device_; }
    // Ends the recording: the file is closed and calls still running on
    // this object are handed on without being recorded. Any thread.
    void Stop();
    // True until the recording ends: by Stop, by the handle's release, or
    // by a write of the file that failed (a full disk). Any thread.
    bool IsWriting() const { return writing_.load(); }
    // The device went away in a way that no call on it showed (its name
    // left the port list): noted as a removal, once, as a call failing with
    // `error` would be.
    void NoteGone(std::uint32_t error);

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
    bool ReadInputUntil(void* buffer, std::uint32_t count, InputEnd& end,
                        std::uint32_t* read) override;
    bool DrainCommOutput(std::uint32_t milliseconds) override;
    std::uint32_t CommWaitWakes() const override;
    void CancelCommWaits() override;
    void WakeCommWaits() override;
    std::uint64_t CommWakesAsked() const override;
    // The handle is closed: the device is told, and the recording ends.
    void Released() override;

    explicit RecordingDevice(std::shared_ptr<SerialDevice> device);

private:
    // Returns `ok`, the result of a call that has just returned, after
    // `record(ok)` has written what the call did, with mutex_ held. A call
    // that failed with the error of a vanished device records "gone", once.
    // The call's last error is left as the call set it, whatever writing
    // the file did to it.
    template <typename Record>
    bool After(bool ok, Record record);
    // Writes `event` stamped with the time now. REQUIRES: mutex_ held.
    void WriteLocked(Event event);
    // The settings, noted as the last ones. REQUIRES: mutex_ held.
    void WriteSettingsLocked(const LineSettings& lines);
    // REQUIRES: mutex_ held, the writer open.
    void WriteGoneLocked(std::uint32_t error);
    // The bytes a read or a write moved, when there were any. REQUIRES:
    // mutex_ held.
    void WriteBytesLocked(EventKind kind, const void* bytes, const std::uint32_t* count);

    const std::shared_ptr<SerialDevice> device_;
    const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::mutex mutex_;
    RecordingWriter writer_;                 // guarded by mutex_
    std::optional<LineSettings> lastLines_;  // guarded by mutex_
    std::optional<ModemLines> lastModem_;    // guarded by mutex_
    bool goneRecorded_ = false;              // guarded by mutex_
    // Whether writer_ is open, readable without mutex_; changed with it
    // held.
    std::atomic<bool> writing_{false};
};

}  // namespace tarn::driver::recording
