#include "Common/ThreadSignalWin32.h"

#include "Common/Exception.h"
#include "Platform/Event.h"
#include "Platform/SystemError.h"

#include <new>

namespace Tav {

CThreadSignalWin32::CThreadSignalWin32() = default;

CThreadSignalWin32::~CThreadSignalWin32()
{
    Close();
}

void CThreadSignalWin32::Create()
{
    Close();
    event.reset(new (std::nothrow) Platform::Event(false, false));
    if (!event)
        throw CCommonException(0xCEF00200, 39, "ThreadSignalWin32.cpp");
}

void CThreadSignalWin32::Close()
{
    event.reset();
}

bool CThreadSignalWin32::Wait(int milliseconds, bool reset)
{
    if (!event)
        throw CCommonException(0xCEF00202, 76, "ThreadSignalWin32.cpp");
    uint32_t result = Platform::WaitForSingleObject(*event, milliseconds);
    if (result == Platform::WaitTimedOut)
        return false;
    if (result != Platform::WaitObject0)
        throw CCommonException(0xCEF00202, 76, "ThreadSignalWin32.cpp");
    if (reset)
        Reset();
    return true;
}

void CThreadSignalWin32::Set()
{
    if (!event)
        throw CCommonException(0xCEF00201, 95, "ThreadSignalWin32.cpp");
    event->Set();
}

void CThreadSignalWin32::Reset()
{
    if (event)
        event->Reset();
}

Platform::Waitable* CThreadSignalWin32::GetHandle() const
{
    return event.get();
}

} // namespace Tav
