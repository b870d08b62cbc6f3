#include "Common/ThreadBaseWin32.h"

#include "Platform/Event.h"
#include "Platform/SystemError.h"

#include <atomic>
#include <cstdio>

namespace Tav {

namespace {
std::atomic<unsigned> nextThreadId{1};
}

CThreadBaseWin32::CThreadBaseWin32() : threadId(0), abandoned(false) {}

CThreadBaseWin32::~CThreadBaseWin32()
{
    RequestStop();
    if (!Join(stopTimeout))
        Terminate();
    WaitForAbandonedThreads();
    CloseThreadResources();
}

void CThreadBaseWin32::WaitForAbandonedThreads()
{
    for (const auto& ended : abandonedThreads) {
        if (ended->IsSet())
            continue;
        // Freeing the object now would pull it from under the running thread.
        std::fprintf(stderr, "Tav: a worker thread did not stop within %d ms; waiting for it to return\n",
                     stopTimeout);
        Platform::WaitForSingleObject(*ended, Platform::Infinite);
    }
    abandonedThreads.clear();
}

void CThreadBaseWin32::StartThread()
{
    if (threadHandle.IsAttached())
        Stop();
    ClearStopRequest();
    if (threadHandle.IsAttached()) {
        // The old thread would not stop: it is given up, never shared.
        Terminate();
    }
    auto done = std::make_shared<Platform::Event>(true, false);
    bool ok = threadHandle.Start([this, done] {
        ThreadProcedure(this);
        done->Set();
    });
    if (!ok)
        throw CCommonException(0xCEF00204, 39, "ThreadBaseWin32.cpp");
    returned = std::move(done);
    abandoned = false;
    threadId = nextThreadId.fetch_add(1);
}

void CThreadBaseWin32::Terminate()
{
    if (!threadHandle.IsAttached())
        return;
    threadHandle.Abandon();
    abandoned = true;
    if (returned)
        abandonedThreads.push_back(returned);
}

bool CThreadBaseWin32::Join(int milliseconds)
{
    return threadHandle.Join(milliseconds);
}

} // namespace Tav
