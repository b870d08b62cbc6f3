#include "ImageStatisticsTestSupport.h"

#include "Common/Exception.h"
#include "Core/RegisterRequest.h"
#include "DataBuffer/Guid.h"
#include "DataBuffer/ImageChunk.h"
#include "DataBuffer/Packet.h"
#include "DataBuffer/ValueChunk.h"

#include "DataBuffer/RtlHeapAllocator.h"
#include "ObjectFactory.h"
#include "support/TestPackets.h"
#include "StatisticsExportSupport.h"

#include <QApplication>
#include <QClipboard>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <sstream>
#include <thread>
#include <atomic>

using namespace Tav;
using namespace StatisticsTest;

namespace {

template <class F>
void ExpectFault(F&& access, uint32_t code, uint32_t line, const char* file)
{
    try {
        access();
        ADD_FAILURE() << "no exception";
    } catch (const CException& e) {
        EXPECT_EQ(e.GetCode(), code);
        EXPECT_EQ(e.GetLine(), line);
        EXPECT_EQ(e.GetFile(), file);
    }
}

// Method 0 total noise, temporal and spatial noise of two pictures, computed
// here from the definitions.
struct Expected {
    double mean = 0, total = 0, temporal = 0, spatial = 0;
    long totalPp = 0, tempPp = 0;
};

Expected Measure(const Picture& p, const Picture& before)
{
    Expected e;
    double sum = 0;
    for (uint16_t v : p.pixels)
        sum += v;
    e.mean = sum / p.pixels.size();
    const int evenWidth = p.width & ~1;
    double squares = 0;
    int low = 1 << 30, high = -(1 << 30);
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x + 4 < evenWidth; x += 4)
            for (int d : {p.At(x, y) - p.At(x + 2, y), p.At(x + 1, y) - p.At(x + 3, y)}) {
                squares += double(d) * d;
                low = std::min(low, d);
                high = std::max(high, d);
            }
    e.total = std::sqrt(squares / (evenWidth * double(p.height)));
    e.totalPp = high - low;
    double t = 0;
    low = 1 << 30, high = -(1 << 30);
    for (size_t i = 0; i < p.pixels.size(); ++i) {
        const int d = p.pixels[i] - before.pixels[i];
        t += double(d) * d;
        low = std::min(low, d);
        high = std::max(high, d);
    }
    e.temporal = std::sqrt(t / (2.0 * p.pixels.size()));
    e.tempPp = high - low;
    e.spatial = std::sqrt(e.total * e.total - e.temporal * e.temporal);
    return e;
}

} // namespace

TEST(ImageStatisticsRegisterTest, DefaultsAfterConstruction)
{
    StatisticsGraph g;
    EXPECT_EQ(g.ReadInt(16), 1);
    EXPECT_EQ(g.ReadInt(32), 10);
    EXPECT_EQ(g.ReadReal(40), 1.25);
    EXPECT_EQ(g.ReadInt(82), 10);
    EXPECT_EQ(g.ReadInt(83), 10);
    EXPECT_EQ(g.ReadInt(87), 30);
    EXPECT_EQ(g.ReadInt(96), 50);
    EXPECT_EQ(g.ReadInt(112), -1);
    EXPECT_EQ(g.ReadInt(113), 5);
    for (uint32_t zero : {3u, 5u, 7u, 8u, 9u, 10u, 17u, 18u, 19u, 20u, 25u, 33u, 38u, 84u, 85u, 86u, 89u, 98u, 99u, 115u})
        EXPECT_EQ(g.ReadInt(zero), 0) << zero;
    for (uint32_t zero : {1u, 2u, 4u, 6u, 11u, 12u, 13u, 23u, 24u, 36u, 37u})
        EXPECT_EQ(g.ReadReal(zero), 0.0) << zero;
    char name[32] = {};
    g.statistics.Read(114, name, sizeof name);
    EXPECT_STREQ(name, "temp.txt");
}

TEST(ImageStatisticsRegisterTest, AddressZeroTellsWhichSettingsApplyToTheView)
{
    StatisticsGraph g;
    const std::pair<int, uint32_t> masks[] = {
        {0, 0xFFFFF801}, {1, 0xFFFFF89F}, {2, 0xFFFFF89F},  {3, 0xFFFFFEB5},  {4, 0xFFFFFEB5},
        {5, 0xFFFFFEBD}, {6, 0xFFFFFEB9}, {7, 0xFFFFFEB9},  {8, 0xFFFFFEBD},  {9, 0xFFFFF8B5},
        {10, 0xFFFFF8B5}, {11, 0xFFFFF95E}, {12, 0xFFFFF89F},
    };
    for (auto [view, mask] : masks) {
        g.WriteInt(16, view);
        EXPECT_EQ(uint32_t(g.ReadInt(0)), mask) << view;
    }
    g.WriteInt(16, 40);
    EXPECT_EQ(uint32_t(g.ReadInt(0)) & 0xFFFFF800u, 0xFFFFF800u);
}

TEST(ImageStatisticsRegisterTest, BadAccessesRaiseTheirCodesAndChangeNothing)
{
    StatisticsGraph g;
    int32_t value = 7;
    double real = 1.0;
    auto& s = g.statistics;
    ExpectFault([&] { s.Read(14, &value, 4); }, 0xCEF00008, 375, "ImageStatistics.cpp");
    ExpectFault([&] { s.Read(116, &value, 4); }, 0xCEF00008, 375, "ImageStatistics.cpp");
    ExpectFault([&] { s.Read((uint64_t(1) << 32) | 16, &value, 4); }, 0xCEF00008, 375, "ImageStatistics.cpp");
    ExpectFault([&] { s.Read(35, &value, 4); }, 0xCEF00008, 375, "ImageStatistics.cpp");
    ExpectFault([&] { s.Write(1, &real, 8); }, 0xCEF00008, 500, "ImageStatistics.cpp");
    ExpectFault([&] { s.Write(0, &value, 4); }, 0xCEF00008, 500, "ImageStatistics.cpp");
    ExpectFault([&] { s.Write((uint64_t(1) << 32) | 16, &value, 4); }, 0xCEF00008, 500, "ImageStatistics.cpp");
    ExpectFault([&] { s.Write(16, &value, 8); }, 0xCEF00006, 37, "TavRegisterSetHelper.cpp");
    ExpectFault([&] { s.Write(37, &real, 4); }, 0xCEF00006, 37, "TavRegisterSetHelper.cpp");
    ExpectFault([&] { s.Read(2, &real, 4); }, 0xCEF00006, 37, "TavRegisterSetHelper.cpp");
    ExpectFault([&] { s.Write(16, nullptr, 4); }, 0xCEF00006, 42, "TavRegisterSetHelper.cpp");
    ExpectFault([&] { s.Read(16, nullptr, 4); }, 0xCEF00006, 42, "TavRegisterSetHelper.cpp");
    char small[4];
    ExpectFault([&] { s.Read(114, small, sizeof small); }, 0xCEF00006, 37, "TavRegisterSetHelper.cpp");
    EXPECT_EQ(g.ReadInt(16), 1);
    EXPECT_EQ(g.ReadReal(37), 0.0);

    // Modes outside their range are refused too.
    for (auto [address, bad] : {std::pair{8u, 9}, {9u, 12}, {9u, -1}, {86u, 5}, {17u, -1}, {25u, -2}}) {
        int32_t v = bad;
        EXPECT_THROW(s.Write(address, &v, 4), CException) << address;
    }
    EXPECT_EQ(g.ReadInt(9), 0);
}

TEST(ImageStatisticsRegisterTest, RequestsOnPortTwoAndTheExportFileName)
{
    StatisticsGraph g;
    const int32_t view = 9;
    g.statistics.Push(2, CRegisterRequest::Write(16, &view, 4).GetPacket());
    CRegisterRequest read = CRegisterRequest::Read(16, 4);
    g.statistics.Push(2, read.GetPacket());
    EXPECT_EQ(read.GetValue<int32_t>(), 9);

    const char name[] = "stats.txt\0garbage";
    g.statistics.Write(114, name, sizeof name);
    char back[16] = {};
    g.statistics.Read(114, back, sizeof back);
    EXPECT_STREQ(back, "stats.txt");
    // Unterminated text ends with the buffer.
    g.statistics.Write(114, "abcdef", 3);
    g.statistics.Read(114, back, sizeof back);
    EXPECT_STREQ(back, "abc");
    // No name at all is refused.
    EXPECT_THROW(g.statistics.Write(114, "", 1), CException);
    g.statistics.Read(114, back, sizeof back);
    EXPECT_STREQ(back, "abc");
}

TEST(ImageStatisticsRegisterTest, TheFactoryCreatesTheKind)
{
    CObjectFactory factory;
    IComponent* component = factory.GetObject("ImageStatistics");
    ASSERT_NE(component, nullptr);
    EXPECT_NE(dynamic_cast<CImageStatistics*>(component), nullptr);
}

TEST(ImageStatisticsTest, SmallAndColourImagesPassUnchanged)
{
    StatisticsGraph g;
    Picture narrow = MakePicture(7, 100, [](int x, int y) { return x + y; });
    CSmartPointer<IPacket> in = MakeMonoPacket(narrow);
    CSmartPointer<IPacket> out = g.Run(in);
    EXPECT_EQ(out.Get(), in.Get());
    EXPECT_EQ(g.ReadReal(1), 0.0);

    CSmartPointer<IPacket> colour = CPacket::Create();
    colour->AddChunkBuffer(CreateImageChunkBuffer(0, 0, 32, 32, GetDefaultAllocator(), PixelTypeRgb8).GetBuffer().Get());
    EXPECT_EQ(g.Run(colour).Get(), colour.Get());
    EXPECT_TRUE(g.ErrorCodes().empty());
    // Outside a run every packet ends one: each is followed by a refresh.
    EXPECT_EQ(g.refresh.Count(), 2u);
}

TEST(ImageStatisticsTest, OutputCarriesTheViewImageTheSideChunksAndARefresh)
{
    StatisticsGraph g;
    Picture p = MakePicture(64, 48, [](int x, int y) { return 10 * x + y; });
    CSmartPointer<IPacket> in = MakeMonoPacket(p);
    TavTest::AddFrameCounter(in, 41);
    in->AddChunkBuffer(MakeValueChunkBuffer(GUID_CycleTimeChunk, 0x12345678).Get());
    in->AddChunkBuffer(MakeValueChunkBuffer(GUID_StatisticsPassChunk, 5).Get());
    in->AddChunkBuffer(MakeValueChunkBuffer(GUID_DeviceStateChunk, 3).Get());
    CSmartPointer<IPacket> out = g.Run(in);
    ASSERT_TRUE(out);
    ASSERT_NE(out.Get(), in.Get());

    CChunkPtr<CImageChunk> image = FindTypedChunk<CImageChunk>(*out, GUID_ImageChunk);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->pixelType, PixelTypeRgb8);
    EXPECT_EQ(image->width, 64);
    EXPECT_EQ(image->height, 48);
    CChunkPtr<CChunk> chunk;
    out->FindChunk(chunk, GUID_FrameCounterChunk);
    EXPECT_EQ(ReadChunkValue(chunk), 41u);
    CChunkPtr<CChunk> original;
    in->FindChunk(original, GUID_FrameCounterChunk);
    EXPECT_NE(chunk.GetBuffer().Get(), original.GetBuffer().Get()); // a copy
    out->FindChunk(chunk, GUID_CycleTimeChunk);
    EXPECT_EQ(ReadChunkValue(chunk), 0x12345678u);
    out->FindChunk(chunk, GUID_StatisticsPassChunk);
    EXPECT_EQ(ReadChunkValue(chunk), 5u);
    out->FindChunk(chunk, GUID_DeviceStateChunk);
    EXPECT_FALSE(chunk);

    ASSERT_EQ(g.refresh.Count(), 1u);
    CChunkPtr<CChunk> refresh;
    g.refresh.Deliveries()[0].packet->FindChunk(refresh, GUID_RefreshChunk);
    EXPECT_EQ(ReadChunkValue(refresh), 99u);
}

TEST(ImageStatisticsTest, GreyMappingWithOffsetShiftAndRangeColours)
{
    StatisticsGraph g;
    g.WriteInt(16, 0); // no plot over the picture
    g.WriteInt(84, 100);
    g.WriteInt(85, -2);
    // Columns: below the offset, mid grey, above the 8-bit range.
    Picture p = MakePicture(16, 8, [](int x, int) { return x < 4 ? 50 : (x < 8 ? 100 + 4 * 60 : 3000); });
    CSmartPointer<IPacket> out = g.Run(p);
    CChunkPtr<CImageChunk> image = FindTypedChunk<CImageChunk>(*out, GUID_ImageChunk);
    int size = 0;
    const uint8_t* px = static_cast<const uint8_t*>(image.LockData(&size));
    auto colour = [&](int x) { return std::vector<int>{px[3 * x], px[3 * x + 1], px[3 * x + 2]}; };
    EXPECT_EQ(colour(0), (std::vector<int>{0, 24, 204}));     // under range, stored blue, green, red
    EXPECT_EQ(colour(5), (std::vector<int>{60, 60, 60}));
    EXPECT_EQ(colour(12), (std::vector<int>{193, 255, 251})); // over range
    image.UnlockData();
}

TEST(ImageStatisticsNoiseTest, SyntheticFramesAgreeWithTheDefinitions)
{
    StatisticsGraph g;
    const int W = 512, H = 512;
    const double sigma = 20.0;
    const std::vector<double> pattern = GaussianField(W, H, 6.0, 1);
    const std::vector<double> n1 = GaussianField(W, H, sigma, 2), n2 = GaussianField(W, H, sigma, 3);
    Picture a = MakePicture(W, H, [&](int x, int y) { return 2000 + pattern[size_t(y) * W + x] + n1[size_t(y) * W + x]; });
    Picture b = MakePicture(W, H, [&](int x, int y) { return 2000 + pattern[size_t(y) * W + x] + n2[size_t(y) * W + x]; });
    g.WriteInt(16, 0);
    g.Run(a);
    g.Run(b);
    const Expected e = Measure(b, a);
    EXPECT_NEAR(g.ReadReal(1), e.mean, 1e-9);
    EXPECT_NEAR(g.ReadReal(2), e.total, 1e-9);
    EXPECT_NEAR(g.ReadReal(4), e.temporal, 1e-9);
    EXPECT_NEAR(g.ReadReal(6), e.spatial, 1e-9);
    EXPECT_EQ(g.ReadInt(3), e.totalPp);
    EXPECT_EQ(g.ReadInt(5), e.tempPp);
    EXPECT_EQ(g.ReadInt(7), e.totalPp - e.tempPp);
    EXPECT_NEAR(g.ReadReal(4), sigma, 0.02 * sigma);
    // The fixed pattern alone, less the four pixels each line's pairs leave out.
    EXPECT_NEAR(g.ReadReal(6), std::sqrt((400 + 36) * (1 - 4 / 512.0) - 400), 0.6);
}

TEST(ImageStatisticsNoiseTest, IdenticalFramesHaveNoTemporalNoise)
{
    StatisticsGraph g;
    const std::vector<double> noise = GaussianField(64, 64, 10.0, 5);
    Picture p = MakePicture(64, 64, [&](int x, int y) { return 500 + noise[size_t(y) * 64 + x]; });
    g.Run(p);
    EXPECT_EQ(g.ReadReal(4), 0.0); // no previous frame yet
    g.Run(p);
    EXPECT_EQ(g.ReadReal(4), 0.0);
    EXPECT_EQ(g.ReadInt(5), 0);
    EXPECT_GT(g.ReadReal(2), 5.0);
    EXPECT_EQ(g.ReadReal(6), g.ReadReal(2));
    EXPECT_EQ(g.ReadInt(7), g.ReadInt(3));
}

TEST(ImageStatisticsNoiseTest, TemporalAboveTotalGivesNegativeSpatialNoise)
{
    StatisticsGraph g;
    g.Run(MakePicture(32, 32, [](int, int) { return 3000; }));
    g.Run(MakePicture(32, 32, [](int x, int y) { return 3000 + ((x + y) % 2) * 2; }));
    // Differences two apart see the flat checkerboard as no noise.
    EXPECT_EQ(g.ReadReal(2), 0.0);
    EXPECT_NEAR(g.ReadReal(4), 1.0, 1e-12); // half the pixels differ by 2
    EXPECT_NEAR(g.ReadReal(6), -1.0, 1e-12);
}

TEST(ImageStatisticsNoiseTest, PeakToPeakIsTheSpanOfTheDifferences)
{
    StatisticsGraph g;
    // A uniform step of 1000 between frames: every difference the same.
    g.Run(MakePicture(32, 32, [](int, int) { return 1000; }));
    g.Run(MakePicture(32, 32, [](int, int) { return 2000; }));
    EXPECT_EQ(g.ReadInt(5), 0);
    EXPECT_NEAR(g.ReadReal(4), 1000 / std::sqrt(2.0), 1e-9);

    // After margin and sub-sampling a 4 x 4 working image leaves no pairs.
    g.WriteInt(9, 1);
    g.Run(MakePicture(8, 8, [](int x, int) { return 10 * x; }));
    EXPECT_EQ(g.ReadInt(3), 0);
    EXPECT_EQ(g.ReadReal(2), 0.0);
}

TEST(ImageStatisticsNoiseTest, SixteenWideLinesUseSixDifferencesOverSixteen)
{
    StatisticsGraph g;
    // Groups of four a, b, c, d with a - c = 4 and b - d = 0.
    const int group[] = {104, 50, 100, 50};
    g.Run(MakePicture(16, 8, [&](int x, int) { return group[x % 4]; }));
    EXPECT_NEAR(g.ReadReal(2), std::sqrt(3 * 16.0 / 16.0), 1e-12);
    EXPECT_EQ(g.ReadInt(3), 4);

    // Method 1: adjacent pairs of the middle line only.
    g.WriteInt(10, 1);
    Picture p = MakePicture(16, 8, [](int x, int y) { return y == 4 ? (x % 2) * 6 : 1000 * (x % 2); });
    g.Run(p);
    EXPECT_NEAR(g.ReadReal(2), std::sqrt(8 * 36.0 / 16.0), 1e-12);
    EXPECT_EQ(g.ReadInt(3), 0);
}

TEST(ImageStatisticsNoiseTest, AveragingDepthBlendsFrames)
{
    StatisticsGraph g;
    g.WriteInt(25, 3);
    g.Run(MakePicture(16, 16, [](int, int) { return 100; }));
    EXPECT_NEAR(g.ReadReal(1), 25.0, 1e-12); // (3 * 0 + 100) / 4
    g.Run(MakePicture(16, 16, [](int, int) { return 200; }));
    EXPECT_NEAR(g.ReadReal(1), (3 * 25.0 + 200) / 4, 1e-12);
    // Integers truncate: temporal pp of a flat step is 0, total pp 0.
    EXPECT_EQ(g.ReadInt(5), 0);
}

TEST(ImageStatisticsNoiseTest, SyntheticNoiseHasItsScale)
{
    StatisticsGraph g;
    g.WriteInt(16, 0);
    g.WriteInt(8, 3); // spatial and temporal noise, both of scale 10
    Picture flat = MakePicture(256, 256, [](int, int) { return 20000; });
    g.Run(flat);
    g.Run(flat);
    EXPECT_NEAR(g.ReadReal(4), 10.0, 0.3);
    EXPECT_NEAR(g.ReadReal(6), 10.0, 0.5);
    EXPECT_NEAR(g.ReadReal(2), std::sqrt(200.0), 0.5);

    // Mono8 input gets none.
    StatisticsGraph h;
    h.WriteInt(8, 3);
    h.Run(MakeMonoPacket(MakePicture(64, 64, [](int, int) { return 100; }), PixelTypeMono8));
    EXPECT_EQ(h.ReadReal(2), 0.0);
    EXPECT_EQ(h.ReadReal(1), 100.0);
}

TEST(ImageStatisticsWorkingImageTest, MarginRoundingAndSubSampling)
{
    StatisticsGraph g;
    auto gradient = [](int x, int y) { return x + 256 * y; };
    g.WriteInt(17, 1000); // before any image: taken as written, limited by the first image
    g.Run(MakePicture(50, 30, gradient));
    EXPECT_EQ(g.ReadInt(18), 11);
    EXPECT_EQ(g.ReadInt(17), 11);
    g.WriteInt(17, 3);
    g.Run(MakePicture(50, 30, gradient));
    auto w = g.statistics.GetWorkingImage();
    EXPECT_EQ(w.width, 44);  // 50 - 6 rounded down to a multiple of 4
    EXPECT_EQ(w.height, 24);
    EXPECT_EQ(w.At(0, 0), 3 + 256 * 3);
    EXPECT_EQ(g.ReadInt(21), 43);
    EXPECT_EQ(g.ReadInt(22), 23);
    EXPECT_EQ(g.ReadInt(83), 6);

    const struct {
        int mode, width, height, x0, y0, dx, dy;
    } modes[] = {
        {1, 22, 12, 3, 3, 2, 2},  {2, 22, 12, 4, 3, 2, 2},  {3, 22, 12, 3, 4, 2, 2}, {4, 22, 12, 4, 4, 2, 2},
        {5, 44, 12, 3, 4, 1, 2},  {6, 44, 12, 3, 3, 1, 2},  {7, 22, 24, 4, 3, 2, 1}, {8, 22, 24, 3, 3, 2, 1},
        {9, 14, 24, 3, 3, 3, 1},  {10, 14, 24, 4, 3, 3, 1}, {11, 14, 24, 5, 3, 3, 1},
    };
    for (const auto& m : modes) {
        g.WriteInt(9, m.mode);
        g.Run(MakePicture(50, 30, gradient));
        w = g.statistics.GetWorkingImage();
        EXPECT_EQ(w.width, m.width) << m.mode;
        EXPECT_EQ(w.height, m.height) << m.mode;
        EXPECT_EQ(w.At(1, 1), (m.x0 + m.dx) + 256 * (m.y0 + m.dy)) << m.mode;
    }
}

TEST(ImageStatisticsWorkingImageTest, ReferenceImagesCorrectDarkAndGain)
{
    StatisticsGraph g;
    int32_t none = 0;
    EXPECT_THROW(g.statistics.Write(88, &none, 4), CException); // nothing measured yet

    Picture dark = MakePicture(16, 16, [](int x, int) { return x < 8 ? 20 : 80; });
    g.Run(dark);
    g.statistics.Write(88, &none, 4);
    g.WriteInt(89, 1);
    g.Run(MakePicture(16, 16, [](int, int) { return 1000; }));
    auto w = g.statistics.GetWorkingImage();
    EXPECT_EQ(w.At(0, 0), 1030); // + (50 - 20)
    EXPECT_EQ(w.At(12, 0), 1000);
    g.WriteInt(89, 0);

    // Gain: a shaded flat field becomes flat.
    Picture shaded = MakePicture(16, 16, [](int x, int) { return 100 + 10 * x; });
    g.Run(shaded);
    g.statistics.Write(97, &none, 4);
    g.WriteInt(98, 1);
    g.Run(shaded);
    w = g.statistics.GetWorkingImage();
    for (int x = 0; x < 16; ++x)
        EXPECT_NEAR(w.At(x, 3), 175, 1) << x;

    // Another size switches the option off.
    g.Run(MakePicture(32, 32, [](int, int) { return 7; }));
    EXPECT_EQ(g.ReadInt(98), 0);
    EXPECT_EQ(g.statistics.GetWorkingImage().At(0, 0), 7);
}

TEST(ImageStatisticsWorkingImageTest, TemporalFilterModes)
{
    StatisticsGraph g;
    g.WriteInt(86, 4); // cumulative mean
    for (int v : {100, 200, 300})
        g.Run(MakePicture(16, 16, [&](int, int) { return v; }));
    EXPECT_EQ(g.ReadInt(99), 3);
    EXPECT_EQ(g.statistics.GetWorkingImage().At(5, 5), 200);
    g.WriteInt(10, 0); // choosing the total-noise method restarts the count
    EXPECT_EQ(g.ReadInt(99), 0);

    g.WriteInt(99, 0);
    g.WriteInt(86, 3); // the difference to the cumulative mean, centred on 128
    g.Run(MakePicture(16, 16, [](int, int) { return 400; }));
    g.Run(MakePicture(16, 16, [](int, int) { return 410; }));
    EXPECT_EQ(g.statistics.GetWorkingImage().At(0, 0), 410 + 128 - 405);

    g.WriteInt(86, 2); // recursive filter of depth 1
    g.WriteInt(87, 1);
    g.Run(MakePicture(16, 16, [](int, int) { return 1000; }));
    EXPECT_EQ(g.statistics.GetWorkingImage().At(0, 0), (405 + 1000) / 2);
}

TEST(ImageStatisticsWorkingImageTest, WindowOptionRemovesShading)
{
    StatisticsGraph g;
    g.WriteInt(17, 8);
    g.WriteInt(81, 1);
    g.WriteInt(82, 9); // limited to 2m = 16 on re-initialisation, kept
    Picture ramp = MakePicture(64, 64, [](int x, int) { return 1000 + 20 * x; });
    g.Run(ramp);
    auto w = g.statistics.GetWorkingImage();
    // A linear ramp equals its box mean: only the image mean is left.
    for (int x = 0; x < w.width; x += 7)
        EXPECT_NEAR(w.At(x, 10), 1000 + 20 * 31.5, 1) << x;

    g.WriteInt(81, 2);
    g.Run(ramp);
    w = g.statistics.GetWorkingImage();
    EXPECT_NEAR(w.At(5, 5), 1000 + 20 * 13, 1);
}

TEST(ImageStatisticsRunTest, FramesLeftCountDownAndAutomaticExport)
{
    StatisticsGraph g;
    const std::string file = (std::filesystem::temp_directory_path() /
                              ("tav_stat_export_" + std::to_string(::getpid()) + ".txt")).string();
    std::filesystem::remove(file);
    g.statistics.Write(114, file.c_str(), uint32_t(file.size() + 1));
    g.WriteInt(115, 1);
    g.WriteInt(16, 0);

    Picture p = MakePicture(16, 16, [](int x, int) { return 100 + x; });
    CSmartPointer<IPacket> start = MakeMonoPacket(p);
    start->AddChunkBuffer(MakeValueChunkBuffer(GUID_AcquisitionMarkerChunk, 0).Get());
    g.Run(start);
    g.WriteInt(112, 2);
    g.Run(p);
    EXPECT_EQ(g.ReadInt(112), 1);
    EXPECT_FALSE(std::filesystem::exists(file));
    g.Run(p);
    EXPECT_EQ(g.ReadInt(112), 0);
    ASSERT_TRUE(std::filesystem::exists(file));
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str().substr(0, 26), "Measure\tValue\nMean\t107.500");
    std::filesystem::remove(file);

    // The end marker leaves run mode: frames left goes back to -1.
    g.Run(TavTest::MakeMarkerPacket(1, 1));
    EXPECT_EQ(g.ReadInt(112), -1);

    // Writing 2 to address 35 writes the whole table.
    g.WriteInt(16, 9);
    g.Run(p);
    g.WriteInt(35, 2);
    std::ifstream table(file);
    std::string first;
    std::getline(table, first);
    EXPECT_EQ(first, "Grey Values\tNumber of Pixles");
    std::filesystem::remove(file);
}

TEST(ImageStatisticsRunTest, ExportTypeZeroPutsTheHeaderColumnOnTheClipboard)
{
    StatisticsTest::App();
    QApplication::clipboard()->setText("old");
    StatisticsGraph g;
    g.Run(MakePicture(16, 16, [](int x, int) { return x; }));
    g.WriteInt(35, 0);
    const std::string text = QApplication::clipboard()->text().toStdString();
    const std::string header = "Horizontal Lineview\n\nX coordinate\t(insert here)\n0\n1\n";
    EXPECT_EQ(text.substr(0, header.size()), header);
    g.WriteInt(35, 7); // no such type: nothing happens
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(), text);
}

TEST(ImageStatisticsRunTest, RegisterWritesFromAnotherThreadNeverMeetAHalfDoneFrame)
{
    StatisticsGraph g;
    std::atomic<bool> done{false};
    std::thread writer([&] {
        int round = 0;
        while (!done.load()) {
            const int32_t view = round % 13, margin = round % 9, mode = round % 12;
            g.statistics.Write(16, &view, 4);
            g.statistics.Write(17, &margin, 4);
            g.statistics.Write(9, &mode, 4);
            double mean = 0;
            g.statistics.Read(1, &mean, 8);
            ++round;
        }
    });
    for (int frame = 0; frame < 60; ++frame) {
        const int size = 16 + 8 * (frame % 4);
        g.Run(MakePicture(size, size + 8, [&](int x, int y) { return 100 + x * y % 50 + frame; }));
    }
    done = true;
    writer.join();
    EXPECT_TRUE(g.ErrorCodes().empty());
    EXPECT_EQ(g.output.Count(), 60u);
}

namespace {

// An image chunk whose header is written as given, over `bytes` of pixels.
CSmartPointer<IPacket> RawImagePacket(int width, int height, int32_t pitch, uint8_t type, const std::vector<uint8_t>& bytes)
{
    CChunkPtr<CImageChunk> image =
        CreateImageChunkBuffer(0, 0, int(bytes.size()), 1, GetDefaultAllocator(), PixelTypeMono8);
    int size = 0;
    std::memcpy(image.LockData(&size), bytes.data(), bytes.size());
    image.UnlockData();
    image->width = uint16_t(width);
    image->height = uint16_t(height);
    image->pitch = pitch;
    image->pixelType = type;
    CSmartPointer<IPacket> packet = CPacket::Create();
    packet->AddChunkBuffer(image.GetBuffer().Get());
    return packet;
}

} // namespace

TEST(ImageStatisticsInputTest, BottomUpImagesAreReadTopLineFirst)
{
    StatisticsGraph g;
    std::vector<uint8_t> bytes(16 * 8);
    for (int row = 0; row < 8; ++row)
        std::fill_n(bytes.begin() + 16 * row, 16, uint8_t(10 * row)); // memory row 0 is the bottom line
    g.Run(RawImagePacket(16, 8, -16, PixelTypeMono8, bytes));
    auto w = g.statistics.GetWorkingImage();
    EXPECT_EQ(w.At(0, 0), 70);
    EXPECT_EQ(w.At(0, 7), 0);
}

TEST(ImageStatisticsInputTest, MalformedImagesAreReportedAndPassedOn)
{
    StatisticsGraph g;
    const std::vector<uint8_t> few(100, 1);
    for (auto packet : {RawImagePacket(64, 64, 128, PixelTypeMono16, few), // pixels missing
                        RawImagePacket(16, 8, 0, PixelTypeMono8, few),      // no pitch
                        RawImagePacket(16, 8, 8, PixelTypeMono8, few)}) {   // lines overlap
        EXPECT_EQ(g.Run(packet).Get(), packet.Get());
    }
    EXPECT_EQ(g.ErrorCodes(), (std::vector<uint32_t>{0xCEF00006, 0xCEF00006, 0xCEF00006}));
    EXPECT_EQ(g.refresh.Count(), 3u);
    // The module goes on measuring.
    g.Run(MakePicture(16, 16, [](int, int) { return 9; }));
    EXPECT_EQ(g.ReadReal(1), 9.0);
}

TEST(ImageStatisticsInputTest, AnRgbChunkBesideTheImageIsTheBackground)
{
    StatisticsGraph g;
    g.WriteInt(16, 0);
    CSmartPointer<IPacket> packet = MakeMonoPacket(MakePicture(16, 8, [](int, int) { return 50; }));
    CChunkPtr<CImageChunk> colour = CreateImageChunkBuffer(0, 0, 16, 8, GetDefaultAllocator(), PixelTypeRgb8);
    int size = 0;
    uint8_t* px = static_cast<uint8_t*>(colour.LockData(&size));
    for (int i = 0; i < size; ++i)
        px[i] = uint8_t(i % 3 == 0 ? 200 : 7);
    colour.UnlockData();
    packet->AddChunkBuffer(colour.GetBuffer().Get());
    CSmartPointer<IPacket> out = g.Run(packet);
    CChunkPtr<CImageChunk> image = FindTypedChunk<CImageChunk>(*out, GUID_ImageChunk);
    const uint8_t* drawn = static_cast<const uint8_t*>(image.LockData(&size));
    EXPECT_EQ((std::vector<int>{drawn[30], drawn[31], drawn[32]}), (std::vector<int>{200, 7, 7}));
    image.UnlockData();
    EXPECT_EQ(g.ReadReal(1), 50.0); // the monochrome image is still the measured one
}
