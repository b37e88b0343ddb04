// Sending: every public send is one call of the private Send, one
// synchronous write on the calling thread with OnSend and, after a write
// that took nothing, the presence check run directly on that thread; and
// the drain that waits until the bytes sent have left.
#include <algorithm>
#include <chrono>
#include <limits>

#include "Tarnserialport.h"
#include "Tarnserialport_p.h"
#include "host_format.h"
#include "host_system_error.h"

namespace drv = tarn::driver;
using tarn::host::AnsiToUnicode;

namespace {

// A single write call counts its bytes in 32 bits.
std::uint32_t WriteCount(std::size_t size) {
    return static_cast<std::uint32_t>(
        std::min<std::size_t>(size, std::numeric_limits<std::uint32_t>::max()));
}

// A drain waits in the driver for at most this long in one go, so that it
// notices a Close that another thread has asked for. That Close waits for
// the receive thread, whose last event may need the draining thread.
constexpr std::uint32_t kLongestDrainStepMs = 100;

}  // namespace

void TTarnSerialPortPrivate::RaiseNotConnected() const {
    throw ETarnSerialPortException(tarn::host::Format(
        u"%s is not open. Serial port is not connected.", {AnsiToUnicode(RawPort())}));
}

void TTarnSerialPortPrivate::CheckPresenceAfterSend(const TOpenConnection& connection) {
    if (connection.serial == 0 || !PortHasVanished(connection.name)) return;
    // The receive thread found it first; it raises the fault and closes.
    if (!ClaimFault()) return;
    drv::NoteDeviceGone(connection.handle);
    // A component that is being destroyed calls no handler: its owner may
    // be half gone already. It still closes.
    try {
        DeliverConnectionEvent(TConnectionEvent::Fault, CommPortOfName(connection.name));
    } catch (...) {
        ReleaseFault();
        throw;
    }
    // The connection written to, not one that the handler may have opened.
    CloseConnection(connection.serial);
}

std::uint32_t TTarnSerialPortPrivate::Send(const char* data, std::uint32_t count, TSendForm form) {
    // The handle is read under the component's lock; the driver keeps the
    // device alive for the duration of a call on it, so a receive thread
    // that ends meanwhile only makes the write fail.
    const TOpenConnection connection = OpenConnection();
    if (connection.handle == drv::INVALID_HANDLE_VALUE ||
        (form == TSendForm::Block && count == 0)) {
        RaiseNotConnected();
    }

    FIsSending = true;
    std::uint32_t refusal = 0;
    bool refusedInWords = false;
    std::string why;
    try {
        std::uint32_t written = 0;
        if (!drv::WriteFile(connection.handle, data, count, &written)) {
            refusal = drv::GetLastError();
        }
        FIsSending = false;

        // OnSend carries the bytes the driver took, however many.
        const bool heard = written > 0 && DeliverSend(data, written);
        if (written == 0 || (form == TSendForm::String && !heard)) {
            CheckPresenceAfterSend(connection);
        }
        // A device that says in words why it refused the write (a replayed
        // port sent other bytes than it recorded) is heard, even when it
        // took the bytes before the difference: a count alone would read
        // as a busy line, and the next send would be blamed.
        refusedInWords = (refusal & tarn::host::kDescribedErrorBit) != 0 &&
                         tarn::host::DescribedErrorText(refusal, why);
        if (!refusedInWords) return written;
    } catch (...) {
        FIsSending = false;
    }
    if (refusedInWords) throw ETarnSerialPortException(AnsiToUnicode(why), refusal);
    // Whatever failed (the write, a handler, the closing), the caller learns
    // only that the port cannot be used; a second failure of the check is
    // swallowed as well.
    try {
        CheckPresenceAfterSend(connection);
    } catch (...) {
    }
    RaiseNotConnected();
}

std::uint32_t TTarnSerialPort::SendString(const AnsiString& str) {
    // The string is sent as a zero-terminated one.
    const std::uint32_t count = WriteCount(std::min(str.find('\0'), str.size()));
    return d->Send(str.data(), count, TTarnSerialPortPrivate::TSendForm::String);
}

std::uint32_t TTarnSerialPort::SendData(const void* Data, std::uint32_t dataSize) {
    return d->Send(static_cast<const char*>(Data), dataSize,
                   TTarnSerialPortPrivate::TSendForm::Block);
}

std::uint32_t TTarnSerialPort::SendStringLine(const AnsiString& str) {
    return SendString(str + GetNewLine());
}

std::uint32_t TTarnSerialPort::SendChars(const AnsiString& str) {
    // An empty string is no send at all, even on a port that is not open.
    if (str.empty()) return 0;
    return SendData(str.data(), WriteCount(str.size()));
}

std::uint32_t TTarnSerialPort::SendCharsLine(const AnsiString& str) {
    return SendChars(str + GetNewLine());
}

std::uint32_t TTarnSerialPort::SendWord(std::uint16_t number) {
    // Low-order byte first, whatever the byte order of the machine.
    const std::uint8_t block[2] = {static_cast<std::uint8_t>(number & 0xFF),
                                   static_cast<std::uint8_t>(number >> 8)};
    return SendData(block, sizeof block);
}

std::uint32_t TTarnSerialPort::SendByte(std::uint8_t number) { return SendData(&number, 1); }

std::uint32_t TTarnSerialPort::SendChar(char character) { return SendData(&character, 1); }

bool TTarnSerialPort::Drain(std::uint32_t timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    // The connection open now; one that a handler opens meanwhile has had
    // nothing of this caller's sent to it.
    const HANDLE handle = d->PortHandle();
    if (handle == drv::INVALID_HANDLE_VALUE) return false;
    while (true) {
        if (d->CloseRequested() || d->PortHandle() != handle) return false;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        const std::uint32_t stepMs = static_cast<std::uint32_t>(
            std::clamp<std::int64_t>(left.count(), 0, kLongestDrainStepMs));
        if (drv::DrainCommOutput(handle, stepMs)) return true;
        if (drv::GetLastError() == drv::ERROR_SEM_TIMEOUT) {
            if (stepMs == 0) return false;
            continue;
        }
        // A closed handle, a failed or vanished device: nothing more to wait
        // for. A device that has gone is marked so at once, so that the
        // caller can tell it from a line that holds its bytes; the receive
        // thread raises the fault and closes, as it does for any removal.
        const TTarnSerialPortPrivate::TOpenConnection connection = d->OpenConnection();
        if (connection.handle == handle && d->PortHasVanished(connection.name)) d->NoteGone();
        return false;
    }
}
