#include "line_settings_linux.h"

#include <termios.h>

namespace tarn::driver {

static_assert(VMIN < kKernelControlChars && VTIME < kKernelControlChars &&
                  VSTART < kKernelControlChars && VSTOP < kKernelControlChars,
              "the control characters used here exist in the kernel's termios");

namespace {

// Hardware flow control covers both directions in Linux: output waits for
// CTS, and the driver drops RTS when its input queue fills.
bool WantsRtsCts(const DCB& dcb) {
    return (dcb.Flags & DCB_fOutxCtsFlow) != 0 || RtsControl(dcb) == RTS_CONTROL_HANDSHAKE;
}

tcflag_t DataBitsFlag(std::uint8_t byteSize) {
    switch (byteSize) {
        case 5:
            return CS5;
        case 6:
            return CS6;
        case 7:
            return CS7;
        default:
            return CS8;
    }
}

}  // namespace

bool IsApplicableDcb(const DCB& dcb) {
    return dcb.BaudRate != 0 && dcb.ByteSize >= 5 && dcb.ByteSize <= 8 &&
           dcb.Parity <= SPACEPARITY && dcb.StopBits <= TWOSTOPBITS && dcb.XonChar != dcb.XoffChar;
}

LineTermios TermiosForDcb(const DCB& dcb, const LineTermios& current) {
    LineTermios t = current;

    t.iflag &=
        ~static_cast<std::uint32_t>(IGNBRK | BRKINT | IGNPAR | PARMRK | INPCK | ISTRIP | INLCR |
                                    IGNCR | ICRNL | IUCLC | IXON | IXANY | IXOFF | IMAXBEL | IUTF8);
    t.oflag &= ~static_cast<std::uint32_t>(OPOST);
    t.lflag &= ~static_cast<std::uint32_t>(ISIG | ICANON | ECHO | ECHOE | ECHOK | ECHONL | ECHOCTL |
                                           ECHOPRT | ECHOKE | IEXTEN | TOSTOP);
    t.cflag &= ~static_cast<std::uint32_t>(CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS);
    t.cflag |= CREAD | CLOCAL | DataBitsFlag(dcb.ByteSize);

    switch (dcb.Parity) {
        case ODDPARITY:
            t.cflag |= PARENB | PARODD;
            break;
        case EVENPARITY:
            t.cflag |= PARENB;
            break;
        case MARKPARITY:
            t.cflag |= PARENB | CMSPAR | PARODD;
            break;
        case SPACEPARITY:
            t.cflag |= PARENB | CMSPAR;
            break;
        default:
            break;
    }

    // termios has no 1.5 stop bits. CSTOPB is the nearest, and a 16550-type
    // UART sends exactly 1.5 stop bits for it when the word has 5 data bits,
    // the only width with which Windows offers 1.5.
    if (dcb.StopBits != ONESTOPBIT) t.cflag |= CSTOPB;

    if (WantsRtsCts(dcb)) t.cflag |= CRTSCTS;
    // Linux has no DTR/DSR handshake: fOutxDsrFlow and DTR_CONTROL_HANDSHAKE
    // are accepted and nothing is emulated; DTR is simply raised.

    if ((dcb.Flags & DCB_fOutX) != 0) t.iflag |= IXON;
    if ((dcb.Flags & DCB_fInX) != 0) t.iflag |= IXOFF;
    t.cc[VSTART] = static_cast<std::uint8_t>(dcb.XonChar);
    t.cc[VSTOP] = static_cast<std::uint8_t>(dcb.XoffChar);

    // With parity checking on, damaged bytes and breaks are marked in the
    // stream (PARMRK) so that ReceiveFilter can hand them over as Windows
    // does: as the byte received, or as ErrorChar when fErrorChar is set.
    // Without it, bytes pass as they arrived and a break reads as NUL.
    if ((dcb.Flags & DCB_fParity) != 0) t.iflag |= INPCK | PARMRK;

    // fDsrSensitivity, fTXContinueOnXoff, fAbortOnError, XonLim, XoffLim,
    // EofChar and EvtChar have no termios counterpart and are accepted as
    // they are; the kernel uses its own flow-control thresholds.

    t.cc[VMIN] = 0;
    t.cc[VTIME] = 0;
    t.rate = dcb.BaudRate;
    return t;
}

DCB DcbForTermios(const LineTermios& settings) {
    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    dcb.BaudRate = settings.rate;
    dcb.Flags = DCB_fBinary;
    switch (settings.cflag & CSIZE) {
        case CS5:
            dcb.ByteSize = 5;
            break;
        case CS6:
            dcb.ByteSize = 6;
            break;
        case CS7:
            dcb.ByteSize = 7;
            break;
        default:
            dcb.ByteSize = 8;
            break;
    }
    if ((settings.cflag & PARENB) == 0) {
        dcb.Parity = NOPARITY;
    } else if ((settings.cflag & CMSPAR) != 0) {
        dcb.Parity = (settings.cflag & PARODD) != 0 ? MARKPARITY : SPACEPARITY;
    } else {
        dcb.Parity = (settings.cflag & PARODD) != 0 ? ODDPARITY : EVENPARITY;
    }
    if ((settings.cflag & CSTOPB) == 0) {
        dcb.StopBits = ONESTOPBIT;
    } else {
        dcb.StopBits = dcb.ByteSize == 5 ? ONE5STOPBITS : TWOSTOPBITS;
    }
    dcb.Flags |= DTR_CONTROL_ENABLE << DCB_fDtrControlShift;
    if ((settings.cflag & CRTSCTS) != 0) {
        dcb.Flags |= DCB_fOutxCtsFlow | (RTS_CONTROL_HANDSHAKE << DCB_fRtsControlShift);
    } else {
        dcb.Flags |= RTS_CONTROL_ENABLE << DCB_fRtsControlShift;
    }
    if ((settings.iflag & INPCK) != 0) dcb.Flags |= DCB_fParity;
    if ((settings.iflag & IXON) != 0) dcb.Flags |= DCB_fOutX;
    if ((settings.iflag & IXOFF) != 0) dcb.Flags |= DCB_fInX;
    dcb.XonChar = static_cast<char>(settings.cc[VSTART]);
    dcb.XoffChar = static_cast<char>(settings.cc[VSTOP]);
    return dcb;
}

ModemLineRequest ModemLinesForDcb(const DCB& dcb) {
    ModemLineRequest request;
    request.driveDtr = true;
    request.dtrOn = DtrControl(dcb) != DTR_CONTROL_DISABLE;
    // With RTS/CTS on, the driver owns RTS. RTS_CONTROL_TOGGLE (RTS up only
    // while sending) has no general termios counterpart and holds RTS up.
    request.driveRts = !WantsRtsCts(dcb);
    request.rtsOn = RtsControl(dcb) != RTS_CONTROL_DISABLE;
    return request;
}

}  // namespace tarn::driver
