#include "FpsViewer.h"

#include "DataBuffer/Guid.h"
#include "DataBuffer/IEnumChunks.h"

using namespace Tav;

CFpsViewer::CFpsViewer() = default;

CFpsViewer::~CFpsViewer()
{
    try {
        if (IsInitialized())
            Deinitialize();
    } catch (...) {
    }
}

void CFpsViewer::OnInitialize()
{
    CModuleBase::OnInitialize();
    SetErrorPort(0);
    SetAuxiliaryPort(-1);
}

void CFpsViewer::OnData(int inputPort, const CSmartPointer<IPacket>& packet)
{
    if (inputPort != 1) {
        CModuleBase::OnData(inputPort, packet);
        return;
    }
    ProcessPacket(packet);
}

void CFpsViewer::ProcessPacket(const CSmartPointer<IPacket>& packet)
{
    if (!packet)
        return;
    CSmartPointer<IEnumChunkBuffers> buffers;
    packet->EnumChunkBuffers(buffers);
    CSmartPointer<IChunkBuffer> buffer;
    while (buffers->Next(buffer)) {
        CSmartPointer<IEnumChunks> chunks;
        buffer->EnumChunks(chunks);
        CChunkPtr<CChunk> chunk;
        while (chunks->Next(chunk))
            if (chunk.IsType(GUID_ImageChunk))
                dialog.CountFrame();
    }
}

void CFpsViewer::Show()
{
    dialog.setAttribute(Qt::WA_ShowWithoutActivating, true);
    dialog.show();
    dialog.setAttribute(Qt::WA_ShowWithoutActivating, false);
    dialog.raise();
    dialog.activateWindow();
}

void CFpsViewer::Hide()
{
    dialog.hide();
}

bool CFpsViewer::IsVisible() const
{
    return dialog.isVisible();
}

bool CFpsViewer::PreTranslateMessage(QObject* receiver, QEvent* event)
{
    return dialog.PreTranslateMessage(receiver, event);
}
