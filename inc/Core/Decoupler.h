#pragma once

#include "Common/CriticalSectionWin32.h"
#include "Common/SignaledThreadBaseWin32.h"
#include "Core/ModuleBase.h"

#include <cstddef>
#include <list>

namespace Tav {

// Moves delivery from the producer's thread to a thread of its own. Takes
// packets on input port 1 and re-sends them on output port 1. Images and
// acquisition markers are queued, anything else is ignored; at most one
// unsent image (the newest) waits at the end of the queue, and a third
// marker arriving behind two unsent ones flushes the queue.
//
// The thread runs from Initialize to Deinitialize; Start and Stop only open
// and close the queue's input. Errors of consumers are reported on error
// port 0 and never reach the producer.
class CDecoupler : public CModuleBase, public CSignaledThreadBaseWin32 {
public:
    CDecoupler();
    ~CDecoupler() override;

    // Start and Stop mean the module's, not the thread's.
    using CConnectorBase::Start;
    using CConnectorBase::Stop;

    void OnInitialize() override;
    void OnDeinitialize() override;
    void OnStop() override;
    void OnData(int inputPort, const CSmartPointer<IPacket>& packet) override;

    int GetMaxSignals() override { return 2; }
    bool OnSignal(int key) override;

    // Producer side. True when the packet was queued; false when it was
    // dropped (module stopped, neither image nor marker, or a failure, which
    // is reported). Never throws.
    virtual bool Enqueue(const CSmartPointer<IPacket>& packet);
    // Sends the oldest queued packet; always true so the loop goes on.
    virtual bool SendNext();

    // Packets waiting, not counting one being sent.
    size_t GetQueueLength();

protected:
    struct QueuedPacket {
        CSmartPointer<IPacket> packet;
        bool isImage = false;
        bool isMarker = false;
    };

    // Kinds are found once, when the packet is queued.
    std::list<QueuedPacket> queue;
    CCriticalSectionWin32 queueLock;
    int markerCount = 0;

private:
    void DiscardQueue();
};

} // namespace Tav
