#pragma once

#include "Launcher.h"

#include "Core/IIdleHandler.h"
#include "Core/IMessageFilter.h"

#include <QMainWindow>

#include <functional>
#include <map>
#include <string>

class QAction;
class QUrl;

namespace Tav {

class CLauncherView;
class IViewer;

// The launcher's main window: the launcher view, the File, View and Help
// menus, and the viewers of the graph bound to the View menu. Owns the
// CLauncher. Remembers its placement and which viewers were visible.
class CMainFrame : public QMainWindow, public IMessageFilter, public IIdleHandler {
public:
    enum CommandId : int {
        IdImageViewer = 201,
        IdConfigurator = 202,
        IdFpsViewer = 203,
        IdAppAbout = 57664,
        IdAppExit = 57665,
        IdHelpFinder = 57670,
    };

    static constexpr const char* Title = "Launcher";
    static constexpr const char* HelpFileName = "Launcher_Help.html";
    static constexpr const char* PlacementKey = "Software\\Quarlo\\Tav\\Launcher";

    // The launcher reads this process's command line.
    CMainFrame();
    CMainFrame(const CCommandLine& commandLine, CLauncher::ConfiguratorCreator createConfigurator);
    ~CMainFrame() override;

    // Builds the window, starts the launcher, restores the placement and
    // registers the viewers. False after the reason was shown: the window
    // must not be shown then.
    bool Create();
    // What closing does: stores the viewers' visibility and the placement,
    // disconnects and ends the event loop with 1. Runs once.
    void Destroy();

    // Closes the window as File > Exit does; while a disconnect runs, as
    // soon as it is over.
    void RequestClose();

    void ToggleViewer(int id);
    void ShowAbout();
    // Opens the help page, or says that it cannot be found.
    void OpenHelp();

    bool PreTranslateMessage(QObject* receiver, QEvent* event) override;
    bool OnIdle() override;

    CLauncher& GetLauncher() { return launcher; }
    CLauncherView* GetView() const { return view; }
    QAction* Action(int id) const;
    IViewer* GetViewer(int id) const;

    // The help page in `executableDirectory`, else in the installed data
    // folder beside it; empty when neither exists.
    static std::string FindHelpFile(const std::string& executableDirectory);

    // Opens the help page; QDesktopServices by default.
    std::function<bool(const QUrl&)> openUrl;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    struct ViewerEntry {
        IViewer* viewer;
        std::string name;
    };

    void CreateMenus();
    QAction* AddCommand(QMenu* menu, int id, const QString& text);
    bool RegisterViewer(int id, const char* name, bool visibleByDefault);
    void OnCommand(int id);
    void Execute(int id);
    void Unregister();

    CLauncher launcher;
    CLauncherView* view = nullptr;
    std::map<int, ViewerEntry> viewers;
    std::map<int, QAction*> actions;
    bool created = false;
    bool destroyed = false;
    bool closePending = false;
};

} // namespace Tav
