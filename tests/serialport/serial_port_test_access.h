// Reaches the private parts of the component that the tests check: the
// apply operations, the raw fields, and the attachment of a port handle
// without going through Open.
#pragma once

#include <memory>
#include <string>

#include "Tarnserialport.h"
#include "com_thread.h"

class TTarnSerialPortTestAccess {
public:
    static tarn::driver::DCB BuildDCB(const TTarnSerialPort& c) { return c.BuildDCB(); }
    static bool SetDCBState(TTarnSerialPort& c, tarn::driver::HANDLE h) { return c.SetDCBState(h); }
    static bool SetTimeOuts(TTarnSerialPort& c, tarn::driver::HANDLE h) { return c.SetTimeOuts(h); }
    static bool SetBuffers(TTarnSerialPort& c, tarn::driver::HANDLE h) { return c.SetBuffers(h); }

    static std::string RawPort(const TTarnSerialPort& c) {
        std::lock_guard<std::mutex> lock(c.FLock);
        return c.FPort;
    }
    static std::string RawCustomPortName(const TTarnSerialPort& c) {
        std::lock_guard<std::mutex> lock(c.FLock);
        return c.FCustomPortName;
    }
    static std::int32_t RawBaudRate(const TTarnSerialPort& c) { return c.FBaudRate; }
    static std::uint8_t RawDataWidth(const TTarnSerialPort& c) { return c.FDataWidth; }
    static std::uint8_t RawStopBits(const TTarnSerialPort& c) { return c.FStopBits; }
    static std::uint8_t RawParity(const TTarnSerialPort& c) { return c.FParity; }
    static void SetRawDataWidth(TTarnSerialPort& c, std::uint8_t v) { c.FDataWidth = v; }

    static std::string RawReadBuffer(const TTarnSerialPort& c) { return c.GetReadBufferCopy(); }
    static std::string RawEntireBuffer(const TTarnSerialPort& c) {
        std::lock_guard<std::mutex> lock(c.FLock);
        return c.FEntireBuffer;
    }
    static void AddReadBytes(TTarnSerialPort& c, std::uint32_t n) { c.FReadBytes += n; }
    static bool HasThread(const TTarnSerialPort& c) { return c.CurrentThread() != nullptr; }
    static void WriteLog(TTarnSerialPort& c, const std::string& d) { c.WriteLog(d); }
};
