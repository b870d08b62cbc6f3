#pragma once

#include "Common/SignaledThreadBase.h"

namespace Tav {

namespace Platform {
class Waitable;
}

class CSignaledThreadBaseWin32 : public CSignaledThreadBase {
public:
    CSignaledThreadBaseWin32();
    ~CSignaledThreadBaseWin32() override;

    void CreateThreadResources() override;
    void CloseThreadResources() override;
    void CreateSignal(int index) override;
    // Stale signals are dropped here, before the thread exists, so that a
    // signal set once WaitUntilStarted has returned is never lost.
    void StartThread() override;
    void Run() override;

protected:
    Platform::Waitable** signalHandles;
};

} // namespace Tav
