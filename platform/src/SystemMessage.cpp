#include "Platform/SystemMessage.h"

#include "Platform/SystemError.h"

namespace Tav::Platform {

namespace {

struct Entry {
    uint32_t code;
    const char* text;
};

// Texts for the system errors this program can meet, worded as the system
// words them. HRESULTs of the FACILITY_WIN32 form fall back to their error.
constexpr Entry systemMessages[] = {
    {ErrorSuccess, "The operation completed successfully."},
    {1, "Incorrect function."},
    {ErrorFileNotFound, "The system cannot find the file specified."},
    {ErrorPathNotFound, "The system cannot find the path specified."},
    {ErrorAccessDenied, "Access is denied."},
    {ErrorInvalidHandle, "The handle is invalid."},
    {ErrorNotEnoughMemory, "Not enough storage is available to process this command."},
    {14, "Not enough storage is available to complete this operation."},
    {ErrorNotReady, "The device is not ready."},
    {ErrorCrc, "Data error (cyclic redundancy check)."},
    {ErrorGenFailure, "A device attached to the system is not functioning."},
    {ErrorInvalidParameter, "The parameter is incorrect."},
    {ErrorSemTimeout, "The semaphore timeout period has expired."},
    {ErrorInsufficientBuffer, "The data area passed to a system call is too small."},
    {ErrorModNotFound, "The specified module could not be found."},
    {ErrorProcNotFound, "The specified procedure could not be found."},
    {ErrorBusy, "The requested resource is in use."},
    {ErrorBadExeFormat, "The specified file is not a valid shared library."},
    {WaitTimeout, "The wait operation timed out."},
    {ErrorNoMoreItems, "No more data is available."},
    {ErrorNotOwner, "Attempt to release mutex not owned by caller."},
    {ErrorOperationAborted, "The I/O operation has been aborted because of either a thread exit or an application request."},
    {ErrorIoIncomplete, "Overlapped I/O event is not in a signaled state."},
    {ErrorIoPending, "Overlapped I/O operation is in progress."},
    {ErrorDeviceNotConnected, "The device is not connected."},
    {ErrorInvalidWindowHandle, "Invalid window handle."},
    {ErrorTimeout, "This operation returned because the timeout period expired."},
    {0x80004001u, "Not implemented"},
    {0x80004005u, "Unspecified error"},
    {0x8000FFFFu, "Catastrophic failure"},
    {0x80020005u, "Type mismatch."},
    {0x8002000Au, "Out of present range."},
    {0x8007000Eu, "Not enough storage is available to complete this operation."},
    {0x80070057u, "The parameter is incorrect."},
};

const char* Lookup(uint32_t code)
{
    for (const Entry& e : systemMessages)
        if (e.code == code)
            return e.text;
    return nullptr;
}

} // namespace

bool FindSystemMessage(uint32_t code, std::string& text)
{
    const char* found = Lookup(code);
    if (!found && (code & 0xFFFF0000u) == 0x80070000u)
        found = Lookup(code & 0xFFFFu);
    if (!found)
        return false;
    text = found;
    text += '\n';
    return true;
}

} // namespace Tav::Platform
