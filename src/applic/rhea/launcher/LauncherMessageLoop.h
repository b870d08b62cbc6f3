#pragma once

#include "Core/IMessageLoop.h"

#include <QObject>

#include <vector>

namespace Tav {

// The GUI thread's message loop over the Qt event loop. Every event of the
// GUI thread is first offered to the message filters, from the last added to
// the first, until one consumes it (an application-wide event filter); the
// idle handlers run in the order they were added once after each burst of
// events, when the event dispatcher is about to wait for more.
class CLauncherMessageLoop : public IMessageLoop {
public:
    CLauncherMessageLoop();
    ~CLauncherMessageLoop() override;
    CLauncherMessageLoop(const CLauncherMessageLoop&) = delete;
    CLauncherMessageLoop& operator=(const CLauncherMessageLoop&) = delete;

    bool AddMessageFilter(IMessageFilter* filter) override;
    bool RemoveMessageFilter(IMessageFilter* filter) override;
    bool AddIdleHandler(IIdleHandler* handler) override;
    bool RemoveIdleHandler(IIdleHandler* handler) override;

    // True when a filter consumed the event.
    bool PreTranslateMessage(QObject* receiver, QEvent* event);
    // Calls every idle handler; false, so idle work runs once per burst.
    bool OnIdle(int idleCount);

    // Runs the application's event loop until it is told to exit and returns
    // the exit code. Filters and idle handlers are called only meanwhile.
    int Run();

private:
    class CEventHook : public QObject {
    public:
        explicit CEventHook(CLauncherMessageLoop& loop) : loop(loop) {}
        bool eventFilter(QObject* watched, QEvent* event) override;

    private:
        CLauncherMessageLoop& loop;
    };

    std::vector<IMessageFilter*> filters;
    std::vector<IIdleHandler*> idleHandlers;
    bool inIdle = false;
};

} // namespace Tav
