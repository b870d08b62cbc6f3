#include "Run.h"

#include "LauncherMessageLoop.h"
#include "MainFrame.h"
#include "StartUp.h"
#include "UiProbe.h"

#include "Platform/QtMessageBoxHost.h"

#include <QApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace Tav {

namespace {

int signalPipe[2] = {-1, -1};

extern "C" void OnCloseSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    // A full pipe already holds a pending request.
    [[maybe_unused]] ssize_t written = ::write(signalPipe[1], &byte, 1);
    errno = saved;
}

void DrainSignalPipe()
{
    char buffer[64];
    while (::read(signalPipe[0], buffer, sizeof buffer) > 0) {
    }
}

} // namespace

void InstallCloseSignals()
{
    if (signalPipe[0] >= 0)
        return;
    if (::pipe2(signalPipe, O_NONBLOCK | O_CLOEXEC) != 0) {
        signalPipe[0] = signalPipe[1] = -1;
        return;
    }
    struct sigaction action = {};
    action.sa_handler = &OnCloseSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

int Run(const std::string& arguments, int showCommand)
{
    (void)arguments; // the launcher reads the whole command line itself
    if (auto* application = qobject_cast<QApplication*>(QCoreApplication::instance()))
        application->setQuitOnLastWindowClosed(false); // the main window's close ends the loop
    CLauncherMessageLoop loop;
    AddMessageLoop(&loop);
    int result = ExitCodeStartFailed;
    auto frame = std::make_unique<CMainFrame>();
    if (frame->Create()) {
        if (showCommand == ShowMaximized)
            frame->showMaximized();
        else if (showCommand == ShowMinimized)
            frame->showMinimized();
        else
            frame->show();
        std::unique_ptr<QSocketNotifier> notifier;
        if (signalPipe[0] >= 0) {
            notifier = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
            QObject::connect(notifier.get(), &QSocketNotifier::activated, frame.get(), [&frame] {
                DrainSignalPipe();
                frame->RequestClose();
            });
        }
        const std::unique_ptr<CUiProbe> probe = CUiProbe::FromEnvironment();
        result = loop.Run();
    }
    RemoveMessageLoop();
    // Releasing the graph joins module threads that may still want a box.
    Platform::RemoveQtMessageBoxHost();
    frame.reset();
    return result;
}

} // namespace Tav
