#pragma once

#include "FpsViewerDlg.h"

#include "Core/IMessageFilter.h"
#include "Core/IViewer.h"
#include "Core/ModuleBase.h"

// Shows how many images per second arrive on input port 1, whether the
// module is started or not. Has no data output. Its window exists from
// construction (on the GUI thread) to destruction.
class CFpsViewer : public Tav::CModuleBase, public Tav::IViewer, public Tav::IMessageFilter {
public:
    CFpsViewer();
    ~CFpsViewer() override;

    void OnInitialize() override;
    void OnData(int inputPort, const Tav::CSmartPointer<Tav::IPacket>& packet) override;
    // Counts one frame per image chunk; on the delivering thread.
    virtual void ProcessPacket(const Tav::CSmartPointer<Tav::IPacket>& packet);

    // IViewer
    void Show() override;
    void Hide() override;
    bool IsVisible() const override;

    bool PreTranslateMessage(QObject* receiver, QEvent* event) override;

    CFpsViewerDlg& GetDialog() { return dialog; }

private:
    CFpsViewerDlg dialog;
};
