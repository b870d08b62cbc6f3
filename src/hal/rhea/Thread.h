#pragma once

// The driver client's notification thread: it owns the process's
// message-only window "RheaMessageOnly", which receives the device-change
// broadcasts, and runs its messages until the window is closed.

#include "Platform/Event.h"
#include "Platform/MessageWindow.h"
#include "Platform/Thread.h"

namespace Rhea {

class CThread {
public:
    CThread() = default;
    CThread(const CThread&) = delete;
    CThread& operator=(const CThread&) = delete;

    // Starts the thread and waits up to `timeout` ms for its window. False
    // when the thread cannot start or the window does not appear in time.
    bool Start(int32_t timeout);

    // The window, 0 before Start succeeded.
    Tav::Platform::WindowHandle Window() const { return window; }

    // Closes the window and waits `timeout` ms for the thread; a thread
    // still running after `grace` more ms is given up.
    void Stop(int32_t timeout, int32_t grace);

private:
    void Run();

    Tav::Platform::Thread thread;
    Tav::Platform::Event ready{false, false};
    Tav::Platform::WindowHandle window = 0;
};

} // namespace Rhea
