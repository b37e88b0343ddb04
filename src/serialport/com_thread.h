// TComThread: the receive thread object of an open port. It holds the
// port's handle (ComDevice); the component reaches the handle only through
// it, so no thread object, or an invalid handle, means no port is open.
#pragma once

#include <atomic>

#include "serial_driver.h"

class TTarnSerialPort;

class TComThread {
public:
    explicit TComThread(TTarnSerialPort* AOwner) : Owner(AOwner) {}
    TComThread(const TComThread&) = delete;
    TComThread& operator=(const TComThread&) = delete;

    // Any thread.
    tarn::driver::HANDLE GetPortHandle() const { return ComDevice; }

    // The port's handle; the invalid handle value when none is open.
    std::atomic<tarn::driver::HANDLE> ComDevice{tarn::driver::INVALID_HANDLE_VALUE};

private:
    TTarnSerialPort* const Owner;  // not owned
};
