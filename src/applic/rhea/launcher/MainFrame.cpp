#include "MainFrame.h"

#include "AboutDlg.h"
#include "LauncherView.h"
#include "Accelerators.h"
#include "SettingsKey.h"
#include "StartUp.h"

#include "Common/StaticErrorView.h"
#include "Core/IComponent.h"
#include "Core/IMessageLoop.h"
#include "Core/IViewer.h"
#include "Platform/MessageBox.h"
#include "Platform/ProcessInfo.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QMenu>
#include <QMenuBar>
#include <QThread>
#include <QUrl>

#include <cstdio>
#include <sys/stat.h>

namespace Tav {

namespace {

struct ViewerItem {
    int id;
    const char* name;
    bool visibleByDefault;
};

// Registration order.
constexpr ViewerItem viewerTable[] = {
    {CMainFrame::IdImageViewer, "ImageViewer", true},
    {CMainFrame::IdConfigurator, "Configurator", true},
    {CMainFrame::IdFpsViewer, "FpsViewer", true},
};

bool IsFile(const std::string& path)
{
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

} // namespace

CMainFrame::CMainFrame() : openUrl([](const QUrl& url) { return QDesktopServices::openUrl(url); })
{
    setObjectName("mainFrame");
}

CMainFrame::CMainFrame(const CCommandLine& commandLine, CLauncher::ConfiguratorCreator createConfigurator)
    : openUrl([](const QUrl& url) { return QDesktopServices::openUrl(url); }),
      launcher(commandLine, std::move(createConfigurator))
{
    setObjectName("mainFrame");
}

CMainFrame::~CMainFrame()
{
    Destroy();
    Unregister();
}

bool CMainFrame::Create()
{
    // Once: a failed attempt leaves a window that must not be shown.
    if (created || view)
        return created;
    setWindowTitle(Title);
    setGeometry(QRect(0, 0, 271, 112));
    CreateMenus();
    view = new CLauncherView(launcher, this);
    setCentralWidget(view);
    if (IMessageLoop* loop = GetMessageLoop()) {
        loop->AddMessageFilter(this);
        loop->AddIdleHandler(this);
        loop->AddIdleHandler(view);
    }
    if (!launcher.Initialize()) {
        Unregister();
        return false;
    }
    RestoreWindowPlacement(*this, PlacementKey);
    for (const ViewerItem& item : viewerTable) {
        if (!RegisterViewer(item.id, item.name, item.visibleByDefault)) {
            Unregister();
            return false;
        }
    }
    created = true;
    raise();
    activateWindow();
    return true;
}

void CMainFrame::Unregister()
{
    IMessageLoop* loop = GetMessageLoop();
    if (!loop)
        return;
    loop->RemoveMessageFilter(this);
    loop->RemoveIdleHandler(this);
    if (view)
        loop->RemoveIdleHandler(view);
    for (const auto& [id, entry] : viewers) {
        if (auto* handler = dynamic_cast<IIdleHandler*>(entry.viewer))
            loop->RemoveIdleHandler(handler);
        if (auto* filter = dynamic_cast<IMessageFilter*>(entry.viewer))
            loop->RemoveMessageFilter(filter);
    }
}

QAction* CMainFrame::AddCommand(QMenu* menu, int id, const QString& text)
{
    auto* action = new QAction(text, this);
    action->setData(id);
    connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
    menu->addAction(action);
    actions[id] = action;
    return action;
}

void CMainFrame::CreateMenus()
{
    QMenu* file = menuBar()->addMenu("&File");
    file->setObjectName("menuFile");
    AddCommand(file, IdAppExit, "E&xit")->setObjectName("actionExit");

    QMenu* viewMenu = menuBar()->addMenu("&View");
    viewMenu->setObjectName("menuView");
    AddCommand(viewMenu, IdConfigurator, "&Configurator")->setObjectName("actionConfigurator");
    AddCommand(viewMenu, IdImageViewer, "&Image Viewer")->setObjectName("actionImageViewer");
    AddCommand(viewMenu, IdFpsViewer, "&FPS Viewer")->setObjectName("actionFpsViewer");
    for (int id : {IdConfigurator, IdImageViewer, IdFpsViewer})
        actions[id]->setCheckable(true);
    // The check marks also follow when no idle pass ran since the last change.
    connect(viewMenu, &QMenu::aboutToShow, this, [this] { OnIdle(); });

    QMenu* help = menuBar()->addMenu("&Help");
    help->setObjectName("menuHelp");
    QAction* topics = AddCommand(help, IdHelpFinder, "&Help Topics\tF1");
    topics->setObjectName("actionHelp");
    topics->setShortcut(QKeySequence(Qt::Key_F1));
    topics->setShortcutContext(Qt::WindowShortcut);
    addAction(topics);
    help->addSeparator();
    AddCommand(help, IdAppAbout, "&About Launcher...")->setObjectName("actionAbout");
}

QAction* CMainFrame::Action(int id) const
{
    auto it = actions.find(id);
    return it == actions.end() ? nullptr : it->second;
}

IViewer* CMainFrame::GetViewer(int id) const
{
    auto it = viewers.find(id);
    return it == viewers.end() ? nullptr : it->second.viewer;
}

bool CMainFrame::RegisterViewer(int id, const char* name, bool visibleByDefault)
{
    bool visible = visibleByDefault;
    if (auto stored = CSettingsKey(ComponentKeyPath(name)).ReadDword("isVisible"))
        visible = *stored != 0;
    if (viewers.count(id)) {
        CStaticErrorView::ShowErrorMessage("There is already a viewer associated with the menu ID %d", id);
        return false;
    }
    IViewer* viewer = nullptr;
    try {
        viewer = dynamic_cast<IViewer*>(launcher.GetFactory().GetObject(name));
    } catch (const CException& e) {
        CStaticErrorView::ShowError(e);
        return false;
    }
    if (!viewer) {
        CStaticErrorView::ShowErrorMessage("The component '%s' is not a valid viewer", name);
        return false;
    }
    viewers[id] = ViewerEntry{viewer, name};
    if (visible) {
        try {
            viewer->Show();
        } catch (const CException& e) {
            viewers.erase(id);
            CStaticErrorView::ShowError(e);
            return false;
        }
    }
    if (QAction* action = Action(id))
        action->setChecked(visible);
    if (IMessageLoop* loop = GetMessageLoop()) {
        if (auto* handler = dynamic_cast<IIdleHandler*>(viewer))
            loop->AddIdleHandler(handler);
        if (auto* filter = dynamic_cast<IMessageFilter*>(viewer))
            loop->AddMessageFilter(filter);
    }
    return true;
}

void CMainFrame::ToggleViewer(int id)
{
    IViewer* viewer = GetViewer(id);
    if (!viewer)
        return;
    if (viewer->IsVisible())
        viewer->Hide();
    else
        viewer->Show();
    if (QAction* action = Action(id))
        action->setChecked(viewer->IsVisible());
}

void CMainFrame::OnCommand(int id)
{
    try {
        Execute(id);
    } catch (const CException& e) {
        // A viewer that cannot be shown, say; the window stays as it is.
        CStaticErrorView::ShowError(e);
    }
    // Triggering a checkable item flips its mark: it follows the viewer.
    auto it = viewers.find(id);
    if (it != viewers.end())
        if (QAction* action = Action(id))
            action->setChecked(it->second.viewer->IsVisible());
}

void CMainFrame::Execute(int id)
{
    switch (id) {
    case IdAppExit:
        // As a posted close: the menu finishes before the window goes.
        QMetaObject::invokeMethod(this, [this] { close(); }, Qt::QueuedConnection);
        return;
    case IdAppAbout:
        ShowAbout();
        return;
    case IdHelpFinder:
        OpenHelp();
        return;
    default:
        ToggleViewer(id);
        return;
    }
}

void CMainFrame::ShowAbout()
{
    QWidget* owner = QApplication::activeWindow();
    CAboutDlg about(owner ? owner : this);
    about.exec();
}

std::string CMainFrame::FindHelpFile(const std::string& executableDirectory)
{
    for (const std::string& path : {executableDirectory + "/" + HelpFileName,
                                    executableDirectory + "/../share/tav/" + HelpFileName})
        if (IsFile(path))
            return path;
    return std::string();
}

void CMainFrame::OpenHelp()
{
    const std::string path = FindHelpFile(Platform::ExecutableDirectory());
    if (!path.empty() && openUrl && openUrl(QUrl::fromLocalFile(QString::fromStdString(path))))
        return;
    char text[256];
    std::snprintf(text, sizeof text, "Cannot find help file '%s'", HelpFileName);
    Platform::MessageBoxRequest request;
    request.text = text;
    request.caption = "Error";
    request.icon = Platform::MessageBoxIcon::Warning;
    Platform::ShowMessageBox(request);
}

bool CMainFrame::PreTranslateMessage(QObject* receiver, QEvent* event)
{
    return TranslateAccelerator(*this, receiver, event, actions);
}

void CMainFrame::RequestClose()
{
    closePending = !close() && launcher.IsDisconnecting();
}

bool CMainFrame::OnIdle()
{
    if (closePending && !launcher.IsDisconnecting()) {
        closePending = false;
        close();
    }
    for (const auto& [id, entry] : viewers)
        if (QAction* action = Action(id))
            action->setChecked(entry.viewer->IsVisible());
    return false;
}

void CMainFrame::closeEvent(QCloseEvent* event)
{
    // The disconnector still works on the graph; the window must stay.
    if (launcher.IsDisconnecting()) {
        event->ignore();
        return;
    }
    Destroy();
    event->accept();
}

void CMainFrame::Destroy()
{
    if (!created || destroyed)
        return;
    destroyed = true;
    for (const auto& [id, entry] : viewers) {
        CSettingsKey key(ComponentKeyPath(entry.name));
        key.WriteDword("isVisible", entry.viewer->IsVisible() ? 1 : 0);
    }
    StoreWindowPlacement(*this, PlacementKey);
    if (launcher.IsConnected())
        launcher.Disconnect();
    // Outside a running loop an exit request would end the next modal
    // dialog's loop instead.
    if (QThread::currentThread()->loopLevel() > 0)
        QCoreApplication::exit(ExitCodeNormalClose);
}

} // namespace Tav
