// The serial driver seam: the only way the component reaches a port.
//
// The shapes are those of the Win32 communications API (a pointer-sized
// handle whose invalid value has all bits set, the 28-byte device control
// block, COMMTIMEOUTS, COMSTAT, the escape and purge codes, a per-thread
// last-error code). Behind the seam stand three backends: virtual ports (in
// every build), and the operating system's ports, reached through kernel32
// on Windows and through termios elsewhere. Which OS backend is present is
// decided by the build; whether a name is virtual is decided at open time.
//
// Every function here may be called from any thread. A handle stays usable by
// a call that is already running on it even while another thread closes it:
// the device is released when the last call using it has returned.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "host_system_error.h"

namespace tarn::driver {

// The system's error codes and its last error are the host's; every call
// here reports its failures through them.
using namespace tarn::host::system_errors;
using tarn::host::GetLastError;
using tarn::host::SetLastError;
using tarn::host::SystemErrorText;

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

// CreateFileA as the component calls it: GENERIC_READ | GENERIC_WRITE, no
// sharing, OPEN_EXISTING, no overlapped I/O. `path` is "\\.\" followed by the
// port name. Returns INVALID_HANDLE_VALUE and sets the last error on failure.
HANDLE CreateFileA(const std::string& path);
bool CloseHandle(HANDLE handle);

bool SetupComm(HANDLE handle, std::uint32_t inQueue, std::uint32_t outQueue);
bool SetCommState(HANDLE handle, const DCB& dcb);
bool GetCommState(HANDLE handle, DCB& dcb);
bool SetCommTimeouts(HANDLE handle, const COMMTIMEOUTS& timeouts);
bool GetCommTimeouts(HANDLE handle, COMMTIMEOUTS& timeouts);
bool ClearCommError(HANDLE handle, std::uint32_t* errors, COMSTAT* stat);
bool ReadFile(HANDLE handle, void* buffer, std::uint32_t count, std::uint32_t* read);
bool WriteFile(HANDLE handle, const void* buffer, std::uint32_t count, std::uint32_t* written);
bool PurgeComm(HANDLE handle, std::uint32_t flags);
bool EscapeCommFunction(HANDLE handle, std::uint32_t function);
bool GetCommModemStatus(HANDLE handle, std::uint32_t* status);

// Not a Win32 function: waits at most `milliseconds` for the input queue to
// hold a byte, without taking it, so that a caller waiting for data sleeps
// until it comes instead of looking at the queue again and again. It may
// return early (a closed handle, a purge, a signal); the caller looks at the
// queue itself. Returns false and sets the last error when the device has
// failed or gone.
bool WaitCommInput(HANDLE handle, std::uint32_t milliseconds);

// Not a Win32 function: copies up to `count` bytes from the front of the
// input queue into `buffer` without taking them, so that a reader can find
// where what it wants ends before it reads; the next ReadFile takes these
// bytes first. It does not wait for input, and may copy fewer bytes than the
// queue holds. Returns false and sets the last error on failure.
bool PeekInput(HANDLE handle, void* buffer, std::uint32_t count, std::uint32_t* peeked);
// Not a Win32 function: waits at most `milliseconds` until everything
// written has left the output queue and the line, as FlushFileBuffers does
// without a limit. True once it has. False with ERROR_SEM_TIMEOUT when the
// time ran out first, and with the call's error when the device failed or
// went, or the handle was closed meanwhile.
bool DrainCommOutput(HANDLE handle, std::uint32_t milliseconds);
// Not a Win32 function: what ends a WaitCommInput on the handle as soon as
// it happens, as COMMWAIT_ bits. A driver without COMMWAIT_INPUT looks at
// its queue every few milliseconds while it waits; a change that is not
// among the bits is seen only when the wait ends. 0 for an invalid handle,
// with the last error set.
inline constexpr std::uint32_t COMMWAIT_INPUT = 0x0001;    // a byte arrives
inline constexpr std::uint32_t COMMWAIT_LINES = 0x0002;    // a modem line changes
inline constexpr std::uint32_t COMMWAIT_REMOVAL = 0x0004;  // the device goes away
std::uint32_t GetCommWaitWakes(HANDLE handle);
// Not a Win32 function: ends the waits of WaitCommInput that run on the
// handle now, and makes every later one return at once, for an owner that
// is about to stop using the handle and wants its waiting threads to notice
// now rather than at their time-out. Every other call on the handle works
// as before. Returns false and sets the last error for an invalid handle.
bool CancelCommWaits(HANDLE handle);

}  // namespace tarn::driver
