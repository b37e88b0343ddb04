// Modem lines and port control: reading CTS, DSR, RING and DCD, driving DTR,
// RTS, break and the XON/XOFF state, and discarding the driver's queues.
#include "Tarnserialport.h"
#include "Tarnserialport_p.h"

namespace drv = tarn::driver;

TLineStatusSet LineStatusOf(TPortHandle handle) {
    if (handle == drv::INVALID_HANDLE_VALUE) return {};
    std::uint32_t status = 0;
    try {
        if (!drv::GetCommModemStatus(handle, &status)) return {};
    } catch (...) {
        return {};
    }
    TLineStatusSet set;
    if (status & drv::MS_CTS_ON) set.Include(lsCTS);
    if (status & drv::MS_DSR_ON) set.Include(lsDSR);
    if (status & drv::MS_RING_ON) set.Include(lsRING);
    if (status & drv::MS_RLSD_ON) set.Include(lsDCD);
    return set;
}

bool TTarnSerialPort::GetCTS() { return LineStatusOf(d->PortHandle()).Contains(lsCTS); }
bool TTarnSerialPort::GetDSR() { return LineStatusOf(d->PortHandle()).Contains(lsDSR); }
bool TTarnSerialPort::GetRING() { return LineStatusOf(d->PortHandle()).Contains(lsRING); }
bool TTarnSerialPort::GetDCD() { return LineStatusOf(d->PortHandle()).Contains(lsDCD); }

bool TTarnSerialPort::ModemLinesReadable() {
    const HANDLE handle = d->PortHandle();
    if (handle == drv::INVALID_HANDLE_VALUE) return false;
    std::uint32_t status = 0;
    try {
        return drv::GetCommModemStatus(handle, &status);
    } catch (...) {
        return false;
    }
}

bool TTarnSerialPortPrivate::Escape(std::uint32_t function) {
    const HANDLE handle = PortHandle();
    if (handle == drv::INVALID_HANDLE_VALUE) return false;
    try {
        return drv::EscapeCommFunction(handle, function);
    } catch (...) {
        return false;
    }
}

bool TTarnSerialPortPrivate::Purge(std::uint32_t flags) {
    const HANDLE handle = PortHandle();
    if (handle == drv::INVALID_HANDLE_VALUE) return false;
    try {
        // A read that has looked at the waiting bytes takes them before
        // they are dropped.
        std::unique_lock<std::mutex> input(FInputLock, std::defer_lock);
        if ((flags & drv::PURGE_RXCLEAR) != 0) input.lock();
        return drv::PurgeComm(handle, flags);
    } catch (...) {
        return false;
    }
}

bool TTarnSerialPort::SetBreak(bool OnOff) {
    return d->Escape(OnOff ? drv::SETBREAK : drv::CLRBREAK);
}
bool TTarnSerialPort::SetDTR(bool OnOff) { return d->Escape(OnOff ? drv::SETDTR : drv::CLRDTR); }
bool TTarnSerialPort::SetRTS(bool OnOff) { return d->Escape(OnOff ? drv::SETRTS : drv::CLRRTS); }
bool TTarnSerialPort::SetXonXoff(bool OnOff) {
    return d->Escape(OnOff ? drv::SETXON : drv::SETXOFF);
}
bool TTarnSerialPort::ClearInputBuffer() { return d->Purge(drv::PURGE_RXCLEAR); }
bool TTarnSerialPort::ClearOutputBuffer() { return d->Purge(drv::PURGE_TXCLEAR); }
