#pragma once

// The message-box host of the Qt GUI. Boxes are QMessageBox dialogs shown on
// the GUI thread (the QApplication's thread); the calling thread is blocked
// until the box is answered. From the GUI thread the box is shown directly
// (a nested event loop); from any other thread the request is queued to the
// GUI thread and the caller waits for its answer.
//
// The rule that follows: while this host is installed, the GUI thread must
// not block waiting for a thread that may show a box (joining a worker,
// stopping or deinitialising modules with threads of their own), or both
// wait for each other. Call RemoveQtMessageBoxHost() before such a wait:
// requests still waiting for the GUI thread are then answered at once with
// the answer that loses nothing, and later boxes go to the host that was
// installed before. Destroying the QApplication removes the host the same way.
//
// A system-modal request is application-modal, stays on top and is brought
// to the foreground.

#include <cstddef>

namespace Tav::Platform {

// Installs the host; call on the GUI thread once the QApplication exists.
// False, and nothing changes, when there is no QApplication or the caller
// is not its thread. Installing again is harmless.
bool InstallQtMessageBoxHost();

// Restores the previous host and answers the requests that have not been
// shown yet. Any thread; harmless when not installed.
void RemoveQtMessageBoxHost();

// Requests from other threads that wait for the GUI thread, shown or not.
size_t GetPendingQtMessageBoxCount();

} // namespace Tav::Platform
