#pragma once

#include "Common/ThreadBase.h"
#include "Platform/Thread.h"

#include <memory>
#include <vector>

namespace Tav {

namespace Platform {
class Event;
}

// The thread base on a native platform thread.
//
// A thread cannot be killed safely here, so Terminate gives it up instead:
// it is detached and flagged abandoned, runs on until it returns by itself,
// and the destructor does not free the object under it.
class CThreadBaseWin32 : public CThreadBase {
public:
    CThreadBaseWin32();
    ~CThreadBaseWin32() override;

    void StartThread() override;
    void Terminate() override;
    bool Join(int milliseconds) override;

    bool IsAbandoned() const { return abandoned; }

protected:
    // Blocks until every thread given up by Terminate has returned; called
    // before resources those threads use are freed.
    void WaitForAbandonedThreads();

    unsigned GetThreadId() const { return threadId; }

private:
    Platform::Thread threadHandle;
    unsigned threadId;
    bool abandoned;
    // Set by the thread as the very last thing it does with this object.
    std::shared_ptr<Platform::Event> returned;
    // Events of threads given up that may still run on this object.
    std::vector<std::shared_ptr<Platform::Event>> abandonedThreads;
};

} // namespace Tav
