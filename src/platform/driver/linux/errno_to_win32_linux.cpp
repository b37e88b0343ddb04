#include "errno_to_win32_linux.h"

#include <cerrno>

#include "serial_driver.h"

namespace tarn::driver {

std::uint32_t Win32ErrorFromErrno(int error) {
    switch (error) {
        case 0:
            return ERROR_SUCCESS;
        case ENOENT:
        case ENXIO:
        case ENODEV:
        case ELOOP:
        case ENAMETOOLONG:
            return ERROR_FILE_NOT_FOUND;
        case ENOTDIR:
            return ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EBUSY:
        case EWOULDBLOCK:
        case EROFS:
            // Windows reports a port that someone else holds as access denied.
            return ERROR_ACCESS_DENIED;
        case EBADF:
            return ERROR_INVALID_HANDLE;
        case ENOMEM:
        case ENOBUFS:
        case EMFILE:
        case ENFILE:
            return ERROR_NOT_ENOUGH_MEMORY;
        case EINVAL:
        case ERANGE:
            return ERROR_INVALID_PARAMETER;
        case ENOTTY:
        case ENOSYS:
        case EOPNOTSUPP:
            return ERROR_NOT_SUPPORTED;
        case ETIMEDOUT:
            return ERROR_SEM_TIMEOUT;
        case EINTR:
        case ECANCELED:
            return ERROR_OPERATION_ABORTED;
        case EIO:
        default:
            return ERROR_GEN_FAILURE;
    }
}

bool IsDeviceGoneErrno(int error) { return error == EIO || error == ENXIO || error == ENODEV; }

}  // namespace tarn::driver
