#include "Core/ErrorView.h"

#include "Core/ErrorChunk.h"
#include "DataBuffer/Guid.h"

namespace Tav {

namespace {

// An error rebuilt from an error chunk: its description travelled with it.
class CReceivedError : public CException {
public:
    CReceivedError(const CErrorChunkContent& content)
        : CException(content.code, static_cast<int>(content.line), content.file.c_str(), content.description)
    {
    }
};

} // namespace

CErrorView::CErrorView() = default;

CErrorView::~CErrorView()
{
    // The thread calls back into this object; end it before the members go.
    RequestStop();
    if (!Join(GetStopTimeout()))
        Terminate();
    WaitForAbandonedThreads();
}

void CErrorView::OnInitialize()
{
    if (IsInitialized())
        OnDeinitialize();
    CModuleBase::OnInitialize();
    SetAuxiliaryPort(-1);
    AddOutputPort(1);
    pendingLock.Create();
    CreateThreadResources();
    AddSignal(1);
    StartThread();
    WaitUntilStarted(-1);
}

void CErrorView::OnDeinitialize()
{
    CThreadBase::Stop();
    CloseThreadResources();
    if (pendingLock.IsCreated()) {
        CCriticalSectionLock guard(pendingLock);
        pendingErrors.clear();
    }
    pendingLock.Delete();
    CModuleBase::OnDeinitialize();
}

void CErrorView::OnData(int inputPort, const CSmartPointer<IPacket>& packet)
{
    if (inputPort != 1) {
        CModuleBase::OnData(inputPort, packet); // rejects the port
        return;
    }
    OnErrorPacket(packet);
}

bool CErrorView::OnSignal(int key)
{
    switch (key) {
    case -1:
        return OnStopSignal();
    case 1:
        return ShowPendingErrors();
    default:
        throw CCommonException(0xCEF00000, 77, "ErrorView.cpp");
    }
}

void CErrorView::OnErrorPacket(const CSmartPointer<IPacket>& packet)
{
    if (!packet)
        return;
    CSmartPointer<IEnumChunks> chunks;
    packet->EnumChunks(chunks, GUID_ErrorChunk);
    if (!chunks)
        return;
    CChunkPtr<CChunk> chunk;
    while (chunks->Next(chunk)) {
        CReceivedError error(ReadErrorChunk(chunk));
        {
            CCriticalSectionLock guard(pendingLock);
            pendingErrors.push_back(error);
        }
        SetSignal(1);
    }
}

bool CErrorView::ShowPendingErrors()
{
    while (!IsStopRequested()) {
        CException next;
        {
            CCriticalSectionLock guard(pendingLock);
            if (pendingErrors.empty())
                return true;
            next = pendingErrors.front();
            pendingErrors.erase(pendingErrors.begin());
        }
        // The lock is free while the box is open, so errors keep queueing.
        // A box that cannot be shown must not end the viewer's thread; there
        // is nowhere left to report it.
        try {
            ShowError(next);
        } catch (...) {
        }
    }
    return true;
}

size_t CErrorView::GetPendingCount()
{
    CCriticalSectionLock guard(pendingLock);
    return pendingErrors.size();
}

} // namespace Tav
