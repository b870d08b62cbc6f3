#include "Core/ConnectorBase.h"

#include "Common/Exception.h"
#include "Core/ILinkSink.h"

namespace Tav {

CConnectorBase::~CConnectorBase()
{
    portLock.Close();
    sinkLock.Close();
}

void CConnectorBase::Push(int inputPort, const CSmartPointer<IPacket>& packet)
{
    // The locks exist only while the connector is created.
    if (!IsCreated())
        throw CCommonException(0xCEF00000, __LINE__, "ConnectorBase.cpp");
    CRWLockShared guard(sinkLock);
    OnData(inputPort, packet);
}

void CConnectorBase::Create()
{
    if (IsCreated())
        Destroy();
    portLock.Create();
    sinkLock.Create();
    created.store(true, std::memory_order_release);
}

void CConnectorBase::Destroy()
{
    if (IsStarted())
        Stop();
    if (portLock.IsCreated()) {
        CRWLockExclusive guard(portLock);
        outputPorts.clear();
    }
    portLock.Close();
    sinkLock.Close();
    created.store(false, std::memory_order_release);
}

void CConnectorBase::AddOutputPort(int port)
{
    if (!IsCreated())
        throw CCommonException(0xCEF00000, __LINE__, "ConnectorBase.cpp");
    CRWLockExclusive guard(portLock);
    if (outputPorts.count(port))
        throw CCoreException(0xCEF10100, __LINE__, "ConnectorBase.cpp", GetModuleName(), port);
    outputPorts.emplace(port, nullptr);
}

void CConnectorBase::Send(int outputPort, const CSmartPointer<IPacket>& packet)
{
    if (!IsCreated())
        throw CCommonException(0xCEF00000, __LINE__, "ConnectorBase.cpp");
    CRWLockShared guard(portLock);
    auto it = outputPorts.find(outputPort);
    if (it == outputPorts.end())
        throw CCommonException(0xCEF00000, __LINE__, "ConnectorBase.cpp");
    if (it->second)
        it->second->Push(packet);
}

void CConnectorBase::Connect(int outputPort, ILinkSink* link)
{
    if (!IsCreated())
        throw CCoreException(0xCEF10102, __LINE__, "ConnectorBase.cpp", GetModuleName(), outputPort);
    CRWLockExclusive guard(portLock);
    auto it = outputPorts.find(outputPort);
    if (it == outputPorts.end())
        throw CCoreException(0xCEF10102, __LINE__, "ConnectorBase.cpp", GetModuleName(), outputPort);
    if (it->second)
        throw CCoreException(0xCEF10101, __LINE__, "ConnectorBase.cpp", GetModuleName(), outputPort);
    it->second = link;
}

void CConnectorBase::Disconnect(int outputPort)
{
    if (!IsCreated())
        return;
    CRWLockExclusive guard(portLock);
    if (auto it = outputPorts.find(outputPort); it != outputPorts.end())
        it->second = nullptr;
}

bool CConnectorBase::IsConnected(int outputPort)
{
    if (!IsCreated())
        return false;
    CRWLockShared guard(portLock);
    auto it = outputPorts.find(outputPort);
    return it != outputPorts.end() && it->second != nullptr;
}

void CConnectorBase::Start()
{
    if (!IsCreated())
        throw CCommonException(0xCEF00000, __LINE__, "ConnectorBase.cpp");
    CRWLockExclusive guard(sinkLock);
    if (!IsStarted()) {
        OnStart();
        started.store(true, std::memory_order_release);
    }
}

void CConnectorBase::Stop()
{
    if (!IsCreated())
        return;
    CRWLockExclusive guard(sinkLock);
    if (IsStarted()) {
        OnStop();
        started.store(false, std::memory_order_release);
    }
}

} // namespace Tav
