#pragma once

#include <map>

class QAction;
class QEvent;
class QObject;
class QWidget;

namespace Tav {

// A window's accelerator table: a key press meant for a widget of window
// triggers the action whose shortcut it is (a disabled one swallows it).
// Returns whether the key was an accelerator.
bool TranslateAccelerator(const QWidget& window, QObject* receiver, QEvent* event,
                          const std::map<int, QAction*>& actions);

} // namespace Tav
