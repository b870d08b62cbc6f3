#pragma once

#include "Common/CriticalSectionWin32.h"
#include "Common/Exception.h"
#include "Common/ThreadSignalWin32.h"

#include <atomic>

namespace Tav {

// A worker thread object: start hand-shake, stop request, and a copy of the
// error that ended its start hook or body.
class CThreadBase {
public:
    CThreadBase();
    virtual ~CThreadBase();

    CThreadBase(const CThreadBase&) = delete;
    CThreadBase& operator=(const CThreadBase&) = delete;

    virtual void CreateThreadResources();
    virtual void CloseThreadResources();
    virtual void StartThread() = 0;
    // Waits for the start hook to have run; rethrows its failure. Throws
    // 0xCEF00203 on time-out (negative: no limit).
    virtual bool WaitUntilStarted(int milliseconds);
    // RequestStop, then Join(stopTimeout).
    virtual bool Stop();
    virtual void RequestStop();
    virtual void Terminate() = 0;
    virtual bool Join(int milliseconds) = 0;
    virtual void OnThreadStart() {}
    virtual void Run() = 0;
    virtual void OnThreadExit() {}

    bool HasThreadError();
    // Owned by the thread object; valid until the next error or destruction.
    CException* GetThreadError();

    bool IsStopRequested() const { return stopRequested.load(std::memory_order_acquire); }
    int GetStopTimeout() const { return stopTimeout; }
    void SetStopTimeout(int milliseconds) { stopTimeout = milliseconds; }

protected:
    // The body of the new thread; `self` is the thread object.
    static void ThreadProcedure(CThreadBase* self);

    void ClearStopRequest() { stopRequested.store(false, std::memory_order_release); }
    void SetStopRequest() { stopRequested.store(true, std::memory_order_release); }

    // Written by the stopping thread, read by the worker between waits.
    std::atomic<bool> stopRequested;
    int stopTimeout;
    CThreadSignalWin32 startedSignal;
    CException* threadError;
    CCriticalSectionWin32 errorLock;

private:
    void StoreThreadError(const CException& error);
};

} // namespace Tav
