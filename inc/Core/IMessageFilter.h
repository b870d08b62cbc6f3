#pragma once

class QObject;
class QEvent;

namespace Tav {

// Sees every event of the GUI thread before it is delivered to `receiver`
// (the message loop calls the registered filters in turn, for instance from
// an application-wide event filter). Runs on the GUI thread.
class IMessageFilter {
public:
    // True when the filter consumed the event (it is then not delivered).
    virtual bool PreTranslateMessage(QObject* receiver, QEvent* event) = 0;
    virtual ~IMessageFilter() = default;
};

} // namespace Tav
