// The one place where the Windows device control block meets termios.
#pragma once

#include "serial_driver.h"
#include "termios2_linux.h"

namespace tarn::driver {

// True when termios can carry out `dcb`: a rate above 0, 5 to 8 data bits,
// a parity code 0 to 4, a stop-bit code 0 to 2, and distinct XON and XOFF
// characters (Windows refuses equal ones as well).
bool IsApplicableDcb(const DCB& dcb);

// The terminal settings for `dcb`, starting from `current` so that flags
// outside the block's reach stay as they are. The line is raw (no echo, no
// line editing, no translation, no signals), ignores the carrier (CLOCAL) and
// reads never wait inside the kernel (VMIN 0, VTIME 0): ReadFile does its
// own waiting.
LineTermios TermiosForDcb(const DCB& dcb, const LineTermios& current);

// The block that describes `settings`, as GetCommState reports a port whose
// block has not been set yet. Only what termios records is filled in; DTR
// and RTS read as enabled, which the kernel makes them on open.
DCB DcbForTermios(const LineTermios& settings);

// The modem-line changes that go with a block. A line that flow control
// drives is left alone.
struct ModemLineRequest {
    bool driveDtr = false;  // when false, DTR is not touched
    bool dtrOn = false;
    bool driveRts = false;
    bool rtsOn = false;
};
ModemLineRequest ModemLinesForDcb(const DCB& dcb);

}  // namespace tarn::driver
