// The vocabulary of the serial driver seam: the handle, the device control
// block, COMMTIMEOUTS, COMSTAT and the codes of purges, escapes, modem lines
// and line errors, in the shapes of the Win32 communications API. The
// functions that take them are in serial_driver.h; this part is also what
// a virtual port (virtual_port.h) speaks, and is installed with it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host_system_error.h"

namespace tarn::driver {

// The system's error codes are the host's; the seam reports its failures,
// and a virtual port is told which failure to make, in them.
using namespace tarn::host::system_errors;

using HANDLE = std::uintptr_t;
inline constexpr HANDLE INVALID_HANDLE_VALUE = ~HANDLE{0};

// Bits of DCB::Flags, in the order of the Win32 bit fields.
inline constexpr std::uint32_t DCB_fBinary = 0x0001;
inline constexpr std::uint32_t DCB_fParity = 0x0002;
inline constexpr std::uint32_t DCB_fOutxCtsFlow = 0x0004;
inline constexpr std::uint32_t DCB_fOutxDsrFlow = 0x0008;
inline constexpr std::uint32_t DCB_fDtrControlShift = 4;  // two bits
inline constexpr std::uint32_t DCB_fDtrControlMask = 0x0030;
inline constexpr std::uint32_t DCB_fDsrSensitivity = 0x0040;
inline constexpr std::uint32_t DCB_fTXContinueOnXoff = 0x0080;
inline constexpr std::uint32_t DCB_fOutX = 0x0100;
inline constexpr std::uint32_t DCB_fInX = 0x0200;
inline constexpr std::uint32_t DCB_fErrorChar = 0x0400;
inline constexpr std::uint32_t DCB_fNull = 0x0800;
inline constexpr std::uint32_t DCB_fRtsControlShift = 12;  // two bits
inline constexpr std::uint32_t DCB_fRtsControlMask = 0x3000;
inline constexpr std::uint32_t DCB_fAbortOnError = 0x4000;

inline constexpr std::uint32_t DTR_CONTROL_DISABLE = 0;
inline constexpr std::uint32_t DTR_CONTROL_ENABLE = 1;
inline constexpr std::uint32_t DTR_CONTROL_HANDSHAKE = 2;
inline constexpr std::uint32_t RTS_CONTROL_DISABLE = 0;
inline constexpr std::uint32_t RTS_CONTROL_ENABLE = 1;
inline constexpr std::uint32_t RTS_CONTROL_HANDSHAKE = 2;
inline constexpr std::uint32_t RTS_CONTROL_TOGGLE = 3;

inline constexpr std::uint8_t NOPARITY = 0;
inline constexpr std::uint8_t ODDPARITY = 1;
inline constexpr std::uint8_t EVENPARITY = 2;
inline constexpr std::uint8_t MARKPARITY = 3;
inline constexpr std::uint8_t SPACEPARITY = 4;
inline constexpr std::uint8_t ONESTOPBIT = 0;
inline constexpr std::uint8_t ONE5STOPBITS = 1;
inline constexpr std::uint8_t TWOSTOPBITS = 2;

// Byte for byte the Win32 DCB. The bit fields of the original are one
// 32-bit word here so that the layout does not depend on the compiler.
struct DCB {
    std::uint32_t DCBlength;
    std::uint32_t BaudRate;
    std::uint32_t Flags;
    std::uint16_t wReserved;
    std::uint16_t XonLim;
    std::uint16_t XoffLim;
    std::uint8_t ByteSize;
    std::uint8_t Parity;
    std::uint8_t StopBits;
    char XonChar;
    char XoffChar;
    char ErrorChar;
    char EofChar;
    char EvtChar;
    std::uint16_t wReserved1;
};
static_assert(sizeof(DCB) == 28, "the device control block is 28 bytes");

inline std::uint32_t DtrControl(const DCB& dcb) {
    return (dcb.Flags & DCB_fDtrControlMask) >> DCB_fDtrControlShift;
}
inline std::uint32_t RtsControl(const DCB& dcb) {
    return (dcb.Flags & DCB_fRtsControlMask) >> DCB_fRtsControlShift;
}

struct COMMTIMEOUTS {
    std::uint32_t ReadIntervalTimeout;
    std::uint32_t ReadTotalTimeoutMultiplier;
    std::uint32_t ReadTotalTimeoutConstant;
    std::uint32_t WriteTotalTimeoutMultiplier;
    std::uint32_t WriteTotalTimeoutConstant;
};
static_assert(sizeof(COMMTIMEOUTS) == 20, "COMMTIMEOUTS is five DWORDs");

struct COMSTAT {
    std::uint32_t Flags;  // fCtsHold ... fTxim, as in Win32
    std::uint32_t cbInQue;
    std::uint32_t cbOutQue;
};
static_assert(sizeof(COMSTAT) == 12, "COMSTAT is three DWORDs");

// PurgeComm flags.
inline constexpr std::uint32_t PURGE_TXABORT = 0x0001;
inline constexpr std::uint32_t PURGE_RXABORT = 0x0002;
inline constexpr std::uint32_t PURGE_TXCLEAR = 0x0004;
inline constexpr std::uint32_t PURGE_RXCLEAR = 0x0008;

// EscapeCommFunction codes.
inline constexpr std::uint32_t SETXOFF = 1;
inline constexpr std::uint32_t SETXON = 2;
inline constexpr std::uint32_t SETRTS = 3;
inline constexpr std::uint32_t CLRRTS = 4;
inline constexpr std::uint32_t SETDTR = 5;
inline constexpr std::uint32_t CLRDTR = 6;
inline constexpr std::uint32_t SETBREAK = 8;
inline constexpr std::uint32_t CLRBREAK = 9;

// GetCommModemStatus bits.
inline constexpr std::uint32_t MS_CTS_ON = 0x0010;
inline constexpr std::uint32_t MS_DSR_ON = 0x0020;
inline constexpr std::uint32_t MS_RING_ON = 0x0040;
inline constexpr std::uint32_t MS_RLSD_ON = 0x0080;

// ClearCommError error bits.
inline constexpr std::uint32_t CE_RXOVER = 0x0001;
inline constexpr std::uint32_t CE_OVERRUN = 0x0002;
inline constexpr std::uint32_t CE_RXPARITY = 0x0004;
inline constexpr std::uint32_t CE_FRAME = 0x0008;
inline constexpr std::uint32_t CE_BREAK = 0x0010;

// The input queue's size until SetupComm sets one, as a Windows driver's.
inline constexpr std::uint32_t kDefaultInputQueue = 4096;

// The error of every call on a device that went away (an adapter pulled
// out, a remote port's connection dropped, a virtual port removed), from
// the call that finds it gone on: what Windows reports for a pulled USB
// adapter, and what the component takes for a vanished device.
inline constexpr std::uint32_t kDeviceGoneError = ERROR_BAD_COMMAND;

}  // namespace tarn::driver
