// Background sends: each runs one send on a short-lived thread of its own.
// The component counts the sends it started, and its destructor waits for
// them, so a sender thread never reaches a component that has gone.
#include "Tarnserialport.h"

void TTarnSerialPort::WaitForSenders() {
    std::unique_lock<std::mutex> lock(FSendersLock);
    FSendersDone.wait(lock, [this] { return FActiveSenders == 0; });
}
