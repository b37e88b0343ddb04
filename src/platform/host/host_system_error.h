// The system's error codes, the calling thread's last error and the text
// for a code. The codes are Win32's on every platform, and the last error is
// kept here, per thread, in every build: the Windows code takes kernel32's
// code into it, and elsewhere the same codes stand for what errno said, so
// that callers and messages read alike everywhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tarn::host {

// The codes sit in a namespace of their own, so that a layer built on this
// one (the serial driver seam) can offer them under its own name with one
// using-directive.
inline namespace system_errors {

inline constexpr std::uint32_t ERROR_SUCCESS = 0;
inline constexpr std::uint32_t ERROR_INVALID_FUNCTION = 1;
inline constexpr std::uint32_t ERROR_FILE_NOT_FOUND = 2;
inline constexpr std::uint32_t ERROR_PATH_NOT_FOUND = 3;
inline constexpr std::uint32_t ERROR_ACCESS_DENIED = 5;
inline constexpr std::uint32_t ERROR_INVALID_HANDLE = 6;
inline constexpr std::uint32_t ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr std::uint32_t ERROR_BAD_COMMAND = 22;
inline constexpr std::uint32_t ERROR_GEN_FAILURE = 31;
inline constexpr std::uint32_t ERROR_SHARING_VIOLATION = 32;
inline constexpr std::uint32_t ERROR_NOT_SUPPORTED = 50;
inline constexpr std::uint32_t ERROR_INVALID_PARAMETER = 87;
inline constexpr std::uint32_t ERROR_SEM_TIMEOUT = 121;
inline constexpr std::uint32_t ERROR_INVALID_NAME = 123;
inline constexpr std::uint32_t ERROR_MOD_NOT_FOUND = 126;
inline constexpr std::uint32_t ERROR_PROC_NOT_FOUND = 127;
inline constexpr std::uint32_t ERROR_OPERATION_ABORTED = 995;
inline constexpr std::uint32_t ERROR_IO_DEVICE = 1117;
inline constexpr std::uint32_t ERROR_DEVICE_NOT_CONNECTED = 1167;
inline constexpr std::uint32_t ERROR_DEVICE_REMOVED = 1617;

// Windows Sockets errors, which the TCP connections report on every system.
inline constexpr std::uint32_t WSAEACCES = 10013;
inline constexpr std::uint32_t WSAEINVAL = 10022;
inline constexpr std::uint32_t WSAEMFILE = 10024;
inline constexpr std::uint32_t WSAEAFNOSUPPORT = 10047;
inline constexpr std::uint32_t WSAEADDRINUSE = 10048;
inline constexpr std::uint32_t WSAEADDRNOTAVAIL = 10049;
inline constexpr std::uint32_t WSAENETDOWN = 10050;
inline constexpr std::uint32_t WSAENETUNREACH = 10051;
inline constexpr std::uint32_t WSAECONNABORTED = 10053;
inline constexpr std::uint32_t WSAECONNRESET = 10054;
inline constexpr std::uint32_t WSAENOBUFS = 10055;
inline constexpr std::uint32_t WSAENOTCONN = 10057;
inline constexpr std::uint32_t WSAESHUTDOWN = 10058;
inline constexpr std::uint32_t WSAETIMEDOUT = 10060;
inline constexpr std::uint32_t WSAECONNREFUSED = 10061;
inline constexpr std::uint32_t WSAEHOSTUNREACH = 10065;
inline constexpr std::uint32_t WSAEDISCON = 10101;
inline constexpr std::uint32_t WSAHOST_NOT_FOUND = 11001;
inline constexpr std::uint32_t WSATRY_AGAIN = 11002;
inline constexpr std::uint32_t WSANO_RECOVERY = 11003;

}  // namespace system_errors

// The calling thread's last error code, as Win32 keeps it.
std::uint32_t GetLastError();
void SetLastError(std::uint32_t code);

// The system's text for an error code, without a trailing line break; for
// a code from DescribedError, the text it was made with.
std::string SystemErrorText(std::uint32_t code);

// A new error code that stands for `text`, for a device whose failure says
// more than any system code does (a replayed port that was sent other bytes
// than it recorded). The codes have bit 29 set, which Win32 leaves to
// applications, and are unique in the process, so the code travels through
// the last error, and into the component's exception, as any other. Only
// the latest kDescribedErrorsKept texts are kept; an older code reads as an
// unknown error. Any thread.
inline constexpr std::uint32_t kDescribedErrorBit = 0x20000000u;
inline constexpr std::size_t kDescribedErrorsKept = 64;
std::uint32_t DescribedError(std::string text);
// The text of a code from DescribedError while it is kept; false otherwise.
bool DescribedErrorText(std::uint32_t code, std::string& text);

}  // namespace tarn::host
