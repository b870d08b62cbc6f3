#pragma once

#include "Common/RWLock.h"
#include "Core/IModule.h"
#include "Core/ISink.h"
#include "Core/ISource.h"

#include <atomic>
#include <map>

namespace Tav {

class ILinkSink;

// The port side of a module: declared output ports with the links attached
// to them, the input side, and the start/stop state.
//
// Locks: portLock is shared while sending, exclusive while ports or links
// change; sinkLock is shared while a packet is delivered into the module,
// exclusive while it starts or stops, so Stop waits for deliveries in
// progress and holds off new ones.
class CConnectorBase : public ISink, public ISource, public IModule {
public:
    CConnectorBase() = default;
    CConnectorBase(const CConnectorBase&) = delete;
    CConnectorBase& operator=(const CConnectorBase&) = delete;

    // ISink: delivers into OnData under sinkLock (shared).
    void Push(int inputPort, const CSmartPointer<IPacket>& packet) override;
    ~CConnectorBase() override;

    virtual void Create();
    virtual void Destroy();
    virtual void OnStart() {}
    virtual void OnStop() {}
    virtual void AddOutputPort(int port);
    // Synchronous: returns when every receiver behind the port has returned.
    virtual void Send(int outputPort, const CSmartPointer<IPacket>& packet);
    virtual void OnData(int inputPort, const CSmartPointer<IPacket>& packet) = 0;
    virtual const char* GetModuleName() const = 0;

    // ISource
    void Connect(int outputPort, ILinkSink* link) override;
    void Disconnect(int outputPort) override;

    // IModule
    void Start() override;
    void Stop() override;

    bool IsConnected(int outputPort);
    bool IsCreated() const { return created.load(std::memory_order_acquire); }
    bool IsStarted() const { return started.load(std::memory_order_acquire); }

protected:
    std::atomic<bool> created{false};
    std::atomic<bool> started{false};
    std::map<int, ILinkSink*> outputPorts;
    CRWLock portLock;
    CRWLock sinkLock;
};

} // namespace Tav
