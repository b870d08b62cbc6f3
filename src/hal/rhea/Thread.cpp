#include "Thread.h"

#include "Platform/Waitable.h"

namespace Rhea {

using namespace Tav::Platform;

bool CThread::Start(int32_t timeout)
{
    if (!thread.Start([this] { Run(); }))
        return false;
    if (WaitForSingleObject(ready, timeout) != WaitObject0) {
        thread.Abandon();
        return false;
    }
    return window != 0;
}

void CThread::Run()
{
    window = CreateMessageWindow("RheaMessageOnly", [](WindowHandle w, uint32_t message, uintptr_t, intptr_t) -> intptr_t {
        if (message == WmDestroy)
            PostQuitMessage(0);
        else if (message == WmClose)
            DestroyWindow(w);
        return 0;
    });
    ready.Set();
    if (window)
        RunMessageLoop();
}

void CThread::Stop(int32_t timeout, int32_t grace)
{
    if (window)
        PostMessage(window, WmClose, 0, 0);
    // There is no forced end for a thread here: one that does not finish is
    // left running on its own.
    if (!thread.Join(timeout) && !thread.Join(grace))
        thread.Abandon();
}

} // namespace Rhea
