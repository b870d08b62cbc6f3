#include "Common/ThreadBase.h"

namespace Tav {

CThreadBase::CThreadBase() : stopRequested(false), stopTimeout(5000), threadError(nullptr) {}

CThreadBase::~CThreadBase()
{
    delete threadError;
}

void CThreadBase::CreateThreadResources()
{
    errorLock.Create();
    startedSignal.Create();
}

void CThreadBase::CloseThreadResources()
{
    startedSignal.Close();
    errorLock.Delete();
}

bool CThreadBase::WaitUntilStarted(int milliseconds)
{
    if (!startedSignal.Wait(milliseconds, true))
        throw CCommonException(0xCEF00203, 56, "ThreadBase.cpp");
    CCriticalSectionLock guard(errorLock);
    if (threadError)
        throw CException(*threadError);
    return false;
}

bool CThreadBase::Stop()
{
    RequestStop();
    return Join(stopTimeout);
}

void CThreadBase::RequestStop()
{
    SetStopRequest();
}

bool CThreadBase::HasThreadError()
{
    CCriticalSectionLock guard(errorLock);
    return threadError != nullptr;
}

CException* CThreadBase::GetThreadError()
{
    CCriticalSectionLock guard(errorLock);
    return threadError;
}

void CThreadBase::StoreThreadError(const CException& error)
{
    CException* copy = new (std::nothrow) CException(error);
    CCriticalSectionLock guard(errorLock);
    delete threadError;
    threadError = copy;
}

void CThreadBase::ThreadProcedure(CThreadBase* self)
{
    bool started = false;
    try {
        self->OnThreadStart();
        self->startedSignal.Set();
        started = true;
        self->Run();
    } catch (const CException& e) {
        self->StoreThreadError(e);
    } catch (...) {
        // Anything else would end the process; keep it as the thread's error.
        self->StoreThreadError(CCommonException(0xCEF00002, __LINE__, "ThreadBase.cpp"));
    }
    if (!started) {
        try {
            self->startedSignal.Set();
        } catch (const CException& e) {
            self->StoreThreadError(e);
        }
    }
    try {
        self->OnThreadExit();
    } catch (const CException& e) {
        self->StoreThreadError(e);
    } catch (...) {
        self->StoreThreadError(CCommonException(0xCEF00002, __LINE__, "ThreadBase.cpp"));
    }
}

} // namespace Tav
