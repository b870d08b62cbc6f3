#pragma once

#include "Dib.h"
#include "FrameRateCounter.h"

#include "Common/CriticalSection.h"
#include "DataBuffer/ChunkPtr.h"
#include "DataBuffer/ImageChunk.h"
#include "Platform/Event.h"

#include <QAbstractScrollArea>
#include <QBasicTimer>

#include <atomic>
#include <functional>

namespace Tav {

// The image window: paints the display bitmap zoomed and scrolled, reports
// the pixel under the mouse and the displayed frame rate to its frame, and
// carries the Save, Copy and zoom commands.
//
// Threads: SetImage and SetDib run on the delivering thread under the frame
// lock; everything else on the GUI thread. The delivering thread hands each
// picture over with DeliverPaint once it has released the frame lock: it
// waits there until the GUI thread has painted the previous picture.
class CChildWnd : public QAbstractScrollArea {
    Q_OBJECT

public:
    static constexpr double MinZoom = 1.0 / 32;
    static constexpr double MaxZoom = 32.0;

    // `frame` receives the status messages; `lock` is the frame's lock.
    CChildWnd(QWidget* frame, CCriticalSection& lock, QWidget* parent = nullptr);
    ~CChildWnd() override;

    // Converts `chunk` into the display bitmap (caller holds the frame lock).
    // `first` marks the first image chunk of a packet: the kept Mono16 chunk
    // is forgotten first. Mono16 chunks are kept for saving; other types the
    // conversion does not handle leave the picture alone.
    void SetImage(const CChunkPtr<CImageChunk>& chunk, bool first);
    // Makes `bitmap` the display bitmap, then hands the painting over
    // (callers that hold the frame lock use StoreDib and DeliverPaint).
    void SetDib(const Jel::CDibPtr& bitmap);
    void StoreDib(const Jel::CDibPtr& bitmap);
    // Waits for the previous paint and posts the next one, when a picture is
    // pending and the window is shown. Never call with the frame lock held.
    void DeliverPaint();
    // Lets every waiting and future DeliverPaint pass at once (while the
    // module stops or the window goes away) until `release` is false again.
    void ReleasePaintWaiters(bool release);

    void ForgetChunks();
    CChunkPtr<CImageChunk> GetKeptMono16Chunk() const;
    CChunkPtr<CImageChunk> GetCurrentChunk() const;
    Jel::CDibPtr GetDisplayBitmap() const;

    // Zoom commands.
    void SetZoom(double zoom) { this->zoom = zoom; }
    double GetZoom() const { return zoom; }
    void ZoomTo(double factor);
    void BestFit();
    bool IsBestFit() const { return bestFit; }
    bool HasBitmap() const;
    // Clamps the zoom to [1/32, 32] (beeping when it had to), sizes the
    // scroll area and centres the view on `logicalPoint` (image pixels), or
    // on the centre of the visible part when null.
    void ApplyZoom(const QPointF* logicalPoint);
    // One Ctrl+wheel step from `zoom`: ..., 1/3, 1/2, 1, 2, 3, ...
    static double NextZoomStep(double zoom, bool zoomIn);

    void Copy();
    void Save();

    // The image size the window is laid out for, and its scroll extent.
    QSize GetImageSize() const { return imageSize; }
    QSize GetScrollSize() const { return scrollSize; }
    QPoint GetScrollPosition() const;

    // Whether the frame is visible and not minimised; set by the frame.
    void SetDisplayed(bool displayed);

    // Hooks: the zoom-limit beep, a replacement of the save dialog and the
    // display of a failed copy or bitmap save. Defaults: the system beep,
    // CSaveDialog, an error box. TIFF failures are framework errors and go
    // to the error box directly.
    std::function<void()> beep;
    std::function<void(CChildWnd&)> saveDialog;
    std::function<void(const char* text)> showError;

protected:
    bool event(QEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void SyncLayout();
    void UpdateScrollBars(bool resetPosition);
    void PostToFrame(int message, uintptr_t wParam, intptr_t lParam);
    void ReportPixel(int x, int y);
    // The pixel at (x, y) as red << 16 | green << 8 | blue; caller holds
    // the frame lock. False outside the bitmap.
    bool ReadPixel(int x, int y, uint32_t& value) const;
    void OnPaintMessage(bool sizeChanged);
    void MouseLeft();

    QWidget* frame;
    CCriticalSection* lock;

    // Guarded by the frame lock.
    Jel::CDibPtr displayBitmap;
    CChunkPtr<CImageChunk> currentChunk;
    CChunkPtr<CImageChunk> keptMono16Chunk;
    bool paintPending = false;
    bool pendingSizeChanged = false;

    // GUI thread.
    double zoom = 1.0;
    QSize imageSize{0, 0};
    QSize scrollSize{0, 0};
    bool tracking = false;
    bool bestFit = false;
    QBasicTimer timer;

    // The image point under the mouse, for the delivering thread's read-out.
    std::atomic<bool> cursorInside{false};
    std::atomic<int> cursorX{0};
    std::atomic<int> cursorY{0};
    std::atomic<bool> displayed{false};

    CFrameRateCounter frameRate;
    Platform::Event paintDone{false, true};
    Platform::Event releaseEvent{true, false};
};

} // namespace Tav
