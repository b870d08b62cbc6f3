#include "ImageStatisticsTestSupport.h"

#include "ViewPainter.h"

#include "DataBuffer/Guid.h"
#include "DataBuffer/ImageChunk.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>

using namespace Tav;
using namespace StatisticsTest;

namespace {

// Lines with a sinusoid of period 16 whose phase moves from line to line.
Picture PeriodicLines(int width, int height, double amplitude, double base = 1000)
{
    return MakePicture(width, height, [=](int x, int y) {
        return base + amplitude * std::sin(2 * std::numbers::pi * x / 16.0 + 0.37 * y);
    });
}

size_t ArgMax(const std::vector<double>& values, size_t from)
{
    return size_t(std::max_element(values.begin() + long(from), values.end()) - values.begin());
}

} // namespace

TEST(ImageStatisticsViewTest, LineViewsFollowTheSelectedLineAndColumn)
{
    StatisticsGraph g;
    g.WriteInt(20, 3); // line
    g.WriteInt(19, 5); // column
    g.Run(MakePicture(32, 16, [](int x, int y) { return 4 * x + y; }));
    CStatisticsExportData d = g.statistics.GetExportData();
    EXPECT_EQ(d.view, 1);
    ASSERT_EQ(d.values.size(), 32u);
    for (int x = 0; x < 32; ++x)
        EXPECT_EQ(d.values[size_t(x)], std::min(255, 4 * x + 3)) << x;
    EXPECT_EQ(g.ReadReal(23), 23.0);
    EXPECT_EQ(g.ReadReal(36), 67.0); // element 16 of the sorted line

    g.WriteInt(16, 2);
    g.Run(MakePicture(32, 16, [](int x, int y) { return 4 * x + y; }));
    d = g.statistics.GetExportData();
    ASSERT_EQ(d.values.size(), 16u);
    EXPECT_EQ(d.values[7], 27.0);
    EXPECT_EQ(g.ReadReal(23), 23.0); // at the selected line

    // A selection beyond the image is pulled inside it.
    g.WriteInt(19, 500);
    g.Run(MakePicture(32, 16, [](int x, int y) { return 4 * x + y; }));
    EXPECT_EQ(g.ReadInt(19), 31);
}

TEST(ImageStatisticsViewTest, LineViewAveragesOverFrames)
{
    StatisticsGraph g;
    g.WriteInt(25, 1);
    g.Run(MakePicture(16, 16, [](int, int) { return 100; }));
    g.Run(MakePicture(16, 16, [](int, int) { return 200; }));
    EXPECT_EQ(g.statistics.GetExportData().values[0], 150.0); // the first frame fills the vector
    g.WriteInt(16, 1); // re-initialised
    g.Run(MakePicture(16, 16, [](int, int) { return 40; }));
    EXPECT_EQ(g.statistics.GetExportData().values[0], 40.0);
}

TEST(ImageStatisticsViewTest, PeriodSixteenPeaksAtItsBinAndThePeakSearchFindsIt)
{
    StatisticsGraph g;
    g.WriteInt(16, 3);
    // The window keeps the peak one run of bins above the threshold: without
    // it, whole periods leave exact zeros between the side bins.
    g.WriteInt(38, 1);
    g.Run(PeriodicLines(256, 64, 40.0));
    CStatisticsExportData d = g.statistics.GetExportData();
    ASSERT_EQ(d.transformLength, 256);
    ASSERT_EQ(d.values.size(), 257u);
    ASSERT_EQ(d.values2.size(), 257u);
    const size_t bin = 2 * 256 / 16;
    EXPECT_EQ(ArgMax(d.values, 1), bin);
    EXPECT_EQ(g.ReadInt(21), 256);
    EXPECT_EQ(g.ReadInt(22), 64);

    g.WriteInt(39, 1);
    EXPECT_EQ(g.ReadInt(19), int(bin));
    EXPECT_NEAR(g.ReadReal(24), 16.0, 1e-12); // the period shows at once
    // From the top end downwards as well.
    g.WriteInt(19, 256);
    g.WriteInt(39, -1);
    EXPECT_EQ(g.ReadInt(19), int(bin));
    g.WriteInt(39, 5); // other values do nothing
    EXPECT_EQ(g.ReadInt(19), int(bin));

    // With the bin selected the pattern is coherent, its period 2N / k.
    g.Run(PeriodicLines(256, 64, 40.0));
    d = g.statistics.GetExportData();
    EXPECT_NEAR(d.values2[bin] / d.values[bin], 1.0, 1e-6);
    EXPECT_NEAR(g.ReadReal(24), 16.0, 1e-12);
    EXPECT_NEAR(g.ReadReal(23), d.values[bin], 1e-12);
    g.WriteReal(37, 2.0);
    g.Run(PeriodicLines(256, 64, 40.0));
    EXPECT_NEAR(g.ReadReal(24), 2.0 * 32 * 0.5 / 256, 1e-12);
}

TEST(ImageStatisticsViewTest, PeakSearchAtTheEndTakesTheOpenPeakOrTheEnd)
{
    StatisticsGraph g;
    g.WriteInt(16, 3);
    g.Run(PeriodicLines(256, 16, 40.0));
    g.WriteReal(40, 1e9); // nothing rises above the threshold
    g.WriteInt(19, 100);
    g.WriteInt(39, 1);
    EXPECT_EQ(g.ReadInt(19), 256);
    g.WriteInt(39, -1);
    EXPECT_EQ(g.ReadInt(19), 0);
}

TEST(ImageStatisticsViewTest, WhiteNoiseSpectrumIsFlatAtSigma)
{
    StatisticsGraph g;
    const std::vector<double> noise = GaussianField(512, 256, 25.0, 11);
    Picture p = MakePicture(512, 256, [&](int x, int y) { return 5000 + noise[size_t(y) * 512 + x]; });
    g.WriteInt(16, 4);
    g.Run(p);
    EXPECT_NEAR(g.ReadReal(12), 25.0, 0.05 * 25.0);
    EXPECT_NEAR(g.ReadReal(11), 25.0, 0.05 * 25.0);
    EXPECT_NEAR(g.ReadReal(13), 1.0, 0.1);
    EXPECT_EQ(g.ReadReal(36), g.ReadReal(12));

    // The Hamming window keeps the level.
    g.WriteInt(38, 1);
    g.Run(p);
    EXPECT_NEAR(g.ReadReal(12), 25.0, 0.05 * 25.0);
    CStatisticsExportData d = g.statistics.GetExportData();
    EXPECT_EQ(d.view, 4);
    EXPECT_EQ(d.values.size(), 513u);
}

TEST(ImageStatisticsViewTest, ZeroVarianceSpectrumHasNoNonWhiteCoefficient)
{
    StatisticsGraph g;
    g.WriteInt(16, 3);
    g.Run(MakePicture(64, 64, [](int x, int) { return 700 + 0 * x; }));
    EXPECT_EQ(g.ReadReal(12), 0.0);
    EXPECT_EQ(g.ReadReal(11), 0.0);
    EXPECT_EQ(g.ReadReal(13), 0.0);
    // The first bin past the end leaves no bins for the full noise.
    g.WriteInt(19, 64);
    g.Run(PeriodicLines(64, 64, 10.0));
    EXPECT_EQ(g.ReadReal(11), 0.0);
}

TEST(ImageStatisticsViewTest, VerticalSpectrumUsesColumnsAndTheirLength)
{
    StatisticsGraph g;
    g.WriteInt(16, 6);
    g.WriteInt(38, 1);
    // A period of 8 lines down every column.
    g.Run(MakePicture(32, 128, [](int x, int y) { return 1000 + 30 * std::cos(2 * std::numbers::pi * y / 8.0 + x); }));
    CStatisticsExportData d = g.statistics.GetExportData();
    EXPECT_EQ(d.transformLength, 128);
    ASSERT_EQ(d.values.size(), 129u);
    EXPECT_EQ(ArgMax(d.values, 1), 32u);
    g.WriteInt(39, 1);
    EXPECT_EQ(g.ReadInt(20), 32);
    EXPECT_EQ(g.ReadInt(19), 0);
    EXPECT_EQ(g.statistics.GetExportData().selectedBin, 32);
}

TEST(ImageStatisticsViewTest, PhaseAlignedMeanLineRecoversTheShiftedPattern)
{
    StatisticsGraph g;
    g.WriteInt(16, 5);
    g.WriteInt(19, 32); // period 16 in a 2N = 512 transform
    g.Run(PeriodicLines(256, 64, 60.0, 128));
    CStatisticsExportData d = g.statistics.GetExportData();
    ASSERT_EQ(d.values.size(), 256u);
    // Lines aligned on their phase add up: the mean keeps the full swing,
    // where plain averaging of the shifted lines would flatten it.
    double low = 1e9, high = -1e9;
    for (size_t j = 0; j < 200; ++j) {
        ASSERT_GE(d.values[j], 0.0) << j;
        low = std::min(low, d.values[j]);
        high = std::max(high, d.values[j]);
    }
    EXPECT_GT(high - low, 100.0);
}

TEST(ImageStatisticsViewTest, HistogramsCountMappedValues)
{
    StatisticsGraph g;
    g.WriteInt(16, 9);
    g.WriteInt(85, -2);
    g.WriteInt(19, 25);
    // Values 0 .. 1023: four per bin after the shift, 2048 out of range.
    g.Run(MakePicture(64, 48, [](int x, int y) { return (y * 64 + x) % 1024 + (y >= 32 ? 2000 : 0); }));
    CStatisticsExportData d = g.statistics.GetExportData();
    ASSERT_EQ(d.values.size(), 256u);
    double counted = 0;
    for (double c : d.values)
        counted += c;
    EXPECT_EQ(counted, 64 * 32);
    EXPECT_EQ(d.values[25], 8.0);
    EXPECT_EQ(g.ReadReal(23), 8.0);
    EXPECT_EQ(g.ReadReal(24), 25.0);
    EXPECT_EQ(g.ReadReal(36), 191.0); // half of 3072 pixels reached at bin 191
    EXPECT_EQ(d.displayShift, -2);

    g.WriteInt(16, 10);
    g.Run(MakePicture(64, 48, [](int x, int y) { return (y * 64 + x) % 1024 + (y >= 32 ? 2000 : 0); }));
    d = g.statistics.GetExportData();
    EXPECT_NEAR(d.values[25], std::log10(8.0), 1e-12);

    g.WriteInt(84, 5000); // everything below the offset: empty bins give -1
    g.Run(MakePicture(64, 48, [](int, int) { return 10; }));
    d = g.statistics.GetExportData();
    EXPECT_EQ(d.values[0], -1.0);
    EXPECT_EQ(g.ReadReal(36), -1.0);
}

TEST(ImageStatisticsViewTest, DeviationViewCountsAndMarksPixels)
{
    StatisticsGraph g;
    g.WriteInt(16, 11);
    g.WriteInt(32, 10);
    g.WriteInt(19, 2);
    g.WriteInt(20, 1);
    Picture p = MakePicture(16, 16, [](int x, int y) { return y == 1 ? (x < 4 ? 150 : (x < 6 ? 100 : 128)) : 130; });
    CSmartPointer<IPacket> out = g.Run(p);
    EXPECT_EQ(g.ReadInt(33), 6);
    EXPECT_EQ(g.ReadReal(23), 150.0 - 128.0);
    EXPECT_TRUE(g.statistics.GetExportData().values.empty());

    CChunkPtr<CImageChunk> image = FindTypedChunk<CImageChunk>(*out, GUID_ImageChunk);
    int size = 0;
    const uint8_t* px = static_cast<const uint8_t*>(image.LockData(&size));
    const CRgbColor above = HlsToRgb(128, 181, 255);
    const uint8_t* marked = px + 3 * (16 * 1 + 0);
    EXPECT_EQ(std::vector<int>(marked, marked + 3), (std::vector<int>{above.blue, above.green, above.red}));
    const uint8_t* plain = px + 3 * (16 * 5 + 3);
    EXPECT_EQ(std::vector<int>(plain, plain + 3), (std::vector<int>{130, 130, 130}));
    image.UnlockData();
}

TEST(ImageStatisticsViewTest, LineScanHasMeanAndDeviationPerColumn)
{
    StatisticsGraph g;
    g.WriteInt(16, 12);
    // Column x alternates between x and x + 2 * (x % 5) down the lines.
    g.Run(MakePicture(20, 16, [](int x, int y) { return x + (y % 2) * 2 * (x % 5); }));
    CStatisticsExportData d = g.statistics.GetExportData();
    ASSERT_EQ(d.values.size(), 20u);
    ASSERT_EQ(d.values2.size(), 20u);
    for (int x = 0; x < 20; ++x) {
        EXPECT_NEAR(d.values[size_t(x)], x + (x % 5), 1e-12) << x;
        EXPECT_NEAR(d.values2[size_t(x)], x % 5, 1e-9) << x;
    }
}

TEST(ImageStatisticsViewTest, ViewZeroAndUnknownViewsExportOnlyMeasures)
{
    StatisticsGraph g;
    for (int view : {0, 13}) {
        g.WriteInt(16, view);
        g.Run(MakePicture(16, 16, [](int x, int) { return 10 * x; }));
        CStatisticsExportData d = g.statistics.GetExportData();
        EXPECT_EQ(d.view, view);
        EXPECT_TRUE(d.values.empty());
        EXPECT_GT(d.mean, 0.0);
        EXPECT_EQ(d.mean, g.ReadReal(1));
        EXPECT_EQ(d.totalNoisePp, g.ReadInt(3));
    }
}

TEST(ImageStatisticsViewTest, PlotsAreDrawnOverTheOutputImage)
{
    StatisticsGraph g;
    g.WriteInt(16, 3);
    CSmartPointer<IPacket> out = g.Run(PeriodicLines(640, 480, 40.0));
    CChunkPtr<CImageChunk> image = FindTypedChunk<CImageChunk>(*out, GUID_ImageChunk);
    int size = 0;
    const uint8_t* px = static_cast<const uint8_t*>(image.LockData(&size));
    long coloured = 0;
    for (int i = 0; i < 640 * 480; ++i)
        if (px[3 * i] != px[3 * i + 1] || px[3 * i + 1] != px[3 * i + 2])
            ++coloured;
    image.UnlockData();
    EXPECT_GT(coloured, 500); // the curves are not grey
}
