#include "Core/Decoupler.h"

#include "DataBuffer/Guid.h"

namespace Tav {

CDecoupler::CDecoupler() = default;

CDecoupler::~CDecoupler()
{
    // The thread calls back into this object; it must end while the object
    // is still whole, not in the base destructors.
    RequestStop();
    if (!Join(GetStopTimeout()))
        Terminate();
    WaitForAbandonedThreads();
    DiscardQueue();
}

void CDecoupler::OnInitialize()
{
    CModuleBase::OnInitialize();
    CreateThreadResources();
    SetErrorPort(0);
    SetAuxiliaryPort(-1);
    AddOutputPort(1);
    AddSignal(1);
    StartThread();
    WaitUntilStarted(-1);
}

void CDecoupler::OnDeinitialize()
{
    if (IsStarted()) {
        try {
            CConnectorBase::Stop();
        } catch (const CException& error) {
            ReportError(error);
        } catch (...) {
            ReportError(CCommonException(0xCEF00002, 70, "Decoupler.cpp"));
        }
    }
    try {
        RequestStop();
        // Packets left behind would never be sent; a thread that is still
        // sending keeps the queue until the destructor.
        if (Join(GetStopTimeout()))
            DiscardQueue();
    } catch (const CException& error) {
        ReportError(error);
    } catch (...) {
        ReportError(CCommonException(0xCEF00002, 84, "Decoupler.cpp"));
    }
    CModuleBase::OnDeinitialize();
}

void CDecoupler::OnStop()
{
    std::list<QueuedPacket> removed;
    CCriticalSectionLock guard(queueLock);
    if (!queue.empty() && queue.front().isImage && !queue.front().isMarker)
        removed.splice(removed.end(), queue, queue.begin());
}

void CDecoupler::OnData(int inputPort, const CSmartPointer<IPacket>& packet)
{
    if (inputPort != 1) {
        CModuleBase::OnData(inputPort, packet); // rejects the port
        return;
    }
    Enqueue(packet);
}

bool CDecoupler::OnSignal(int key)
{
    switch (key) {
    case -1:
        return OnStopSignal();
    case 1:
        return SendNext();
    default:
        throw CCommonException(0xCEF00000, 96, "Decoupler.cpp");
    }
}

bool CDecoupler::Enqueue(const CSmartPointer<IPacket>& packet)
{
    if (!IsStarted() || !packet)
        return false;
    try {
        // The chunk walks happen before the lock is taken, so the producer
        // holds it only for the list operation.
        const bool isMarker = HasChunk(*packet, GUID_AcquisitionMarkerChunk);
        const bool isImage = HasChunk(*packet, GUID_ImageChunk);
        if (!isMarker && !isImage)
            return false;
        // Packets pushed out are released after the lock is left: the last
        // release may hand a memory block back to its device.
        std::list<QueuedPacket> removed;
        {
            CCriticalSectionLock guard(queueLock);
            if (isMarker) {
                if (markerCount >= 2) {
                    removed.splice(removed.end(), queue);
                    markerCount = 0;
                }
                queue.push_back({packet, isImage, true});
                ++markerCount;
            } else {
                // A marker is never replaced by an image: it would be lost
                // and markerCount would go wrong.
                if (!queue.empty() && queue.back().isImage && !queue.back().isMarker)
                    removed.splice(removed.end(), queue, std::prev(queue.end()));
                queue.push_back({packet, true, false});
            }
        }
        SetSignal(1);
        return true;
    } catch (const CException& error) {
        ReportError(error);
    } catch (...) {
        ReportError(CCommonException(0xCEF00000, 159, "Decoupler.cpp"));
    }
    return false;
}

bool CDecoupler::SendNext()
{
    try {
        QueuedPacket next;
        {
            CCriticalSectionLock guard(queueLock);
            if (queue.empty())
                return true;
            next = std::move(queue.front());
            queue.pop_front();
            if (next.isMarker)
                --markerCount;
        }
        Send(1, next.packet);
    } catch (const CException& error) {
        ReportError(error);
    } catch (...) {
        ReportError(CCommonException(0xCEF00000, 203, "Decoupler.cpp"));
    }
    // Also after a failed send: what is still queued must not wait for the
    // next producer.
    bool more;
    {
        CCriticalSectionLock guard(queueLock);
        more = !queue.empty();
    }
    if (more)
        SetSignal(1);
    return true;
}

size_t CDecoupler::GetQueueLength()
{
    CCriticalSectionLock guard(queueLock);
    return queue.size();
}

void CDecoupler::DiscardQueue()
{
    std::list<QueuedPacket> removed;
    CCriticalSectionLock guard(queueLock);
    removed.splice(removed.end(), queue);
    markerCount = 0;
}

} // namespace Tav
