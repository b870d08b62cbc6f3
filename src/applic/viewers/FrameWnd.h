#pragma once

#include "ChildWnd.h"

#include "Common/CriticalSectionWin32.h"
#include "Core/IIdleHandler.h"
#include "DataBuffer/IPacket.h"
#include "DataBuffer/SmartPointer.h"

#include <QMainWindow>

#include <map>
#include <string>

class QAction;
class QLabel;

namespace Tav {

class CImageViewer;

// The image viewer's top-level window: menus, toolbar, status bar and the
// image window. Takes packets from the module's delivering thread.
class CFrameWnd : public QMainWindow, public IIdleHandler {
    Q_OBJECT

public:
    enum Command : int {
        CmdClose = 2001,
        CmdZoom25 = 2002,
        CmdZoom50 = 2003,
        CmdZoom100 = 2004,
        CmdZoom200 = 2005,
        CmdZoom400 = 2006,
        CmdBestFit = 2007,
        CmdSave = 2008,
        CmdCopy = 2009,
    };
    enum Pane : int {
        PaneImageSize = 2101,
        PaneCursorPos = 2102,
        PanePixelValue = 2103,
        PaneDefault = 0,
        PaneFrameRate = 2105,
        PaneCounters = 2106,
    };

    // `module` names the settings key; its window is created hidden at
    // `rect` (left, top, right, bottom) unless a stored placement exists.
    CFrameWnd(CImageViewer& module, const QRect& rect);
    // Stores the placement.
    ~CFrameWnd() override;

    // On the delivering thread: images to the image window, frame counters
    // and cycle times to the counter pane.
    void ProcessPacket(const CSmartPointer<IPacket>& packet);

    // Triggers a command's action when `event` is one of the accelerators
    // and goes to this window; true when consumed.
    bool PreTranslateMessage(QObject* receiver, QEvent* event);
    // Updates the command states.
    bool OnIdle() override;

    CChildWnd& ImageWindow() { return *imageWindow; }
    QAction* Action(int command) const;
    QString PaneText(int pane) const;
    std::string GetInfoText() const;
    std::string KeyPath() const { return keyPath; }

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void CreateMenus();
    void CreateStatusBar();
    QAction* AddCommand(int command, const QString& text, const QKeySequence& accelerator);
    void OnCommand(int command);
    void SetPane(int pane, const QString& text);
    void UpdateDisplayed();

    CImageViewer& module;
    std::string keyPath;
    mutable CCriticalSectionWin32 lock;
    std::string infoText;
    CChildWnd* imageWindow;
    std::map<int, QAction*> actions;
    std::map<int, QLabel*> panes;
};

} // namespace Tav
