#pragma once

#include "Core/IIdleHandler.h"
#include "Core/IMessageFilter.h"
#include "Core/IViewer.h"
#include "Core/ModuleBase.h"

#include <memory>

namespace Tav {

class CFrameWnd;

// Shows the images arriving on input port 1 in a window of its own.
// Packets are shown only while the module is started. The window exists
// from initialisation to deinitialisation (created on the GUI thread);
// closing it only hides it.
class CImageViewer : public CModuleBase, public IViewer, public IIdleHandler, public IMessageFilter {
public:
    CImageViewer();
    ~CImageViewer() override;

    void OnInitialize() override;
    void OnDeinitialize() override;
    void OnData(int inputPort, const CSmartPointer<IPacket>& packet) override;
    void OnStart() override;
    void OnStop() override;
    // Lets a delivery that waits for the window's paint go before stopping.
    void Stop() override;

    virtual void ProcessPacket(const CSmartPointer<IPacket>& packet);

    // IViewer
    void Show() override;
    void Hide() override;
    bool IsVisible() const override;

    bool OnIdle() override;
    bool PreTranslateMessage(QObject* receiver, QEvent* event) override;

    // Null before initialisation.
    CFrameWnd* GetFrame() const { return frame.get(); }

private:
    std::unique_ptr<CFrameWnd> frame;
};

} // namespace Tav
