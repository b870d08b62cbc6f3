#include "ChildWnd.h"
#include "FrameWnd.h"
#include "ImageViewer.h"
#include "ObjectFactory.h"
#include "SettingsKey.h"
#include "ViewerEvents.h"
#include "ViewerTestApp.h"

#include "Common/Exception.h"
#include "DataBuffer/ImageChunk.h"
#include "DataBuffer/Packet.h"
#include "DataBuffer/RtlHeapAllocator.h"
#include "DataBuffer/ValueChunk.h"
#include "support/TestPaths.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QMimeData>
#include <QScrollBar>
#include <QSettings>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

using namespace Tav;

// Fontconfig keeps caches it never frees; they are not ours to report.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}

// Qt's raster engine scales and converts large images on threads of its
// own pool, synchronised with primitives the thread sanitizer cannot see
// (Qt is not instrumented). Races with a Qt Gui frame on an access stack,
// in its thread pool, or in memory functions Qt Core calls are Qt's own.
extern "C" const char* __tsan_default_suppressions()
{
    return "race:libQt6Gui.so.6\n"
           "race:QRunnable::create\n"
           "race:QThreadPoolPrivate\n"
           "called_from_lib:libQt6Core.so.6\n";
}

namespace {

QApplication& App()
{
    return TavTest::ViewerTestApp();
}

void Pump()
{
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

CSmartPointer<IPacket> ImagePacket(int type, int width, int height, uint8_t fill)
{
    // Raw8 has no size of its own in the chunk factory: made as Mono8.
    const int made = type == PixelTypeRaw8 ? PixelTypeMono8 : type;
    CChunkPtr<CImageChunk> chunk = CreateImageChunkBuffer(0, 0, width, height, GetDefaultAllocator(), uint8_t(made));
    chunk->pixelType = uint8_t(type);
    chunk->filterPattern = FilterPatternRggb;
    int size = 0;
    void* data = chunk.LockData(&size);
    std::memset(data, fill, size_t(size));
    chunk.UnlockData();
    CSmartPointer<IPacket> packet = CPacket::Create();
    packet->AddChunkBuffer(chunk.GetBuffer().Get());
    return packet;
}

class ViewerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        App();
        QSettings(QSettings::NativeFormat, QSettings::UserScope, "Quarlo", "Tav").clear();
        viewer.Initialize("ImageViewer", nullptr);
        frame = viewer.GetFrame();
        ASSERT_NE(frame, nullptr);
        child = &frame->ImageWindow();
        child->beep = [this] { ++beeps; };
        child->showError = [this](const char* text) { errors.push_back(text); };
    }
    void TearDown() override { viewer.Deinitialize(); }

    // A grey picture of the given size as display bitmap, laid out.
    void ShowPicture(int width, int height)
    {
        child->SetDib(Jel::CDib::Create(width, height, 8, true, 1));
        Pump();
    }
    void Wheel(int delta, Qt::KeyboardModifiers modifiers, QPointF at = QPointF(10, 10))
    {
        QWheelEvent e(at, child->viewport()->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, modifiers,
                      Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(child->viewport(), &e);
    }

    CImageViewer viewer;
    CFrameWnd* frame = nullptr;
    CChildWnd* child = nullptr;
    int beeps = 0;
    std::vector<std::string> errors;
};

} // namespace

TEST(ZoomSteps, RunThroughIntegersAndReciprocals)
{
    EXPECT_DOUBLE_EQ(CChildWnd::NextZoomStep(0.5, true), 1.0);
    EXPECT_DOUBLE_EQ(CChildWnd::NextZoomStep(1.0, false), 0.5);
    EXPECT_DOUBLE_EQ(CChildWnd::NextZoomStep(3.0, false), 2.0);
    EXPECT_DOUBLE_EQ(CChildWnd::NextZoomStep(2.0, true), 3.0);
    EXPECT_DOUBLE_EQ(CChildWnd::NextZoomStep(1.0 / 3, true), 0.5);
    EXPECT_DOUBLE_EQ(CChildWnd::NextZoomStep(0.5, false), 1.0 / 3);
    EXPECT_DOUBLE_EQ(CChildWnd::NextZoomStep(0.3, true), 0.5); // between steps: to the next one
}

TEST_F(ViewerTest, WindowShapeAndCommands)
{
    EXPECT_EQ(frame->windowTitle(), "Image Viewer");
    EXPECT_EQ(frame->Action(CFrameWnd::CmdSave)->text(), "Save Image...\tCtrl+S");
    EXPECT_EQ(frame->Action(CFrameWnd::CmdCopy)->shortcut(), QKeySequence("Ctrl+C"));
    EXPECT_EQ(frame->Action(CFrameWnd::CmdCopy)->toolTip(), "Copy to clipboard");
    EXPECT_EQ(frame->Action(CFrameWnd::CmdSave)->statusTip(), "Save the current image to file");
    EXPECT_EQ(frame->geometry(), QRect(0, 120, 660, 480));
    // Nothing to show yet: the picture commands are disabled.
    frame->OnIdle();
    EXPECT_FALSE(frame->Action(CFrameWnd::CmdCopy)->isEnabled());
    EXPECT_TRUE(frame->Action(CFrameWnd::CmdZoom100)->isChecked());
    ShowPicture(4, 4);
    frame->OnIdle();
    EXPECT_TRUE(frame->Action(CFrameWnd::CmdCopy)->isEnabled());
    EXPECT_EQ(frame->PaneText(CFrameWnd::PaneImageSize), "4x4");
    frame->Action(CFrameWnd::CmdZoom200)->trigger();
    EXPECT_DOUBLE_EQ(child->GetZoom(), 2.0);
    EXPECT_TRUE(frame->Action(CFrameWnd::CmdZoom200)->isChecked());
    EXPECT_FALSE(frame->Action(CFrameWnd::CmdZoom100)->isChecked());
}

TEST_F(ViewerTest, CtrlWheelStepsAndBeepsAtTheLimits)
{
    viewer.Show();
    ShowPicture(64, 64);
    // Zooming needs no painting; Qt would paint large zooms on threads of
    // its own, which the thread sanitizer cannot follow.
    viewer.Hide();
    Wheel(-120, Qt::ControlModifier);
    EXPECT_DOUBLE_EQ(child->GetZoom(), 0.5);
    Wheel(120, Qt::ControlModifier);
    EXPECT_DOUBLE_EQ(child->GetZoom(), 1.0);
    EXPECT_EQ(child->GetScrollSize(), QSize(64, 64));
    Wheel(120, Qt::ShiftModifier); // Shift alone does nothing
    EXPECT_DOUBLE_EQ(child->GetZoom(), 1.0);
    child->SetZoom(3);
    Wheel(-360, Qt::ControlModifier); // one step whatever the distance
    EXPECT_DOUBLE_EQ(child->GetZoom(), 2.0);
    EXPECT_EQ(beeps, 0);

    child->SetZoom(1.0 / 32);
    Wheel(-120, Qt::ControlModifier);
    EXPECT_DOUBLE_EQ(child->GetZoom(), 1.0 / 32);
    EXPECT_EQ(beeps, 1);
    child->SetZoom(32);
    Wheel(120, Qt::ControlModifier);
    EXPECT_DOUBLE_EQ(child->GetZoom(), 32.0);
    EXPECT_EQ(beeps, 2);
    EXPECT_EQ(child->GetScrollSize(), QSize(64 * 32, 64 * 32));
}

TEST_F(ViewerTest, BestFitOnceUntilTheZoomChanges)
{
    viewer.Show();
    Pump();
    const QSize outer = child->size() - child->viewport()->size();
    child->setFixedSize(QSize(500, 500) + outer);
    Pump();
    ASSERT_EQ(child->viewport()->size(), QSize(500, 500));
    // Hidden from here: fitting needs no painting, and Qt would paint a
    // picture this large on threads of its own.
    viewer.Hide();
    ShowPicture(1000, 500);
    child->BestFit();
    EXPECT_DOUBLE_EQ(child->GetZoom(), 0.5);
    EXPECT_TRUE(child->IsBestFit());
    frame->OnIdle();
    EXPECT_FALSE(frame->Action(CFrameWnd::CmdBestFit)->isEnabled());
    EXPECT_TRUE(frame->Action(CFrameWnd::CmdBestFit)->isChecked());
    child->SetZoom(0.75); // as if changed behind its back: a second fit does nothing
    child->BestFit();
    EXPECT_DOUBLE_EQ(child->GetZoom(), 0.75);
    frame->Action(CFrameWnd::CmdZoom100)->trigger();
    EXPECT_FALSE(child->IsBestFit());
    child->BestFit();
    EXPECT_DOUBLE_EQ(child->GetZoom(), 0.5);
}

TEST_F(ViewerTest, PixelReadoutClearedWhenTheMouseLeaves)
{
    viewer.Show();
    Jel::CDibPtr dib = Jel::CDib::Create(8, 8, 24, false, 0);
    uint8_t* p = dib->GetPixels() + dib->GetBytesPerLine() * (8 - 1 - 3) + 3 * 2; // picture (2, 3)
    p[0] = 30, p[1] = 20, p[2] = 10;
    child->SetDib(dib);
    Pump();
    child->SetZoom(1);
    QMouseEvent move(QEvent::MouseMove, QPointF(2.5, 3.5), child->viewport()->mapToGlobal(QPointF(2.5, 3.5)),
                     Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(child->viewport(), &move);
    Pump();
    EXPECT_EQ(frame->PaneText(CFrameWnd::PaneCursorPos), "(2,3)");
    EXPECT_EQ(frame->PaneText(CFrameWnd::PanePixelValue), "[R: 10 G: 20 B: 30]");

    QMouseEvent outside(QEvent::MouseMove, QPointF(50, 50), child->viewport()->mapToGlobal(QPointF(50, 50)),
                        Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(child->viewport(), &outside);
    Pump();
    EXPECT_EQ(frame->PaneText(CFrameWnd::PaneCursorPos), "");
    QCoreApplication::sendEvent(child->viewport(), &move);
    Pump();
    EXPECT_EQ(frame->PaneText(CFrameWnd::PaneCursorPos), "(2,3)");
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(child->viewport(), &leave);
    Pump();
    EXPECT_EQ(frame->PaneText(CFrameWnd::PaneCursorPos), "");
    EXPECT_EQ(frame->PaneText(CFrameWnd::PanePixelValue), "");
}

TEST_F(ViewerTest, CountersOnlyPacketUpdatesTheCounterPane)
{
    viewer.Start();
    CSmartPointer<IPacket> packet = CPacket::Create();
    packet->AddChunkBuffer(MakeValueChunkBuffer(GUID_FrameCounterChunk, 4711).Get());
    packet->AddChunkBuffer(MakeValueChunkBuffer(GUID_CycleTimeChunk, (5u << 25) | (17u << 12) | 3u).Get());
    viewer.Push(1, packet);
    Pump();
    EXPECT_EQ(frame->PaneText(CFrameWnd::PaneCounters), "4711 005:0017:0003 ");
    EXPECT_EQ(frame->PaneText(CFrameWnd::PaneImageSize), "");
    EXPECT_FALSE(child->HasBitmap());
}

TEST_F(ViewerTest, PacketsShownOnlyWhileStarted)
{
    viewer.Push(1, ImagePacket(PixelTypeMono8, 8, 4, 9));
    EXPECT_FALSE(child->HasBitmap());
    viewer.Start();
    viewer.Push(1, ImagePacket(PixelTypeMono8, 8, 4, 9));
    ASSERT_TRUE(child->HasBitmap());
    Jel::CDibPtr shown = child->GetDisplayBitmap();
    EXPECT_EQ(shown->GetPixels()[0], 9);

    // Mono16 leaves the picture and becomes the data offered for saving.
    viewer.Push(1, ImagePacket(PixelTypeMono16, 8, 4, 1));
    EXPECT_EQ(child->GetDisplayBitmap().Get(), shown.Get());
    EXPECT_FALSE(child->GetKeptMono16Chunk().IsNull());

    viewer.Stop();
    EXPECT_TRUE(child->GetKeptMono16Chunk().IsNull());
    EXPECT_TRUE(child->GetCurrentChunk().IsNull());
    viewer.Push(1, ImagePacket(PixelTypeMono8, 8, 4, 200));
    EXPECT_EQ(child->GetDisplayBitmap()->GetPixels()[0], 9);

    try {
        viewer.Push(2, ImagePacket(PixelTypeMono8, 8, 4, 1));
        ADD_FAILURE() << "port 2 accepted";
    } catch (const CException& e) {
        EXPECT_EQ(e.GetCode(), 0xCEF10103u);
    }
}

TEST_F(ViewerTest, DeliveringThreadWaitsForEachPaint)
{
    viewer.Show();
    viewer.Start();
    Pump();
    std::atomic<bool> done{false};
    std::thread delivery([&] {
        for (int i = 0; i < 20; ++i)
            viewer.Push(1, ImagePacket(i % 2 ? PixelTypeMono8 : PixelTypeRaw8, 16, 8, uint8_t(i)));
        done = true;
    });
    // The GUI thread keeps painting; Copy takes the frame lock meanwhile.
    while (!done) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        child->Copy();
    }
    delivery.join();
    Pump();
    EXPECT_EQ(frame->PaneText(CFrameWnd::PaneImageSize), "16x8");
    EXPECT_TRUE(errors.empty());
}

TEST_F(ViewerTest, CopyPutsABitmapOnTheClipboard)
{
    Jel::CDibPtr dib = Jel::CDib::Create(3, 2, 8, true, 1);
    dib->GetPixels()[0] = 255;
    child->SetDib(dib);
    child->Copy();
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    ASSERT_NE(data, nullptr);
    QByteArray bmp = data->data("image/bmp");
    ASSERT_EQ(bmp.size(), 14 + 40 + 1024 + 4 * 2);
    EXPECT_EQ(bmp[0], 'B');
    EXPECT_EQ(uint8_t(bmp[14 + 40 + 1024 + 4]), 255); // top line stored last
    QImage image = qvariant_cast<QImage>(data->imageData());
    ASSERT_EQ(image.size(), QSize(3, 2));
    EXPECT_EQ(image.pixel(0, 0), qRgb(255, 255, 255));
    EXPECT_TRUE(errors.empty());
}

TEST_F(ViewerTest, ClosingOnlyHidesAndAcceleratorsAreTranslated)
{
    viewer.Show();
    EXPECT_TRUE(viewer.IsVisible());
    frame->close();
    EXPECT_FALSE(viewer.IsVisible());
    viewer.Show();
    QKeyEvent ctrlX(QEvent::KeyPress, Qt::Key_X, Qt::ControlModifier);
    EXPECT_TRUE(viewer.PreTranslateMessage(child->viewport(), &ctrlX));
    EXPECT_FALSE(viewer.IsVisible());
    QKeyEvent plain(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier);
    EXPECT_FALSE(viewer.PreTranslateMessage(child->viewport(), &plain));
}

TEST_F(ViewerTest, PlacementStoredAndRestored)
{
    frame->setGeometry(QRect(40, 150, 300, 200));
    viewer.Deinitialize();
    CSettingsKey key("Software\\Quarlo\\Tav\\ImageViewer");
    EXPECT_EQ(key.Group(), "ImageViewer");
    EXPECT_EQ(key.ReadDword("left").value_or(0), 40u);
    EXPECT_EQ(key.ReadDword("right").value_or(0), 340u);
    EXPECT_EQ(key.ReadDword("showCmd").value_or(0), 1u);
    viewer.Initialize("ImageViewer", nullptr);
    frame = viewer.GetFrame();
    child = &frame->ImageWindow();
    EXPECT_EQ(frame->geometry(), QRect(40, 150, 300, 200));

    // An incomplete placement is not applied.
    viewer.Deinitialize();
    QSettings(QSettings::NativeFormat, QSettings::UserScope, "Quarlo", "Tav").remove("ImageViewer/showCmd");
    viewer.Initialize("ImageViewer", nullptr);
    frame = viewer.GetFrame();
    child = &frame->ImageWindow();
    EXPECT_EQ(frame->geometry(), QRect(0, 120, 660, 480));
}

TEST(ImageViewerKind, CreatedByTheObjectFactory)
{
    App();
    CObjectFactory factory;
    IComponent* component = factory.CreateObject("ImageViewer");
    ASSERT_NE(component, nullptr);
    EXPECT_NE(dynamic_cast<IViewer*>(component), nullptr);
    delete component;
}
