// What the synchronous reads share: the port they read, the IsReceiving
// mark around a driver read, the finer timer while they sleep, and the wait
// for input that gives way to a Close.
#pragma once

#include <cstdint>

#include "Tarnserialport_p.h"
#include "timer_resolution.h"

namespace tarn::serialport {

// The open port for the application's reads; none while the receive
// thread takes the bytes (AutoReceive).
tarn::driver::HANDLE ApplicationPort(const TTarnSerialPortPrivate& d);

// IsReceiving while a read takes bytes, as the receive thread shows its own.
class Receiving {
public:
    explicit Receiving(TTarnSerialPortPrivate& d) : d_(d) { d_.SetReceiving(true); }
    ~Receiving() { d_.SetReceiving(false); }
    Receiving(const Receiving&) = delete;
    Receiving& operator=(const Receiving&) = delete;

private:
    TTarnSerialPortPrivate& d_;
};

// Holds the finer system timer while a read sleeps between polls: with the
// default tick of Windows (15.6 ms) a pause of one millisecond would last a
// whole tick. Begun at the first pause of a read and ended with the read, so
// that a line that arrives byte by byte does not bind the timer per byte.
// A driver whose wait sleeps until the byte comes needs no finer timer, and
// is spared its cost (where the timer library is missing, every attempt to
// bind it searches the library path again).
class FinerTimerWhileWaiting {
public:
    FinerTimerWhileWaiting() = default;
    FinerTimerWhileWaiting(const FinerTimerWhileWaiting&) = delete;
    FinerTimerWhileWaiting& operator=(const FinerTimerWhileWaiting&) = delete;
    ~FinerTimerWhileWaiting() {
        if (begun_) tarn::timer::TimeEndPeriod(1);
    }
    void BeginFor(tarn::driver::HANDLE handle) {
        if (begun_ || handle == tarn::driver::INVALID_HANDLE_VALUE) return;
        if ((tarn::driver::GetCommWaitWakes(handle) & tarn::driver::COMMWAIT_INPUT) != 0) return;
        tarn::timer::TimeBeginPeriod(1);
        begun_ = true;
    }

private:
    bool begun_ = false;
};

// Sleeps until bytes may wait on a usable port or `limitMs` milliseconds
// have passed; true then, and the caller looks at the queue itself (a wait
// in the driver may also end early). With a negative `limitMs` there is no
// limit. The wait ends with false as soon as a Close of the port has been
// asked for, once AutoReceive is on, once its device has gone, and once the
// connection `readOn` that the read began on has ended, so that nothing
// waits on for a port that is no more. A read begun on a closed port (`readOn` invalid) waits
// out its limit, for a port that may open meanwhile; without a limit it
// ends at once.
bool WaitForInput(const TTarnSerialPortPrivate& d, std::int64_t limitMs,
                  tarn::driver::HANDLE readOn);

}  // namespace tarn::serialport
