// Pixel formats and frame counters of the GenICam plug-in.
#include "KvHal/FrameCounter.h"
#include "KvHal/PixelFormat.h"

#include "DataBuffer/ImageChunk.h"

#include <arv.h>
#include <gtest/gtest.h>

using namespace Tav;
using namespace Tav::Hal::Kv;

TEST(KvPixelFormat, MapsTheCarriedFormatsAndRefusesTheOthers)
{
    struct Case {
        uint32_t format;
        uint8_t type, depth, pattern;
        uint32_t bytes;
    };
    const Case cases[] = {
        {ARV_PIXEL_FORMAT_MONO_8, PixelTypeMono8, 0, 0, 1},
        {ARV_PIXEL_FORMAT_MONO_10, PixelTypeMono16, 10, 0, 2},
        {ARV_PIXEL_FORMAT_MONO_12, PixelTypeMono16, 12, 0, 2},
        {ARV_PIXEL_FORMAT_MONO_16, PixelTypeMono16, 16, 0, 2},
        {ARV_PIXEL_FORMAT_RGB_8_PACKED, PixelTypeRgb8, 0, 0, 3},
        {ARV_PIXEL_FORMAT_YUV_422_PACKED, PixelTypeYuv422, 0, 0, 2},
        {ARV_PIXEL_FORMAT_BAYER_RG_8, PixelTypeRaw8, 0, FilterPatternRggb, 1},
        {ARV_PIXEL_FORMAT_BAYER_GB_8, PixelTypeRaw8, 0, FilterPatternGbrg, 1},
        {ARV_PIXEL_FORMAT_BAYER_GR_8, PixelTypeRaw8, 0, FilterPatternGrbg, 1},
        {ARV_PIXEL_FORMAT_BAYER_BG_8, PixelTypeRaw8, 0, FilterPatternBggr, 1},
    };
    for (const Case& c : cases) {
        CPixelLayout layout;
        ASSERT_TRUE(PixelLayoutOf(c.format, layout)) << std::hex << c.format;
        EXPECT_EQ(layout.pixelType, c.type);
        EXPECT_EQ(layout.bitDepth, c.depth);
        EXPECT_EQ(layout.filterPattern, c.pattern);
        EXPECT_EQ(layout.bytesPerPixel, c.bytes);
        if (c.depth == 0 || c.depth == 16)
            EXPECT_EQ(PixelFormatOf(c.type, c.pattern), c.format);
    }
    CPixelLayout layout;
    EXPECT_FALSE(PixelLayoutOf(ARV_PIXEL_FORMAT_MONO_12_PACKED, layout));
    EXPECT_FALSE(PixelLayoutOf(ARV_PIXEL_FORMAT_YUV_422_YUYV_PACKED, layout));
    EXPECT_FALSE(PixelLayoutOf(ARV_PIXEL_FORMAT_BAYER_RG_16, layout));
    EXPECT_EQ(PixelFormatOf(PixelTypeRaw16, 0), 0u);
}

TEST(KvFrameCounter, StepsByTheFramesTheCameraSent)
{
    CFrameCounter counter;
    EXPECT_EQ(counter.Next(7, 0), 7u);
    EXPECT_EQ(counter.Next(8, 0), 8u);
    EXPECT_EQ(counter.Next(11, 0), 11u); // two frames lost in between
    // 16-bit block ids: 65534, 65535, then 1.
    counter.Restart();
    EXPECT_EQ(counter.Next(65534, 0), 65534u);
    EXPECT_EQ(counter.Next(65535, 0), 65535u);
    EXPECT_EQ(counter.Next(1, 0), 65536u);
    EXPECT_EQ(counter.Next(3, 0), 65538u);
    // No ids: one step per frame plus what the stream lost.
    counter.Restart();
    EXPECT_EQ(counter.Next(0, 5), 0u);
    EXPECT_EQ(counter.Next(0, 5), 1u);
    EXPECT_EQ(counter.Next(0, 8), 5u);
    // Wide ids wrap the 32-bit counter like any counter.
    counter.Restart();
    EXPECT_EQ(counter.Next(0x1FFFFFFFFull, 0), 0xFFFFFFFFu);
    EXPECT_EQ(counter.Next(0x200000000ull, 0), 0u);
}
