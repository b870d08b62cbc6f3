#include "ImageViewer.h"

#include "FrameWnd.h"

#include <QRect>

namespace Tav {

CImageViewer::CImageViewer() = default;

CImageViewer::~CImageViewer()
{
    try {
        if (IsInitialized())
            Deinitialize();
    } catch (...) {
    }
}

void CImageViewer::OnInitialize()
{
    CModuleBase::OnInitialize();
    // Left 0, top 120, right 660, bottom 600; hidden until Show.
    frame = std::make_unique<CFrameWnd>(*this, QRect(0, 120, 660, 480));
    SetErrorPort(0);
    SetAuxiliaryPort(-1);
}

void CImageViewer::OnDeinitialize()
{
    // No delivery may be inside the window while it goes.
    Stop();
    frame.reset();
    CModuleBase::OnDeinitialize();
}

void CImageViewer::OnData(int inputPort, const CSmartPointer<IPacket>& packet)
{
    if (inputPort != 1) {
        CModuleBase::OnData(inputPort, packet);
        return;
    }
    ProcessPacket(packet);
}

void CImageViewer::ProcessPacket(const CSmartPointer<IPacket>& packet)
{
    if (!IsStarted() || !frame || !packet)
        return;
    frame->ProcessPacket(packet);
}

void CImageViewer::OnStart()
{
    if (frame)
        frame->ImageWindow().ReleasePaintWaiters(false);
}

void CImageViewer::OnStop()
{
    if (frame)
        frame->ImageWindow().ForgetChunks();
}

void CImageViewer::Stop()
{
    if (frame)
        frame->ImageWindow().ReleasePaintWaiters(true);
    CModuleBase::Stop();
}

void CImageViewer::Show()
{
    if (!frame)
        return;
    frame->setAttribute(Qt::WA_ShowWithoutActivating, true);
    frame->show();
    frame->setAttribute(Qt::WA_ShowWithoutActivating, false);
    frame->raise();
    frame->activateWindow();
}

void CImageViewer::Hide()
{
    if (frame)
        frame->hide();
}

bool CImageViewer::IsVisible() const
{
    return frame && frame->isVisible();
}

bool CImageViewer::OnIdle()
{
    return frame ? frame->OnIdle() : false;
}

bool CImageViewer::PreTranslateMessage(QObject* receiver, QEvent* event)
{
    return frame ? frame->PreTranslateMessage(receiver, event) : false;
}

} // namespace Tav
