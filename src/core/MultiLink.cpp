#include "Core/MultiLink.h"

#include "Common/Exception.h"
#include "Core/ISink.h"
#include "Core/ISource.h"

#include <algorithm>
#include <new>

namespace Tav {

CMultiLink::~CMultiLink()
{
    if (attached)
        Detach();
    lock.Close();
}

void CMultiLink::EnsureLock()
{
    // Sinks may be managed before the link is attached.
    lock.Create();
}

void CMultiLink::Push(const CSmartPointer<IPacket>& packet)
{
    CRWLockShared guard(lock);
    for (const auto& [sink, inputPort] : sinks)
        sink->Push(inputPort, packet);
}

void CMultiLink::Attach(ISource* newSource, int newSourcePort)
{
    if (attached)
        Detach();
    lock.Create();
    source = newSource;
    sourcePort = newSourcePort;
    source->Connect(sourcePort, this);
    attached = true;
}

void CMultiLink::Detach()
{
    if (!attached)
        return;
    if (source) {
        source->Disconnect(sourcePort);
        source = nullptr;
    }
    RemoveAllSinks();
    lock.Close();
    attached = false;
}

void CMultiLink::AddSink(ISink* sink, int inputPort)
{
    RemoveSink(sink, inputPort);
    CRWLockExclusive guard(lock);
    try {
        sinks.emplace_back(sink, inputPort);
    } catch (const std::bad_alloc&) {
        throw CCommonException(0xCEF0000A, 83, "MultiLink.cpp");
    }
}

int CMultiLink::RemoveSink(ISink* sink, int inputPort)
{
    EnsureLock();
    CRWLockExclusive guard(lock);
    const std::pair<ISink*, int> pair(sink, inputPort);
    sinks.erase(std::remove(sinks.begin(), sinks.end(), pair), sinks.end());
    return static_cast<int>(sinks.size());
}

void CMultiLink::RemoveAllSinks()
{
    EnsureLock();
    CRWLockExclusive guard(lock);
    std::vector<std::pair<ISink*, int>>().swap(sinks);
}

int CMultiLink::GetSinkCount()
{
    EnsureLock();
    CRWLockShared guard(lock);
    return static_cast<int>(sinks.size());
}

} // namespace Tav
