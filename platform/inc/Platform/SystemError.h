#pragma once

// System error numbers as the framework reports them. The values are the
// Win32 ones because the framework's codes, texts and callers expect them.

#include <cstdint>

namespace Tav::Platform {

enum SystemError : uint32_t {
    ErrorSuccess = 0,
    ErrorInvalidFunction = 1,
    ErrorFileNotFound = 2,
    ErrorPathNotFound = 3,
    ErrorAccessDenied = 5,
    ErrorInvalidHandle = 6,
    ErrorNotEnoughMemory = 8,
    ErrorNotReady = 21,
    ErrorCrc = 23,
    ErrorGenFailure = 31,
    ErrorInvalidParameter = 87,
    ErrorSemTimeout = 121,
    ErrorInsufficientBuffer = 122,
    ErrorModNotFound = 126,
    ErrorProcNotFound = 127,
    ErrorBusy = 170,
    ErrorBadExeFormat = 193,
    WaitTimeout = 258,
    ErrorNoMoreItems = 259,
    ErrorNotOwner = 288,
    ErrorOperationAborted = 995,
    ErrorIoIncomplete = 996,
    ErrorIoPending = 997,
    ErrorDeviceNotConnected = 1167,
    ErrorInvalidWindowHandle = 1400,
    ErrorTimeout = 1460,
};

// The calling thread's last system error, as set by the failing platform call.
uint32_t GetLastError();
void SetLastError(uint32_t error);

// A positive system error e becomes (e & 0xFFFF) | 0x80070000; zero and
// negative values (already HRESULTs) are returned unchanged.
constexpr uint32_t HresultFromWin32(uint32_t error)
{
    return static_cast<int32_t>(error) <= 0 ? error : ((error & 0x0000FFFFu) | 0x80070000u);
}

// Maps an errno value to the nearest system error number.
uint32_t SystemErrorFromErrno(int errnoValue);

} // namespace Tav::Platform
