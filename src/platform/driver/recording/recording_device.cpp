#include "recording_device.h"

#include <utility>

#include "record_file_claims.h"

namespace tarn::driver::recording {

namespace {

LineSettings LineSettingsOf(const DCB& dcb) {
    LineSettings s;
    s.baud = dcb.BaudRate;
    s.bits = dcb.ByteSize;
    s.parity = dcb.Parity <= SPACEPARITY ? static_cast<Parity>(dcb.Parity) : Parity::None;
    s.stop = dcb.StopBits <= TWOSTOPBITS ? static_cast<StopBits>(dcb.StopBits) : StopBits::One;
    s.cts = (dcb.Flags & DCB_fOutxCtsFlow) != 0;
    s.dsr = (dcb.Flags & DCB_fOutxDsrFlow) != 0;
    const std::uint32_t dtr = tarn::driver::DtrControl(dcb);
    s.dtr = dtr <= DTR_CONTROL_HANDSHAKE ? static_cast<recording::DtrControl>(dtr)
                                         : recording::DtrControl::On;
    s.rts = static_cast<recording::RtsControl>(tarn::driver::RtsControl(dcb));
    s.xonxoff = (dcb.Flags & (DCB_fOutX | DCB_fInX)) != 0;
    return s;
}

// The escape that `function` names; none for a code that no port knows.
std::optional<Escape> EscapeOf(std::uint32_t function) {
    switch (function) {
        case SETDTR:
            return Escape::SetDtr;
        case CLRDTR:
            return Escape::ClrDtr;
        case SETRTS:
            return Escape::SetRts;
        case CLRRTS:
            return Escape::ClrRts;
        case SETBREAK:
            return Escape::SetBreak;
        case CLRBREAK:
            return Escape::ClrBreak;
        case SETXON:
            return Escape::SetXon;
        case SETXOFF:
            return Escape::SetXoff;
        default:
            return std::nullopt;
    }
}

ModemLines ModemLinesOf(std::uint32_t status) {
    ModemLines m;
    m.cts = (status & MS_CTS_ON) != 0;
    m.dsr = (status & MS_DSR_ON) != 0;
    m.ring = (status & MS_RING_ON) != 0;
    m.rlsd = (status & MS_RLSD_ON) != 0;
    return m;
}

// For the calls that change nothing worth recording.
constexpr auto kNothing = [](bool) {};

}  // namespace

RecordingDevice::RecordingDevice(std::shared_ptr<SerialDevice> device)
    : device_(std::move(device)) {}

std::shared_ptr<RecordingDevice> RecordingDevice::Start(std::shared_ptr<SerialDevice> device,
                                                        const std::string& path,
                                                        const std::string& port,
                                                        bool settingsFirst) {
    auto recording = std::make_shared<RecordingDevice>(std::move(device));
    // No other thread knows the recording yet.
    const bool opened = ClaimRecordFile(path, port, recording, [&] {
        if (!recording->writer_.Open(path, port)) return false;
        recording->writing_.store(true);
        return true;
    });
    if (!opened) return nullptr;
    DCB dcb{};
    if (settingsFirst && recording->device_->GetCommState(dcb)) {
        std::lock_guard<std::mutex> lock(recording->mutex_);
        recording->WriteSettingsLocked(LineSettingsOf(dcb));
    }
    return recording;
}

void RecordingDevice::Stop() {
    std::lock_guard<std::mutex> lock(mutex_);
    writer_.Close();
    writing_.store(false);
}

template <typename Record>
bool RecordingDevice::After(bool ok, Record record) {
    const std::uint32_t error = GetLastError();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        // Nothing passes a device once it has gone; a terminal that
        // still answers after its name went is not the device.
        if (writer_.IsOpen() && !goneRecorded_) {
            record(ok);
            if (!ok && error == kDeviceGoneError) WriteGoneLocked(error);
        }
    }
    SetLastError(error);
    return ok;
}

void RecordingDevice::NoteGone(std::uint32_t error) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (writer_.IsOpen()) WriteGoneLocked(error);
}

void RecordingDevice::WriteGoneLocked(std::uint32_t error) {
    if (std::exchange(goneRecorded_, true)) return;
    Event gone;
    gone.kind = EventKind::Gone;
    gone.error = error;
    WriteLocked(std::move(gone));
}

void RecordingDevice::WriteLocked(Event event) {
    const auto since = std::chrono::steady_clock::now() - start_;
    event.t = static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(since).count());
    // A recording that cannot be written ends; the port goes on working.
    if (!writer_.Write(event)) writing_.store(false);
}

void RecordingDevice::WriteSettingsLocked(const LineSettings& lines) {
    lastLines_ = lines;
    Event event;
    event.kind = EventKind::Settings;
    event.settings = lines;
    WriteLocked(std::move(event));
}

void RecordingDevice::WriteBytesLocked(EventKind kind, const void* bytes,
                                       const std::uint32_t* count) {
    if (count == nullptr || *count == 0) return;
    Event event;
    event.kind = kind;
    event.data.assign(static_cast<const char*>(bytes), *count);
    WriteLocked(std::move(event));
}

bool RecordingDevice::SetupComm(std::uint32_t inQueue, std::uint32_t outQueue) {
    return After(device_->SetupComm(inQueue, outQueue), kNothing);
}

bool RecordingDevice::SetCommState(const DCB& dcb) {
    return After(device_->SetCommState(dcb), [&](bool ok) {
        const LineSettings lines = LineSettingsOf(dcb);
        // The component hands the whole block again for any change, most
        // of which (queue limits, special characters) the format does not
        // hold.
        if (ok && lastLines_ != lines) WriteSettingsLocked(lines);
    });
}

bool RecordingDevice::GetCommState(DCB& dcb) { return After(device_->GetCommState(dcb), kNothing); }

bool RecordingDevice::SetCommTimeouts(const COMMTIMEOUTS& timeouts) {
    return After(device_->SetCommTimeouts(timeouts), kNothing);
}

bool RecordingDevice::GetCommTimeouts(COMMTIMEOUTS& timeouts) {
    return After(device_->GetCommTimeouts(timeouts), kNothing);
}

bool RecordingDevice::ClearCommError(std::uint32_t* errors, COMSTAT* stat) {
    return After(device_->ClearCommError(errors, stat), kNothing);
}

bool RecordingDevice::ReadFile(void* buffer, std::uint32_t count, std::uint32_t* read) {
    // A failed read may still have taken bytes, which `read` then counts.
    return After(device_->ReadFile(buffer, count, read),
                 [&](bool) { WriteBytesLocked(EventKind::Received, buffer, read); });
}

bool RecordingDevice::WriteFile(const void* buffer, std::uint32_t count, std::uint32_t* written) {
    return After(device_->WriteFile(buffer, count, written),
                 [&](bool) { WriteBytesLocked(EventKind::Sent, buffer, written); });
}

bool RecordingDevice::PurgeComm(std::uint32_t flags) {
    return After(device_->PurgeComm(flags), [&](bool ok) {
        if (!ok) return;
        Event event;
        event.kind = EventKind::Purge;
        event.purgeRx = (flags & (PURGE_RXABORT | PURGE_RXCLEAR)) != 0;
        event.purgeTx = (flags & (PURGE_TXABORT | PURGE_TXCLEAR)) != 0;
        WriteLocked(std::move(event));
    });
}

bool RecordingDevice::EscapeCommFunction(std::uint32_t function) {
    return After(device_->EscapeCommFunction(function), [&](bool ok) {
        const std::optional<Escape> escape = EscapeOf(function);
        if (!ok || !escape) return;
        Event event;
        event.kind = EventKind::Escape;
        event.escape = *escape;
        WriteLocked(std::move(event));
    });
}

bool RecordingDevice::GetCommModemStatus(std::uint32_t* status) {
    return After(device_->GetCommModemStatus(status), [&](bool ok) {
        if (!ok || status == nullptr) return;
        const ModemLines lines = ModemLinesOf(*status);
        // The receive thread reads the lines at every cycle; only a change
        // says anything.
        if (lastModem_ == lines) return;
        lastModem_ = lines;
        Event event;
        event.kind = EventKind::Modem;
        event.modem = lines;
        WriteLocked(std::move(event));
    });
}

bool RecordingDevice::WaitCommInput(std::uint32_t milliseconds, std::uint64_t wakesSeen) {
    return After(device_->WaitCommInput(milliseconds, wakesSeen), kNothing);
}

bool RecordingDevice::PeekInput(void* buffer, std::uint32_t count, std::uint32_t* peeked) {
    return After(device_->PeekInput(buffer, count, peeked), kNothing);
}

bool RecordingDevice::ReadInputUntil(void* buffer, std::uint32_t count, InputEnd& end,
                                     std::uint32_t* read) {
    // The device's own, not the peek and read of the base class: a device
    // with a read-ahead takes the bytes from it.
    return After(device_->ReadInputUntil(buffer, count, end, read),
                 [&](bool) { WriteBytesLocked(EventKind::Received, buffer, read); });
}

bool RecordingDevice::DrainCommOutput(std::uint32_t milliseconds) {
    return After(device_->DrainCommOutput(milliseconds), kNothing);
}

std::uint32_t RecordingDevice::CommWaitWakes() const { return device_->CommWaitWakes(); }

void RecordingDevice::CancelCommWaits() { device_->CancelCommWaits(); }

void RecordingDevice::WakeCommWaits() { device_->WakeCommWaits(); }

std::uint64_t RecordingDevice::CommWakesAsked() const { return device_->CommWakesAsked(); }

void RecordingDevice::Released() {
    device_->Released();
    Stop();
}

}  // namespace tarn::driver::recording
