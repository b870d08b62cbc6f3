#include "Platform/SystemError.h"

#include <cerrno>

namespace Tav::Platform {

namespace {
thread_local uint32_t lastError = ErrorSuccess;
}

uint32_t GetLastError() { return lastError; }

void SetLastError(uint32_t error) { lastError = error; }

uint32_t SystemErrorFromErrno(int errnoValue)
{
    switch (errnoValue) {
    case 0: return ErrorSuccess;
    case ENOENT: return ErrorFileNotFound;
    case ENOTDIR: return ErrorPathNotFound;
    case EACCES:
    case EPERM: return ErrorAccessDenied;
    case EBADF: return ErrorInvalidHandle;
    case ENOMEM:
    case EAGAIN: return ErrorNotEnoughMemory;
    case EINVAL: return ErrorInvalidParameter;
    case ETIMEDOUT: return ErrorTimeout;
    case ENODEV:
    case ENXIO: return ErrorDeviceNotConnected;
    case ECANCELED: return ErrorOperationAborted;
    default: return ErrorGenFailure;
    }
}

} // namespace Tav::Platform
