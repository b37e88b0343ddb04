// The line of a terminal: its settings as a device control block, the
// modem lines, and the escape functions.
#include "serial_device_linux.h"

#include <sys/ioctl.h>
#include <termios.h>

#include <cerrno>
#include <cmath>

#include "line_settings_linux.h"
#include "system_calls_linux.h"
#include "termios2_linux.h"

namespace tarn::driver {
namespace {

// A rate that the driver rounds by more than this is refused, as Windows
// drivers refuse a divisor that is too far off.
constexpr double kRateTolerance = 0.03;

}  // namespace

bool PosixSerialDevice::SetCommState(const DCB& dcb) {
    if (IsGone()) return false;
    if (!IsApplicableDcb(dcb)) return FailWith(ERROR_INVALID_PARAMETER);
    std::lock_guard<std::mutex> lock(stateMutex_);

    LineTermios before;
    if (ReadLineTermios(fd_, before) != 0) return FailWithErrno(errno);
    const LineTermios wanted = TermiosForDcb(dcb, before);
    if (WriteLineTermios(fd_, wanted) != 0) return FailWithErrno(errno);

    LineTermios applied;
    if (ReadLineTermios(fd_, applied) != 0) return FailWithErrno(errno);
    const double deviation = std::abs(static_cast<double>(applied.rate) - dcb.BaudRate) /
                             static_cast<double>(dcb.BaudRate);
    if (applied.rate == 0 || deviation > kRateTolerance) {
        // Put the old settings back: a refused block changes nothing.
        WriteLineTermios(fd_, before);
        return FailWith(ERROR_INVALID_PARAMETER);
    }

    // Pseudo-terminals have no modem lines; their ENOTTY/EINVAL is no reason
    // to refuse a block that the line itself took.
    const ModemLineRequest lines = ModemLinesForDcb(dcb);
    auto drive = [this](bool on, int line) {
        const int result = Ioctl(on ? TIOCMBIS : TIOCMBIC, &line);
        return result == 0 || errno == ENOTTY || errno == EINVAL;
    };
    if (lines.driveDtr && !drive(lines.dtrOn, TIOCM_DTR)) return FailWithErrno(errno);
    if (lines.driveRts && !drive(lines.rtsOn, TIOCM_RTS)) return FailWithErrno(errno);

    dcb_ = dcb;
    ConfigureFilter(dcb_);
    return true;
}

bool PosixSerialDevice::EscapeCommFunction(std::uint32_t function) {
    if (IsGone()) return false;
    std::uint32_t dtrControl;
    std::uint32_t rtsControl;
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        dtrControl = DtrControl(dcb_);
        rtsControl = RtsControl(dcb_);
    }
    int result = 0;
    int line = 0;
    switch (function) {
        case SETXOFF:
            // Transmission stops as if XOFF had been received.
            result = Retrying([&] { return SystemCalls().tcflow(fd_, TCOOFF); });
            break;
        case SETXON:
            result = Retrying([&] { return SystemCalls().tcflow(fd_, TCOON); });
            break;
        case SETRTS:
        case CLRRTS:
            // As in Windows, a line under handshake control is not the
            // caller's to drive.
            if (rtsControl == RTS_CONTROL_HANDSHAKE || rtsControl == RTS_CONTROL_TOGGLE) {
                return FailWith(ERROR_INVALID_PARAMETER);
            }
            line = TIOCM_RTS;
            result = Ioctl(function == SETRTS ? TIOCMBIS : TIOCMBIC, &line);
            break;
        case SETDTR:
        case CLRDTR:
            if (dtrControl == DTR_CONTROL_HANDSHAKE) return FailWith(ERROR_INVALID_PARAMETER);
            line = TIOCM_DTR;
            result = Ioctl(function == SETDTR ? TIOCMBIS : TIOCMBIC, &line);
            break;
        case SETBREAK:
            result = Ioctl(TIOCSBRK);
            break;
        case CLRBREAK:
            result = Ioctl(TIOCCBRK);
            break;
        default:
            return FailWith(ERROR_INVALID_PARAMETER);
    }
    if (result == 0) return true;
    // A pseudo-terminal has no modem lines. Windows drivers always have
    // them, so there is no Windows answer to copy; saying "not supported" is
    // the honest one.
    if (errno == ENOTTY || errno == EINVAL) return FailWith(ERROR_NOT_SUPPORTED);
    return FailWithErrno(errno);
}

bool PosixSerialDevice::GetCommModemStatus(std::uint32_t* status) {
    if (status != nullptr) *status = 0;
    if (IsGone()) return false;
    // A pseudo-terminal has no modem lines, and the kernel refuses to read
    // them every time; the answer is the same without asking.
    if (pseudoTerminal_) return FailWith(ERROR_NOT_SUPPORTED);
    int lines = 0;
    if (Ioctl(TIOCMGET, &lines) != 0) {
        if (errno == ENOTTY || errno == EINVAL) return FailWith(ERROR_NOT_SUPPORTED);
        return FailWithErrno(errno);
    }
    std::uint32_t word = 0;
    if ((lines & TIOCM_CTS) != 0) word |= MS_CTS_ON;
    if ((lines & TIOCM_DSR) != 0) word |= MS_DSR_ON;
    if ((lines & TIOCM_RI) != 0) word |= MS_RING_ON;
    if ((lines & TIOCM_CD) != 0) word |= MS_RLSD_ON;
    if (status != nullptr) *status = word;
    return true;
}

}  // namespace tarn::driver
