#pragma once

// The viewer windows' private messages as posted Qt events. The event types
// are the message numbers; the parameters keep their meaning.

#include <QEvent>

#include <cstdint>

#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);
#endif

namespace Tav {

enum ViewerMessage : int {
    MsgInfoText = 2024,    // frame: pane 2106 shows the info text
    MsgCursorPos = 3024,   // frame: wParam 1 valid; lParam x | y << 16 (signed 16-bit)
    MsgImageSize = 3025,   // frame: wParam 1 valid; lParam width | height << 16
    MsgFrameRate = 3026,   // frame: wParam 1 valid; lParam frames per second
    MsgPixelValue = 3027,  // frame: wParam 1 valid; lParam red << 16 | green << 8 | blue
    MsgPaint = 3028,       // image window: lParam 1 when the image size changed
};

class CViewerEvent : public QEvent {
public:
    CViewerEvent(ViewerMessage message, uintptr_t wParam, intptr_t lParam)
        : QEvent(static_cast<QEvent::Type>(message)), wParam(wParam), lParam(lParam)
    {
#if defined(__SANITIZE_THREAD__)
        // Qt's event queue hands the event over under a lock the thread
        // sanitizer cannot see.
        __tsan_release(this);
#endif
    }

    ViewerMessage Message() const { return static_cast<ViewerMessage>(type()); }


    const uintptr_t wParam;
    const intptr_t lParam;
};

// Receivers call this before they read any event that may be one of ours.
inline void AcquireEvent(QEvent* event)
{
#if defined(__SANITIZE_THREAD__)
    __tsan_acquire(event);
#else
    (void)event;
#endif
}

inline bool IsViewerMessage(QEvent* event, ViewerMessage message)
{
    AcquireEvent(event);
    return event->type() == static_cast<QEvent::Type>(message);
}

} // namespace Tav
