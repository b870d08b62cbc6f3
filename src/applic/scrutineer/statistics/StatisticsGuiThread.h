#pragma once

#include <functional>

namespace Tav {

// Runs `work` on the Qt GUI thread and returns when it is done: directly on
// that thread, otherwise posted to it while the caller waits. False, with
// nothing run, when there is no QGuiApplication or it is closing down.
// What `work` throws is thrown to the caller.
// The caller must hold no lock that the GUI thread may wait for.
bool RunOnStatisticsGuiThread(const std::function<void()>& work);

} // namespace Tav
