#include "Accelerators.h"

#include <QAction>
#include <QKeyEvent>
#include <QKeySequence>
#include <QWidget>

namespace Tav {

bool TranslateAccelerator(const QWidget& window, QObject* receiver, QEvent* event,
                          const std::map<int, QAction*>& actions)
{
    if (event->type() != QEvent::KeyPress)
        return false;
    auto* widget = qobject_cast<QWidget*>(receiver);
    if (!widget || widget->window() != &window)
        return false;
    auto* key = static_cast<QKeyEvent*>(event);
    const QKeySequence pressed(key->modifiers() | key->key());
    for (const auto& [id, action] : actions) {
        if (!action->shortcut().isEmpty() && action->shortcut().matches(pressed) == QKeySequence::ExactMatch) {
            if (action->isEnabled())
                action->trigger();
            return true;
        }
    }
    return false;
}

} // namespace Tav
