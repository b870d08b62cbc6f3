#pragma once

#include "Common/CriticalSectionWin32.h"
#include "Common/SignaledThreadBaseWin32.h"
#include "Common/StaticErrorView.h"
#include "Core/ModuleBase.h"

#include <cstddef>
#include <vector>

namespace Tav {

// Shows the errors that arrive as error packets on input port 1, one box at
// a time, in arrival order, on a thread of its own: modules on camera or
// worker threads never wait for a person. It has no error port of its own.
class CErrorView : public CModuleBase, public CSignaledThreadBaseWin32, public CStaticErrorView {
public:
    CErrorView();
    ~CErrorView() override;

    using CConnectorBase::Start;
    using CConnectorBase::Stop;

    void OnInitialize() override;
    // Errors not yet shown are discarded.
    void OnDeinitialize() override;
    void OnData(int inputPort, const CSmartPointer<IPacket>& packet) override;

    int GetMaxSignals() override { return 2; }
    bool OnSignal(int key) override;

    // No error port: nothing is sent, not even on the auxiliary port -1,
    // which the base class would otherwise take for the unset error port.
    void ReportError(const CException&) override {}

    // Queues every error chunk of `packet`; packets without one are ignored.
    // A malformed error chunk throws its data-buffer error.
    virtual void OnErrorPacket(const CSmartPointer<IPacket>& packet);
    // Shows queued errors until none is left or a stop is requested.
    virtual bool ShowPendingErrors();

    size_t GetPendingCount();

protected:
    std::vector<CException> pendingErrors;
    CCriticalSectionWin32 pendingLock;
};

} // namespace Tav
