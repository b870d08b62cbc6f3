#include "ChildWnd.h"

#include "DibImage.h"
#include "ImageConversion.h"
#include "SaveDialog.h"
#include "TavTiff.h"
#include "ViewerEvents.h"

#include "Common/Jel/JelException.h"
#include "Common/StaticErrorView.h"
#include "Platform/MessageBox.h"
#include "Platform/Waitable.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QThread>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace Tav {

namespace {

constexpr int TimerPeriodMs = 1000;
constexpr int WheelDelta = 120;

intptr_t PackPoint(int low, int high)
{
    return static_cast<intptr_t>((uint32_t(uint16_t(low))) | (uint32_t(uint16_t(high)) << 16));
}

// Holds a chunk's pixel data locked for the scope.
class CLockedData {
public:
    explicit CLockedData(const CChunkPtr<CImageChunk>& chunk) : chunk(chunk)
    {
        data = static_cast<const uint8_t*>(chunk.LockData(&size));
    }
    ~CLockedData() { chunk.UnlockData(); }
    const uint8_t* data;
    int size = 0;

private:
    const CChunkPtr<CImageChunk>& chunk;
};

} // namespace

CChildWnd::CChildWnd(QWidget* frame, CCriticalSection& lock, QWidget* parent)
    : QAbstractScrollArea(parent), frame(frame), lock(&lock)
{
    setFrameShape(QFrame::StyledPanel); // the client edge
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setMouseTracking(true);
    viewport()->setAutoFillBackground(false);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    beep = [] { Platform::Beep(); };
    showError = [](const char* text) { CStaticErrorView::ShowErrorMessage("%s", text); };
    timer.start(TimerPeriodMs, this);
}

CChildWnd::~CChildWnd()
{
    timer.stop();
    // Nobody will paint any more: let blocked deliveries go.
    ReleasePaintWaiters(true);
}

void CChildWnd::SetImage(const CChunkPtr<CImageChunk>& chunk, bool first)
{
    CCriticalSectionLock guard(*lock);
    if (first)
        keptMono16Chunk.Reset();
    currentChunk = chunk;
    const CImageChunk& header = *chunk;
    if (header.pixelType == PixelTypeMono16) {
        if (first)
            keptMono16Chunk = chunk;
        return;
    }
    Jel::CDibPtr bitmap = displayBitmap;
    bool converted;
    {
        CLockedData pixels(chunk);
        converted = Jel::ConvertImageChunk(header, pixels.data, size_t(std::max(pixels.size, 0)), bitmap);
    }
    if (!converted)
        return;
    StoreDib(bitmap);
    if (cursorInside.load())
        ReportPixel(cursorX.load(), cursorY.load());
}

void CChildWnd::SetDib(const Jel::CDibPtr& bitmap)
{
    StoreDib(bitmap);
    DeliverPaint();
}

void CChildWnd::StoreDib(const Jel::CDibPtr& bitmap)
{
    CCriticalSectionLock guard(*lock);
    auto newSize = bitmap ? bitmap->GetSize() : std::make_pair(0, 0);
    bool sizeChanged = !displayBitmap || displayBitmap->GetSize() != newSize;
    displayBitmap = bitmap;
    if (sizeChanged) {
        // The GUI thread lays the window out anew when it handles the paint
        // message or is shown again.
        PostToFrame(MsgImageSize, 1, PackPoint(newSize.first, newSize.second));
        pendingSizeChanged = true;
    }
    paintPending = true;
}

void CChildWnd::DeliverPaint()
{
    bool sizeChanged;
    {
        CCriticalSectionLock guard(*lock);
        if (!paintPending)
            return;
        paintPending = false;
        sizeChanged = pendingSizeChanged;
        if (!displayed.load())
            return; // stays pending for the next paint message
        pendingSizeChanged = false;
    }
    // On the GUI thread itself the paint message cannot have been handled
    // yet; waiting would never end.
    if (QThread::currentThread() != thread())
        Platform::WaitForMultipleObjects({&paintDone, &releaseEvent}, false, Platform::Infinite);
    QCoreApplication::postEvent(this, new CViewerEvent(MsgPaint, 0, sizeChanged ? 1 : 0));
}

void CChildWnd::ReleasePaintWaiters(bool release)
{
    if (release) {
        releaseEvent.Set();
        paintDone.Set();
    } else {
        releaseEvent.Reset();
    }
}

void CChildWnd::ForgetChunks()
{
    CCriticalSectionLock guard(*lock);
    currentChunk.Reset();
    keptMono16Chunk.Reset();
}

CChunkPtr<CImageChunk> CChildWnd::GetKeptMono16Chunk() const
{
    CCriticalSectionLock guard(*lock);
    return keptMono16Chunk;
}

CChunkPtr<CImageChunk> CChildWnd::GetCurrentChunk() const
{
    CCriticalSectionLock guard(*lock);
    return currentChunk;
}

Jel::CDibPtr CChildWnd::GetDisplayBitmap() const
{
    CCriticalSectionLock guard(*lock);
    return displayBitmap;
}

bool CChildWnd::HasBitmap() const
{
    CCriticalSectionLock guard(*lock);
    return displayBitmap && !displayBitmap->IsEmpty();
}

void CChildWnd::SetDisplayed(bool value)
{
    displayed.store(value);
    if (value)
        SyncLayout();
}

QPoint CChildWnd::GetScrollPosition() const
{
    return QPoint(horizontalScrollBar()->value(), verticalScrollBar()->value());
}

void CChildWnd::PostToFrame(int message, uintptr_t wParam, intptr_t lParam)
{
    if (frame)
        QCoreApplication::postEvent(frame, new CViewerEvent(static_cast<ViewerMessage>(message), wParam, lParam));
}

void CChildWnd::SyncLayout()
{
    QSize size;
    {
        CCriticalSectionLock guard(*lock);
        if (displayBitmap) {
            auto s = displayBitmap->GetSize();
            size = QSize(s.first, s.second);
        } else {
            size = QSize(0, 0);
        }
    }
    if (size == imageSize)
        return;
    imageSize = size;
    scrollSize = QSize(int(imageSize.width() * zoom), int(imageSize.height() * zoom));
    UpdateScrollBars(true);
    viewport()->update();
}

void CChildWnd::UpdateScrollBars(bool resetPosition)
{
    const QSize client = viewport()->size();
    QScrollBar* bars[2] = {horizontalScrollBar(), verticalScrollBar()};
    const int extent[2] = {scrollSize.width(), scrollSize.height()};
    const int page[2] = {client.width(), client.height()};
    for (int i = 0; i < 2; ++i) {
        bars[i]->setRange(0, std::max(0, extent[i] - page[i]));
        bars[i]->setPageStep(std::max(1, extent[i] / 10));
        bars[i]->setSingleStep(std::max(1, extent[i] / 100));
        if (resetPosition)
            bars[i]->setValue(0);
    }
}

void CChildWnd::ZoomTo(double factor)
{
    zoom = factor;
    bestFit = false;
    ApplyZoom(nullptr);
}

void CChildWnd::BestFit()
{
    if (!HasBitmap() || bestFit)
        return;
    SyncLayout();
    if (imageSize.isEmpty())
        return;
    // Fit the area the window has once no scroll bar is needed.
    const QSize client = maximumViewportSize();
    zoom = std::min(double(client.width()) / imageSize.width(), double(client.height()) / imageSize.height());
    ApplyZoom(nullptr);
    bestFit = true;
}

double CChildWnd::NextZoomStep(double z, bool zoomIn)
{
    if (zoomIn) {
        if (z >= 1)
            return std::floor(z + 0.5) + 1;
        double n = std::max(1.0, std::floor(1 / z + 0.5) - 1);
        return 1 / n;
    }
    if (z >= 2)
        return std::floor(z + 0.5) - 1;
    return 1 / (std::floor(1 / z + 0.5) + 1);
}

void CChildWnd::ApplyZoom(const QPointF* logicalPoint)
{
    const double oldZoom = scrollSize.width() > 0 && imageSize.width() > 0
                               ? double(scrollSize.width()) / imageSize.width()
                               : zoom;
    const QSize client = viewport()->size();
    const QPoint oldPosition = GetScrollPosition();
    QPointF point;
    if (logicalPoint) {
        point = *logicalPoint;
    } else {
        // The centre of the visible part, in image pixels.
        double cx = std::min(client.width(), scrollSize.width()) / 2.0;
        double cy = std::min(client.height(), scrollSize.height()) / 2.0;
        point = oldZoom > 0 ? QPointF((oldPosition.x() + cx) / oldZoom, (oldPosition.y() + cy) / oldZoom)
                            : QPointF(0, 0);
    }
    if (zoom < MinZoom) {
        zoom = MinZoom;
        if (beep)
            beep();
    } else if (zoom > MaxZoom) {
        zoom = MaxZoom;
        if (beep)
            beep();
    }
    scrollSize = QSize(int(imageSize.width() * zoom), int(imageSize.height() * zoom));
    UpdateScrollBars(false);
    const QSize newClient = viewport()->size();
    int x = int(point.x() * zoom) - newClient.width() / 2;
    int y = int(point.y() * zoom) - newClient.height() / 2;
    horizontalScrollBar()->setValue(std::clamp(x, 0, horizontalScrollBar()->maximum()));
    verticalScrollBar()->setValue(std::clamp(y, 0, verticalScrollBar()->maximum()));
    viewport()->update();
}

void CChildWnd::Copy()
{
    std::string failure;
    {
        CCriticalSectionLock guard(*lock);
        if (displayBitmap && !displayBitmap->IsEmpty()) {
            try {
                displayBitmap->CopyToClipboard();
            } catch (const Jel::Exception& error) {
                failure = error.GetContext() + ": " + error.GetMessage();
            }
        }
    }
    // The box waits for the user: never with the frame lock held.
    if (!failure.empty() && showError)
        showError(failure.c_str());
}

void CChildWnd::Save()
{
    if (saveDialog) {
        saveDialog(*this);
        return;
    }
    // Copies taken under the frame lock: the dialog runs without it, so the
    // delivering thread and the module's stop never wait for the user, and
    // the file holds the picture shown when the command was given.
    Jel::CDibPtr picture;
    CChunkPtr<CImageChunk> camera;
    std::string failure;
    {
        CCriticalSectionLock guard(*lock);
        if (!displayBitmap || displayBitmap->IsEmpty())
            return;
        try {
            picture = displayBitmap->Clone(false);
        } catch (const Jel::Exception& error) {
            failure = error.GetContext() + ": " + error.GetMessage();
        }
        camera = keptMono16Chunk;
    }
    if (!failure.empty()) {
        if (showError)
            showError(failure.c_str());
        return;
    }

    QWidget* owner = QApplication::activeWindow() ? QApplication::activeWindow() : window();
    CSaveDialog dialog(camera.IsNull() ? nullptr : "Mono16", owner);
    if (dialog.exec() != QDialog::Accepted)
        return;
    try {
        if (dialog.GetFormat() == CSaveDialog::FormatBitmap)
            picture->SaveBMP(dialog.GetFileName());
        else if (dialog.GetSource() == CSaveDialog::SourceCamera && !camera.IsNull())
            SaveChunkAsTiff(dialog.GetFileName().c_str(), camera);
    } catch (const Jel::Exception& error) {
        failure = error.GetContext() + ": " + error.GetMessage();
    } catch (const CException& error) {
        CStaticErrorView::ShowError(error);
    }
    if (!failure.empty() && showError)
        showError(failure.c_str());
}

bool CChildWnd::event(QEvent* e)
{
    if (IsViewerMessage(e, MsgPaint)) {
        OnPaintMessage(static_cast<CViewerEvent*>(e)->lParam != 0);
        return true;
    }
    return QAbstractScrollArea::event(e);
}

void CChildWnd::OnPaintMessage(bool sizeChanged)
{
    SyncLayout();
    if (isVisible())
        viewport()->repaint();
    frameRate.CountFrame();
    paintDone.Set();
}

bool CChildWnd::viewportEvent(QEvent* e)
{
    if (e->type() == QEvent::Leave) {
        MouseLeft();
        return true;
    }
    return QAbstractScrollArea::viewportEvent(e);
}

void CChildWnd::paintEvent(QPaintEvent* e)
{
    QPainter painter(viewport());
    const QColor background = palette().color(QPalette::Window);
    const QRect client = viewport()->rect();
    CCriticalSectionLock guard(*lock);
    const Jel::DibSection* section = displayBitmap ? displayBitmap->GetSection() : nullptr;
    if (!section || imageSize.isEmpty() || QSize(section->Width(), section->Height()) != imageSize) {
        painter.fillRect(e->rect(), background);
        return;
    }
    const QPoint position = GetScrollPosition();
    // Only the area right of and below the image needs erasing.
    const QRect imageArea(-position, scrollSize);
    QRegion rest = QRegion(e->rect()).subtracted(QRegion(imageArea));
    for (const QRect& r : rest)
        painter.fillRect(r, background);

    const double sx = double(scrollSize.width()) / imageSize.width();
    const double sy = double(scrollSize.height()) / imageSize.height();
    // The visible part in image pixels, one pixel more on each side.
    QRectF logical((position.x() + e->rect().left()) / sx - 1, (position.y() + e->rect().top()) / sy - 1,
                   e->rect().width() / sx + 2, e->rect().height() / sy + 2);
    QRect visible = logical.toAlignedRect().intersected(QRect(QPoint(0, 0), imageSize));
    if (visible.isEmpty())
        return;

    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.setClipRect(client.intersected(imageArea));
    painter.translate(-position);
    painter.scale(sx, sy);
    const QImage rows = Jel::WrapDibRows(*section);
    if (section->IsTopDown()) {
        painter.drawImage(QRectF(visible), rows, QRectF(visible));
    } else {
        // Stored row r is the picture's row height - 1 - r.
        const int h = imageSize.height();
        painter.translate(0, h);
        painter.scale(1, -1);
        QRect stored(visible.left(), h - visible.bottom() - 1, visible.width(), visible.height());
        painter.drawImage(QRectF(stored), rows, QRectF(stored));
    }
}

void CChildWnd::resizeEvent(QResizeEvent* e)
{
    QAbstractScrollArea::resizeEvent(e);
    UpdateScrollBars(false);
}

void CChildWnd::showEvent(QShowEvent* e)
{
    QAbstractScrollArea::showEvent(e);
    SyncLayout();
}

bool CChildWnd::ReadPixel(int x, int y, uint32_t& value) const
{
    if (!displayBitmap || displayBitmap->IsEmpty())
        return false;
    const Jel::DibSection& s = *displayBitmap->GetSection();
    if (x < 0 || y < 0 || x >= s.Width() || y >= s.Height())
        return false;
    const int row = s.IsTopDown() ? y : s.Height() - 1 - y;
    const uint8_t* line = s.Pixels() + s.BytesPerLine() * size_t(row);
    if (s.BitCount() == 8) {
        uint32_t v = line[x];
        value = (v << 16) | (v << 8) | v;
        return true;
    }
    if (s.BitCount() == 24) {
        const uint8_t* p = line + 3 * size_t(x);
        value = (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | p[0];
        return true;
    }
    return false;
}

void CChildWnd::ReportPixel(int x, int y)
{
    uint32_t value = 0;
    bool valid = ReadPixel(x, y, value);
    PostToFrame(MsgPixelValue, valid ? 1 : 0, valid ? intptr_t(value) : 0);
}

void CChildWnd::mouseMoveEvent(QMouseEvent* e)
{
    tracking = true;
    const QPoint position = GetScrollPosition();
    const QPointF at = e->position();
    const int x = int(std::floor((position.x() + at.x()) / zoom));
    const int y = int(std::floor((position.y() + at.y()) / zoom));
    bool inside = x >= 0 && y >= 0 && x < imageSize.width() && y < imageSize.height();
    if (inside) {
        viewport()->setCursor(Qt::CrossCursor);
        cursorX.store(x);
        cursorY.store(y);
        cursorInside.store(true);
        PostToFrame(MsgCursorPos, 1, PackPoint(x, y));
        CCriticalSectionLock guard(*lock);
        ReportPixel(x, y);
        e->accept();
    } else {
        viewport()->unsetCursor();
        cursorInside.store(false);
        PostToFrame(MsgCursorPos, 0, 0);
        PostToFrame(MsgPixelValue, 0, 0);
        QAbstractScrollArea::mouseMoveEvent(e);
    }
}

void CChildWnd::MouseLeft()
{
    tracking = false;
    cursorInside.store(false);
    viewport()->unsetCursor();
    PostToFrame(MsgCursorPos, 0, 0);
    PostToFrame(MsgPixelValue, 0, 0);
}

void CChildWnd::wheelEvent(QWheelEvent* e)
{
    const Qt::KeyboardModifiers modifiers = e->modifiers();
    const int delta = e->angleDelta().y() != 0 ? e->angleDelta().y() : e->angleDelta().x();
    if (modifiers == Qt::ControlModifier) {
        bestFit = false;
        const QPoint position = GetScrollPosition();
        const QPointF at = e->position();
        QPointF point((position.x() + at.x()) / zoom, (position.y() + at.y()) / zoom);
        zoom = NextZoomStep(zoom, delta > 0);
        ApplyZoom(&point);
        e->accept();
        return;
    }
    if (modifiers == Qt::NoModifier) {
        QScrollBar* bar = verticalScrollBar()->maximum() > 0 ? verticalScrollBar() : horizontalScrollBar();
        bar->setValue(bar->value() - delta * bar->singleStep() / WheelDelta);
        e->accept();
        return;
    }
    e->accept(); // Shift and other combinations do nothing
}

void CChildWnd::timerEvent(QTimerEvent* e)
{
    if (e->timerId() != timer.timerId()) {
        QAbstractScrollArea::timerEvent(e);
        return;
    }
    const double rate = frameRate.TakeRate();
    PostToFrame(MsgFrameRate, 1, intptr_t(std::floor(rate + 0.5)));
}

} // namespace Tav
