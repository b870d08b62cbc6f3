#pragma once

#include "Common/CriticalSectionWin32.h"
#include "Common/SignaledThreadBaseWin32.h"
#include "Core/IRegisterSet.h"
#include "Core/ModuleBase.h"

#include <cstddef>
#include <list>
#include <string>

namespace Tav {

// Sits in front of the image statistics: moves packets from the camera's
// thread onto its own, keeps at most one pending image (the newest), passes
// acquisition markers on reliably, and can freeze the analysed image or
// replace it by an 8-bit grey bitmap file; the frozen image can be saved as
// a bitmap file.
//
// Ports: input 1 packets, input 2 register requests; output 0 errors,
// 1 packets for the statistics, 3 refresh packets (one before every
// forwarded packet, and after a load).
//
// Registers (4 bytes each): 0 status (R; bit 0 always, bit 1 run on and
// freezing, bit 2 a Mono8 image is stored), 1 source mode (RW; 1 capture,
// 2 freeze), 2 load a bitmap file (W), 3 save the stored image (W). The
// load and save commands run on the writing thread; their file dialogs and
// boxes on the GUI thread.
class CStatisticsDecoupler : public CModuleBase, public CSignaledThreadBaseWin32, public IRegisterSet {
public:
    enum : uint32_t {
        RegisterStatus = 0,
        RegisterSourceMode = 1,
        RegisterLoad = 2,
        RegisterSave = 3,
    };
    enum : int {
        SourceCapture = 1,
        SourceFreeze = 2,
    };
    enum : uint32_t {
        StatusAlways = 1,
        StatusFrozenRun = 2,
        StatusMono8Stored = 4,
    };

    CStatisticsDecoupler();
    ~CStatisticsDecoupler() override;

    // Start and Stop mean the module's, not the thread's.
    using CConnectorBase::Start;
    using CConnectorBase::Stop;

    void OnInitialize() override;
    void OnDeinitialize() override;
    void OnStop() override;
    void OnData(int inputPort, const CSmartPointer<IPacket>& packet) override;

    int GetMaxSignals() override { return 2; }
    bool OnSignal(int key) override;

    // Producer side (input port 1). True when the packet was queued; false
    // when dropped (module stopped, neither image nor marker, or a reported
    // failure). Never throws.
    virtual bool Enqueue(const CSmartPointer<IPacket>& packet);
    // Own thread: forwards the oldest queued packet, or the stored one in
    // freeze mode. Always true so the loop goes on.
    virtual bool SendNext();

    // IRegisterSet
    void Read(uint64_t address, void* buffer, uint32_t length) override;
    void Write(uint64_t address, const void* buffer, uint32_t length) override;

    // The commands of registers 2 and 3.
    void LoadStoredImage();
    void SaveStoredImage();

    // Packets waiting, not counting one being sent.
    size_t GetQueueLength();
    CSmartPointer<IPacket> GetStoredPacket();
    int GetRunMode();
    int GetSourceMode();

protected:
    struct QueuedPacket {
        CSmartPointer<IPacket> packet;
        bool isImage = false;
        bool isMarker = false;
    };

    // Kinds are found once, when the packet is queued.
    std::list<QueuedPacket> queue;
    // Guards the queue, the stored packet and the modes; never held while
    // sending or while a dialog or box is open.
    CCriticalSectionWin32 queueLock;
    int markerCount = 0;
    CSmartPointer<IPacket> stored;
    int runMode = 0;
    int sourceMode = SourceCapture;
    const bool notify = true;

private:
    void SendRefresh();
    void SetSourceMode(int mode);
    void DiscardQueue();
};

} // namespace Tav
