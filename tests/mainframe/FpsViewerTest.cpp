#include "FpsViewer.h"
#include "ObjectFactory.h"
#include "QtTestApp.h"
#include "SettingsKey.h"

#include "DataBuffer/ImageChunk.h"
#include "DataBuffer/Packet.h"
#include "DataBuffer/RtlHeapAllocator.h"
#include "DataBuffer/StringChunk.h"

#include <QLabel>

#include <gtest/gtest.h>


using namespace Tav;
using namespace TavTest;
using namespace std::chrono_literals;

namespace {

CSmartPointer<IChunkBuffer> ImageBuffer()
{
    CChunkPtr<CImageChunk> chunk = CreateImageChunkBuffer(0, 0, 8, 4, GetDefaultAllocator(), PixelTypeMono8);
    return chunk.GetBuffer();
}

CSmartPointer<IPacket> ImagePacket()
{
    CSmartPointer<IPacket> packet = CPacket::Create();
    packet->AddChunkBuffer(ImageBuffer().Get());
    return packet;
}

class FpsViewerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        App();
        ClearSettings();
        viewer = std::make_unique<CFpsViewer>();
        viewer->Initialize("FpsViewer", nullptr);
        viewer->GetDialog().clock = [this] { return now; };
    }
    void TearDown() override { viewer.reset(); }

    // `count` images, `period` apart, starting at the current time.
    void Deliver(int count, CFrameRateCounter::Clock::duration period)
    {
        for (int i = 0; i < count; ++i) {
            if (i > 0)
                now += period;
            viewer->Push(1, ImagePacket());
        }
    }
    QString Shown() { return viewer->GetDialog().findChild<QLabel*>("fpsValue")->text(); }

    CFrameRateCounter::Clock::time_point now{};
    std::unique_ptr<CFpsViewer> viewer;
};

} // namespace

TEST_F(FpsViewerTest, WindowExistsHiddenFromConstructionAndShowsZero)
{
    CFpsViewerDlg& dialog = viewer->GetDialog();
    EXPECT_EQ(dialog.windowTitle(), "TAV Fps Viewer");
    EXPECT_FALSE(viewer->IsVisible());
    EXPECT_TRUE(dialog.IsTimerActive());
    EXPECT_EQ(Shown(), "0");
    ASSERT_NE(dialog.findChild<QLabel*>("fpsCaption"), nullptr);
    EXPECT_EQ(dialog.findChild<QLabel*>("fpsCaption")->text(), "Current Frame Rate (fps)");
    // A second without images still shows 0.
    dialog.OnTimer();
    EXPECT_EQ(Shown(), "0");
}

TEST_F(FpsViewerTest, ImagesEvery40msShow25AndASingleImageShowsZero)
{
    Deliver(26, 40ms);
    viewer->GetDialog().OnTimer();
    EXPECT_EQ(Shown(), "25");
    EXPECT_DOUBLE_EQ(viewer->GetDialog().GetRate(), 25.0);

    // The read-out restarted the count: one image is no interval.
    now += 1s;
    Deliver(1, 40ms);
    viewer->GetDialog().OnTimer();
    EXPECT_EQ(Shown(), "0");
}

TEST_F(FpsViewerTest, RateIsRoundedToOneDecimal)
{
    // 30 intervals over 1.002 s: 29.94 frames per second.
    Deliver(31, 33400us);
    viewer->GetDialog().OnTimer();
    EXPECT_EQ(Shown(), "29.9");
    // 10 intervals over 0.8 s: 12.5 stays 12.5.
    Deliver(11, 80ms);
    viewer->GetDialog().OnTimer();
    EXPECT_EQ(Shown(), "12.5");
}

TEST_F(FpsViewerTest, CountsEveryImageChunkAndNothingElse)
{
    // Two images in one packet, one of them behind a text in its buffer's
    // neighbour: both count; a text-only packet does not.
    CSmartPointer<IPacket> packet = CPacket::Create();
    packet->AddChunkBuffer(ImageBuffer().Get());
    packet->AddChunkBuffer(MakeStringChunkBuffer({"not an image"}, 0).Get());
    packet->AddChunkBuffer(ImageBuffer().Get());
    CSmartPointer<IPacket> text = CPacket::Create();
    text->AddChunkBuffer(MakeStringChunkBuffer({"not an image"}, 0).Get());

    viewer->Push(1, packet); // first frame, second frame at once
    now += 100ms;
    viewer->Push(1, text);
    viewer->Push(1, ImagePacket());
    viewer->GetDialog().OnTimer();
    // Frames after the first: 2 within 0.1 s.
    EXPECT_EQ(Shown(), "20");
}

TEST_F(FpsViewerTest, OtherInputPortsAreRejected)
{
    EXPECT_THROW(viewer->Push(2, ImagePacket()), CException);
    viewer->GetDialog().OnTimer();
    EXPECT_EQ(Shown(), "0");
}

TEST_F(FpsViewerTest, CloseHidesAndShowBringsItBackInPlace)
{
    viewer->Show();
    Pump();
    ASSERT_TRUE(viewer->IsVisible());
    viewer->GetDialog().move(321, 77);
    Pump();
    const QPoint place = viewer->GetDialog().pos();
    EXPECT_TRUE(viewer->GetDialog().close() == false);
    EXPECT_FALSE(viewer->IsVisible());
    viewer->Show();
    Pump();
    EXPECT_TRUE(viewer->IsVisible());
    EXPECT_EQ(viewer->GetDialog().pos(), place);
    viewer->Hide();
    EXPECT_FALSE(viewer->IsVisible());
}

TEST_F(FpsViewerTest, PlacementSurvivesARestart)
{
    viewer->Show();
    viewer->GetDialog().setGeometry(QRect(250, 140, viewer->GetDialog().width(), viewer->GetDialog().height()));
    Pump();
    const QRect placed = viewer->GetDialog().normalGeometry();
    viewer.reset();
    CSettingsKey key("Software\\Quarlo\\Tav\\FpsViewer");
    ASSERT_TRUE(key.ReadDword("left").has_value());
    EXPECT_EQ(int(*key.ReadDword("left")), placed.left());
    EXPECT_EQ(int(*key.ReadDword("showCmd")), 1);

    viewer = std::make_unique<CFpsViewer>();
    EXPECT_EQ(viewer->GetDialog().geometry(), placed);
    EXPECT_FALSE(viewer->IsVisible()); // the main window decides that
}

TEST_F(FpsViewerTest, FactoryMakesAViewer)
{
    CObjectFactory factory;
    IComponent* component = factory.GetObject("FpsViewer");
    auto* fps = dynamic_cast<CFpsViewer*>(component);
    ASSERT_NE(fps, nullptr);
    EXPECT_NE(dynamic_cast<IViewer*>(component), nullptr);
    EXPECT_STREQ(fps->GetName(), "FpsViewer");
    EXPECT_EQ(fps->GetErrorPort(), 0);
}
