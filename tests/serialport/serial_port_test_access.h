// Reaches the private parts of the component that the tests check, through
// its private class: the apply operations, the raw fields, the buffers and
// counts of the reads, and the log.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "Tarnserialport.h"
#include "Tarnserialport_p.h"

class TTarnSerialPortTestAccess {
public:
    static tarn::driver::DCB BuildDCB(const TTarnSerialPort& c) { return c.d->BuildDCB(); }
    static bool SetDCBState(TTarnSerialPort& c, tarn::driver::HANDLE h) {
        return c.d->SetDCBState(h);
    }
    static bool SetTimeOuts(TTarnSerialPort& c, tarn::driver::HANDLE h) {
        return c.d->SetTimeOuts(h);
    }
    static bool SetBuffers(TTarnSerialPort& c, tarn::driver::HANDLE h) {
        return c.d->SetBuffers(h);
    }

    static std::string RawPort(const TTarnSerialPort& c) { return c.d->RawPort(); }
    static std::string RawCustomPortName(const TTarnSerialPort& c) {
        std::lock_guard<std::mutex> lock(c.d->FLock);
        return c.d->FCustomPortName;
    }
    static std::int32_t RawBaudRate(const TTarnSerialPort& c) { return c.d->FBaudRate; }
    static std::uint8_t RawDataWidth(const TTarnSerialPort& c) { return c.d->FDataWidth; }
    static std::uint8_t RawStopBits(const TTarnSerialPort& c) { return c.d->FStopBits; }
    static std::uint8_t RawParity(const TTarnSerialPort& c) { return c.d->FParity; }
    static void SetRawDataWidth(TTarnSerialPort& c, std::uint8_t v) { c.d->FDataWidth = v; }

    static std::string RawReadBuffer(const TTarnSerialPort& c) { return c.d->LastReadBuffer(); }
    static std::string RawEntireBuffer(const TTarnSerialPort& c) {
        std::lock_guard<std::mutex> lock(c.d->FLock);
        return c.d->FEntireBuffer;
    }
    static void AddReadBytes(TTarnSerialPort& c, std::uint32_t n) { c.d->FReadBytes += n; }
    static std::int64_t FrameGapMicros(const TTarnSerialPort& c) {
        return c.d->FramingNow().gap.count();
    }
    static bool HasThread(const TTarnSerialPort& c) { return c.d->CurrentThread() != nullptr; }
    static void WriteLog(TTarnSerialPort& c, const std::string& d) { c.d->WriteLog(d); }
};
