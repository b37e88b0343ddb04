// What a backend implements for one open port. The dispatch in
// serial_driver.cpp maps handles to these objects and keeps each one alive
// for as long as a call is using it, so a backend never sees a call on a
// device that has been released. Calls on one device may come from several
// threads at once; a backend guards its own state.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "serial_driver.h"

namespace tarn::driver {

class SerialDevice {
public:
    virtual ~SerialDevice() = default;

    // Each returns false and sets the last error (SetLastError) on failure.
    virtual bool SetupComm(std::uint32_t inQueue, std::uint32_t outQueue) = 0;
    virtual bool SetCommState(const DCB& dcb) = 0;
    virtual bool GetCommState(DCB& dcb) = 0;
    virtual bool SetCommTimeouts(const COMMTIMEOUTS& timeouts) = 0;
    virtual bool GetCommTimeouts(COMMTIMEOUTS& timeouts) = 0;
    virtual bool ClearCommError(std::uint32_t* errors, COMSTAT* stat) = 0;
    virtual bool ReadFile(void* buffer, std::uint32_t count, std::uint32_t* read) = 0;
    virtual bool WriteFile(const void* buffer, std::uint32_t count, std::uint32_t* written) = 0;
    virtual bool PurgeComm(std::uint32_t flags) = 0;
    virtual bool EscapeCommFunction(std::uint32_t function) = 0;
    virtual bool GetCommModemStatus(std::uint32_t* status) = 0;
    // Ends at once, too, on a wake asked for since CommWakesAsked gave
    // `wakesSeen`.
    virtual bool WaitCommInput(std::uint32_t milliseconds, std::uint64_t wakesSeen) = 0;
    virtual bool PeekInput(void* buffer, std::uint32_t count, std::uint32_t* peeked) = 0;
    // A peek, a look for the end and a read of what it found, which is
    // right for any device whose reads of what waits return at once; a
    // backend with a read-ahead of its own takes the bytes from it in one
    // go.
    virtual bool ReadInputUntil(void* buffer, std::uint32_t count, InputEnd& end,
                                std::uint32_t* read);
    virtual bool DrainCommOutput(std::uint32_t milliseconds) = 0;
    // The COMMWAIT_ bits of what ends WaitCommInput at once; fixed for the
    // life of the device.
    virtual std::uint32_t CommWaitWakes() const = 0;
    // Ends the running input waits and every later one at once; may be
    // called on any thread while another waits.
    virtual void CancelCommWaits() = 0;
    // Ends every input wait given a count of wakes from before the call
    // (comm_wakes.h); may be called on any thread while others wait.
    virtual void WakeCommWaits() = 0;
    virtual std::uint64_t CommWakesAsked() const = 0;

    // The handle has been closed. Calls that are still running on the
    // device finish, but the port counts as closed from now on, so that it
    // can be opened again at once. The object itself goes when the last
    // running call returns.
    virtual void Released() {}
};

// Opens a port of the operating system (serial_device_win32.cpp or
// serial_device_linux.cpp). `path` is the device path as given to
// CreateFileA. Returns null and sets the last error on failure.
std::shared_ptr<SerialDevice> OpenOsDevice(const std::string& path);

// Opens a virtual port when `path` names one that exists; null otherwise,
// without touching the last error (virtual_port.cpp).
std::shared_ptr<SerialDevice> OpenVirtualDevice(const std::string& path, bool& isVirtual);

// Opens a port on another machine when `path` names one by an address,
// "\\.\rfc2217://HOST:PORT" or "\\.\socket://HOST:PORT"; `isRemote` is
// then true, also when the opening fails (with the last error set, and
// ERROR_INVALID_NAME for any other name of the shape "SCHEME://..."). Null
// without touching the last error otherwise (remote/remote_device.cpp).
std::shared_ptr<SerialDevice> OpenRemoteDevice(const std::string& path, bool& isRemote);

// Replays a recording of a port session when `path` names one,
// "\\.\replay://FILE[?OPTIONS]"; `isReplay` is then true, also when the
// opening fails (ERROR_INVALID_NAME for bad options, a described error
// naming the line for a bad file). Null without touching the last error
// otherwise (recording/replay_device.cpp).
std::shared_ptr<SerialDevice> OpenReplayDevice(const std::string& path, bool& isReplay);

}  // namespace tarn::driver
