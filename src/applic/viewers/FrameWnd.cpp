#include "FrameWnd.h"

#include "ImageViewer.h"
#include "Accelerators.h"
#include "SettingsKey.h"
#include "ViewerEvents.h"

#include "DataBuffer/IEnumChunks.h"
#include "DataBuffer/ValueChunk.h"

#include <QAction>
#include <QActionGroup>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QStyle>
#include <QToolBar>

#include <cmath>
#include <cstdio>

namespace Tav {

namespace {

struct ZoomItem {
    int command;
    const char* text;
    double factor;
};
constexpr ZoomItem zoomItems[] = {
    {CFrameWnd::CmdZoom25, "25 %", 0.25}, {CFrameWnd::CmdZoom50, "50 %", 0.5}, {CFrameWnd::CmdZoom100, "100 %", 1.0},
    {CFrameWnd::CmdZoom200, "200 %", 2.0}, {CFrameWnd::CmdZoom400, "400 %", 4.0},
};

// Panes left to right, each as wide as its sample text.
struct PaneItem {
    int pane;
    const char* sample;
    const char* name;
};
constexpr PaneItem paneItems[] = {
    {CFrameWnd::PaneImageSize, "1024x1204", "paneImageSize"},
    {CFrameWnd::PaneCursorPos, "(1024,1024)", "paneCursorPos"},
    {CFrameWnd::PanePixelValue, "[R:255,G:255,B:255]", "panePixelValue"},
    {CFrameWnd::PaneDefault, nullptr, "paneDefault"},
    {CFrameWnd::PaneCounters, "123:1234:1234 123456", "paneCounters"},
    {CFrameWnd::PaneFrameRate, "1000 fps", "paneFrameRate"},
};

QString Format(const char* format, int a, int b = 0, int c = 0)
{
    char text[64];
    std::snprintf(text, sizeof text, format, a, b, c);
    return QString::fromLatin1(text);
}

} // namespace

CFrameWnd::CFrameWnd(CImageViewer& module, const QRect& rect)
    : QMainWindow(nullptr), module(module), keyPath(ComponentKeyPath(module.GetName()))
{
    lock.Create();
    setObjectName("TavImageViewer");
    setWindowTitle("Image Viewer");
    setGeometry(rect);
    imageWindow = new CChildWnd(this, lock, this);
    setCentralWidget(imageWindow);
    CreateMenus();
    CreateStatusBar();
    RestoreWindowPlacement(*this, keyPath);
    OnIdle();
}

CFrameWnd::~CFrameWnd()
{
    StoreWindowPlacement(*this, keyPath);
    imageWindow->ReleasePaintWaiters(true);
}

QAction* CFrameWnd::AddCommand(int command, const QString& text, const QKeySequence& accelerator)
{
    auto* action = new QAction(text, this);
    action->setData(command);
    if (!accelerator.isEmpty()) {
        action->setShortcut(accelerator);
        action->setShortcutContext(Qt::WindowShortcut);
        addAction(action);
    }
    connect(action, &QAction::triggered, this, [this, command] { OnCommand(command); });
    actions[command] = action;
    return action;
}

void CFrameWnd::CreateMenus()
{
    QMenu* file = menuBar()->addMenu("&File");
    file->addAction(AddCommand(CmdSave, "Save Image...\tCtrl+S", QKeySequence("Ctrl+S")));
    file->addSeparator();
    file->addAction(AddCommand(CmdClose, "&Close", QKeySequence("Ctrl+X")));
    QMenu* edit = menuBar()->addMenu("&Edit");
    edit->addAction(AddCommand(CmdCopy, "&Copy\tCtrl + C", QKeySequence("Ctrl+C")));
    QMenu* view = menuBar()->addMenu("&View");
    QMenu* zoom = view->addMenu("Zoom");
    // The states also follow without a message loop that calls OnIdle.
    for (QMenu* menu : {file, edit, zoom})
        connect(menu, &QMenu::aboutToShow, this, [this] { OnIdle(); });
    for (const ZoomItem& item : zoomItems) {
        QAction* action = AddCommand(item.command, item.text, QKeySequence());
        action->setCheckable(true);
        zoom->addAction(action);
    }
    QAction* bestFit = AddCommand(CmdBestFit, "&Best fit", QKeySequence());
    bestFit->setCheckable(true);
    zoom->addAction(bestFit);

    QToolBar* tools = addToolBar("Standard");
    tools->setMovable(false);
    QAction* save = actions[CmdSave];
    save->setIcon(style()->standardIcon(QStyle::SP_DialogSaveButton));
    save->setStatusTip("Save the current image to file");
    save->setToolTip("Save to file");
    QAction* copy = actions[CmdCopy];
    copy->setIcon(style()->standardIcon(QStyle::SP_FileDialogDetailedView));
    copy->setStatusTip("Copy the image to the clipboard");
    copy->setToolTip("Copy to clipboard");
    bestFit->setIcon(style()->standardIcon(QStyle::SP_TitleBarMaxButton));
    bestFit->setToolTip("Best fit");
    tools->addAction(save);
    tools->addAction(copy);
    tools->addSeparator();
    tools->addAction(bestFit);
}

void CFrameWnd::CreateStatusBar()
{
    QStatusBar* bar = statusBar();
    const QFontMetrics metrics(bar->font());
    for (const PaneItem& item : paneItems) {
        auto* label = new QLabel(bar);
        label->setObjectName(item.name);
        if (item.sample) {
            label->setFixedWidth(metrics.horizontalAdvance(QString::fromLatin1(item.sample)) + 8);
            bar->addPermanentWidget(label, 0);
        } else {
            bar->addPermanentWidget(label, 1);
        }
        panes[item.pane] = label;
    }
}

QAction* CFrameWnd::Action(int command) const
{
    auto it = actions.find(command);
    return it == actions.end() ? nullptr : it->second;
}

QString CFrameWnd::PaneText(int pane) const
{
    auto it = panes.find(pane);
    return it == panes.end() ? QString() : it->second->text();
}

std::string CFrameWnd::GetInfoText() const
{
    CCriticalSectionLock guard(lock);
    return infoText;
}

void CFrameWnd::SetPane(int pane, const QString& text)
{
    if (QLabel* label = panes[pane])
        label->setText(text);
}

void CFrameWnd::OnCommand(int command)
{
    switch (command) {
    case CmdClose:
        hide();
        return;
    case CmdSave:
        imageWindow->Save();
        return;
    case CmdCopy:
        imageWindow->Copy();
        return;
    case CmdBestFit:
        imageWindow->BestFit();
        break;
    default:
        for (const ZoomItem& item : zoomItems)
            if (item.command == command)
                imageWindow->ZoomTo(item.factor);
        break;
    }
    OnIdle();
}

void CFrameWnd::ProcessPacket(const CSmartPointer<IPacket>& packet)
{
    CCriticalSectionLock guard(lock);
    bool first = true;
    bool recognised = false;
    CSmartPointer<IEnumChunkBuffers> buffers;
    packet->EnumChunkBuffers(buffers);
    CSmartPointer<IChunkBuffer> buffer;
    while (buffers->Next(buffer)) {
        CSmartPointer<IEnumChunks> chunks;
        buffer->EnumChunks(chunks);
        CChunkPtr<CChunk> chunk;
        while (chunks->Next(chunk)) {
            if (chunk.IsType(GUID_ImageChunk)) {
                if (!recognised) {
                    infoText.clear();
                    recognised = true;
                }
                imageWindow->SetImage(CChunkPtr<CImageChunk>(chunk), first);
                first = false;
                // The paint hand-over waits for the GUI thread, which takes
                // this lock to paint and copy: wait without it.
                lock.Leave();
                try {
                    imageWindow->DeliverPaint();
                } catch (...) {
                    lock.Enter();
                    throw;
                }
                lock.Enter();
            } else if (chunk.IsType(GUID_FrameCounterChunk)) {
                if (!recognised) {
                    infoText.clear();
                    recognised = true;
                }
                infoText += FormatFrameCounter(ReadChunkValue(chunk));
            } else if (chunk.IsType(GUID_CycleTimeChunk)) {
                if (!recognised) {
                    infoText.clear();
                    recognised = true;
                }
                infoText += FormatCycleTime(ReadChunkValue(chunk));
            }
        }
        if (recognised)
            QCoreApplication::postEvent(this, new CViewerEvent(MsgInfoText, 0, 0));
    }
}

bool CFrameWnd::PreTranslateMessage(QObject* receiver, QEvent* event)
{
    return TranslateAccelerator(*this, receiver, event, actions);
}

bool CFrameWnd::OnIdle()
{
    const bool hasBitmap = imageWindow->HasBitmap();
    const bool bestFit = imageWindow->IsBestFit();
    const double zoom = imageWindow->GetZoom();
    for (const ZoomItem& item : zoomItems) {
        QAction* action = actions[item.command];
        action->setChecked(std::fabs(zoom - item.factor) < 0.0001);
        action->setEnabled(hasBitmap);
    }
    actions[CmdBestFit]->setChecked(bestFit);
    actions[CmdBestFit]->setEnabled(hasBitmap && !bestFit);
    actions[CmdCopy]->setEnabled(hasBitmap);
    actions[CmdSave]->setEnabled(hasBitmap);
    return false;
}

bool CFrameWnd::event(QEvent* e)
{
    AcquireEvent(e);
    const int type = e->type();
    if (type != MsgInfoText && (type < MsgCursorPos || type > MsgPixelValue))
        return QMainWindow::event(e);
    auto* message = static_cast<CViewerEvent*>(e);
    const bool valid = message->wParam != 0;
    const intptr_t l = message->lParam;
    switch (type) {
    case MsgInfoText:
        SetPane(PaneCounters, QString::fromStdString(GetInfoText()));
        break;
    case MsgCursorPos:
        SetPane(PaneCursorPos, valid ? Format("(%d,%d)", int16_t(l & 0xFFFF), int16_t((l >> 16) & 0xFFFF)) : QString());
        break;
    case MsgImageSize:
        SetPane(PaneImageSize, valid ? Format("%dx%d", int(l & 0xFFFF), int((l >> 16) & 0xFFFF)) : QString());
        OnIdle(); // a first bitmap enables the picture commands
        break;
    case MsgFrameRate:
        SetPane(PaneFrameRate, valid ? Format("%d fps", int(l)) : QString());
        break;
    case MsgPixelValue:
        SetPane(PanePixelValue, valid ? Format("[R:%3d G:%3d B:%3d]", int((l >> 16) & 0xFF), int((l >> 8) & 0xFF),
                                               int(l & 0xFF))
                                      : QString());
        break;
    }
    return true;
}

void CFrameWnd::closeEvent(QCloseEvent* e)
{
    // Closing only hides the viewer; the module lives on.
    e->ignore();
    hide();
}

void CFrameWnd::UpdateDisplayed()
{
    imageWindow->SetDisplayed(isVisible() && !isMinimized());
}

void CFrameWnd::showEvent(QShowEvent* e)
{
    QMainWindow::showEvent(e);
    UpdateDisplayed();
}

void CFrameWnd::hideEvent(QHideEvent* e)
{
    QMainWindow::hideEvent(e);
    UpdateDisplayed();
}

void CFrameWnd::changeEvent(QEvent* e)
{
    QMainWindow::changeEvent(e);
    if (e->type() == QEvent::WindowStateChange)
        UpdateDisplayed();
}

} // namespace Tav
