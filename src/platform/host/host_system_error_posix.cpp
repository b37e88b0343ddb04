// The system's texts for the error codes that this library reports,
// worded as Windows words them, so that messages read alike on every
// platform. The network errors are the exception: Windows words them in
// long sentences, and here they read as the sockets of this system word
// them.
#include <cstdio>
#include <string>

#include "host_system_error.h"

namespace tarn::host {
namespace {

// The system's texts of the codes that the library reports, one case a code:
// a flat table, as long as the list of codes.
const char* KnownText(std::uint32_t code) {
    switch (code) {
        case ERROR_SUCCESS:
            return "The operation completed successfully.";
        case ERROR_INVALID_FUNCTION:
            return "Incorrect function.";
        case ERROR_FILE_NOT_FOUND:
            return "The system cannot find the file specified.";
        case ERROR_PATH_NOT_FOUND:
            return "The system cannot find the path specified.";
        case ERROR_ACCESS_DENIED:
            return "Access is denied.";
        case ERROR_INVALID_HANDLE:
            return "The handle is invalid.";
        case ERROR_NOT_ENOUGH_MEMORY:
            return "Not enough memory resources are available to process this command.";
        case ERROR_BAD_COMMAND:
            return "The device does not recognize the command.";
        case ERROR_GEN_FAILURE:
            return "A device attached to the system is not functioning.";
        case ERROR_SHARING_VIOLATION:
            return "The process cannot access the file because it is being used by another "
                   "process.";
        case ERROR_NOT_SUPPORTED:
            return "The request is not supported.";
        case ERROR_INVALID_PARAMETER:
            return "The parameter is incorrect.";
        case ERROR_SEM_TIMEOUT:
            return "The semaphore timeout period has expired.";
        case ERROR_INVALID_NAME:
            return "The filename, directory name, or volume label syntax is incorrect.";
        case ERROR_MOD_NOT_FOUND:
            return "The specified module could not be found.";
        case ERROR_PROC_NOT_FOUND:
            return "The specified procedure could not be found.";
        case ERROR_OPERATION_ABORTED:
            return "The I/O operation has been aborted because of either a thread exit or an "
                   "application request.";
        case ERROR_IO_DEVICE:
            return "The request could not be performed because of an I/O device error.";
        case ERROR_DEVICE_NOT_CONNECTED:
            return "The device is not connected.";
        case ERROR_DEVICE_REMOVED:
            return "The device has been removed.";
        case WSAEACCES:
            return "Permission denied.";
        case WSAEINVAL:
            return "Invalid argument.";
        case WSAEMFILE:
            return "Too many open files.";
        case WSAEAFNOSUPPORT:
            return "Address family not supported by protocol.";
        case WSAEADDRINUSE:
            return "Address already in use.";
        case WSAEADDRNOTAVAIL:
            return "Cannot assign requested address.";
        case WSAENETDOWN:
            return "Network is down.";
        case WSAENETUNREACH:
            return "Network is unreachable.";
        case WSAECONNABORTED:
            return "Software caused connection abort.";
        case WSAECONNRESET:
            return "Connection reset by peer.";
        case WSAENOBUFS:
            return "No buffer space available.";
        case WSAENOTCONN:
            return "Socket is not connected.";
        case WSAESHUTDOWN:
            return "Cannot send after socket shutdown.";
        case WSAETIMEDOUT:
            return "Connection timed out.";
        case WSAECONNREFUSED:
            return "Connection refused.";
        case WSAEHOSTUNREACH:
            return "No route to host.";
        case WSAEDISCON:
            return "Connection closed by the peer.";
        case WSAHOST_NOT_FOUND:
            return "No such host is known.";
        case WSATRY_AGAIN:
            return "Temporary failure in name resolution.";
        case WSANO_RECOVERY:
            return "Non-recoverable failure in name resolution.";
        default:
            return nullptr;
    }
}

}  // namespace

std::string SystemErrorText(std::uint32_t code) {
    std::string described;
    if (DescribedErrorText(code, described)) return described;
    if (const char* text = KnownText(code)) return text;
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "Unknown error (0x%x)", static_cast<unsigned>(code));
    return buffer;
}

}  // namespace tarn::host
