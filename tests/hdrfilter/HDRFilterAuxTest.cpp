#include "HDRConverterGamma.h"
#include "HDRConverterLaplace.h"
#include "HDRConverterTonemap.h"
#include "HDRConverterTruncate.h"
#include "HDRFilterAux.h"

#include "Common/Exception.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

using namespace Tav;

TEST(HDRFilterAux, Packed12GroupsGiveTheirFourSamples)
{
    const std::vector<uint8_t> packed{0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC,
                                      0xF0, 0xFF, 0x00, 0x0F, 0xA5, 0x5A};
    std::vector<uint16_t> samples(8, 0);
    UnpackPacked12(packed.data(), packed.size(), samples.data(), 8);
    EXPECT_EQ(samples, (std::vector<uint16_t>{0x341, 0x278, 0x56B, 0xC9A,
                                              0xFFF, 0x00F, 0x005, 0xAA5}));
}

TEST(HDRFilterAux, PartialLastGroupGivesItsFirstSamplesOnly)
{
    const std::vector<uint8_t> packed{0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC,
                                      0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC};
    const std::vector<uint16_t> group{0x341, 0x278, 0x56B};
    for (size_t rest = 1; rest <= 3; ++rest) {
        const size_t count = 4 + rest;
        EXPECT_EQ(Packed12ByteCount(count), 6 + 2 * rest);
        std::vector<uint16_t> samples(8, 0xEEEE);
        UnpackPacked12(packed.data(), Packed12ByteCount(count), samples.data(), count);
        for (size_t i = 0; i < rest; ++i)
            EXPECT_EQ(samples[4 + i], group[i]) << rest;
        for (size_t i = count; i < 8; ++i)
            EXPECT_EQ(samples[i], 0xEEEE) << rest;
    }
}

TEST(HDRFilterAux, Packed12DataTooShortIsRejectedBeforeWriting)
{
    const std::vector<uint8_t> packed(8, 0xFF);
    std::vector<uint16_t> samples(6, 0);
    // 6 samples need 10 bytes; the 9 a 12-bit-per-pixel size gives are not enough.
    for (size_t available : {size_t(9), size_t(8)}) {
        try {
            UnpackPacked12(packed.data(), available, samples.data(), 6);
            ADD_FAILURE() << available;
        } catch (const CException& e) {
            EXPECT_EQ(e.GetCode(), 0xCEF00006u);
            EXPECT_EQ(e.GetFile(), "HDRFilterAux.cpp");
        }
    }
    EXPECT_EQ(samples, std::vector<uint16_t>(6, 0));
    EXPECT_THROW(UnpackPacked12(nullptr, 100, samples.data(), 4), CException);
    UnpackPacked12(nullptr, 0, nullptr, 0);
}

TEST(HDRFilterAux, FalseColourScaleRunsThroughItsBreakpointsSmoothly)
{
    const HDRPalette& palette = GetHDRPalette(1);
    using Entry = std::array<uint8_t, 3>;
    const std::vector<Entry> expected{{131, 0, 0}, {255, 4, 0}, {251, 255, 8}, {128, 255, 131},
                                      {0, 128, 255}, {0, 0, 131}};
    const std::vector<Entry> found{palette[0], palette[32], palette[97], palette[128],
                                   palette[192], palette[255]};
    EXPECT_EQ(found, expected);
    for (int v = 1; v < 256; ++v)
        for (int b = 0; b < 3; ++b)
            EXPECT_LE(std::abs(palette[v][b] - palette[v - 1][b]), 4) << v << " " << b;
}

TEST(HDRFilterAux, GreyPalettesMapEveryPixelWithPitches)
{
    // Two lines of three values, one padding byte per source line.
    const std::vector<uint8_t> source{0, 1, 200, 9, 255, 128, 77, 9};
    std::vector<uint8_t> target(2 * 10, 0xEE);
    MapHDRPalette(GetHDRPalette(2), source.data(), 4, target.data(), 10, 3, 2);
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 3; ++x)
            for (int b = 0; b < 3; ++b)
                EXPECT_EQ(target[10 * y + 3 * x + b], 255 - source[4 * y + x]);
        EXPECT_EQ(target[10 * y + 9], 0xEE);
    }
    for (int32_t other : {0, 3, -1})
        for (int v : {0, 17, 255})
            EXPECT_EQ(GetHDRPalette(other)[v], (HDRPalette::value_type{uint8_t(v), uint8_t(v),
                                                                       uint8_t(v)}));
}

TEST(HDRFilterAux, SelectionAndPixelTypes)
{
    CHDRConverterTruncate truncate;
    CHDRConverterTonemap tonemap;
    CHDRConverterLaplace laplace;
    CHDRConverterGamma gamma;
    auto select = [&](int32_t value, double g = 1.0) {
        return &SelectHDRConverter(value, g, truncate, tonemap, laplace, gamma);
    };
    EXPECT_EQ(select(0), &truncate);
    EXPECT_EQ(select(1), &tonemap);
    EXPECT_EQ(select(2), &laplace);
    EXPECT_EQ(select(4), &truncate);
    EXPECT_EQ(select(-1), &truncate);
    EXPECT_EQ(select(3, HDRGammaFromPercent(50)), &gamma);
    EXPECT_DOUBLE_EQ(gamma.GetGamma(), 0.5);
    EXPECT_EQ(gamma.GetGammaTable()[16384], 128);

    for (int32_t type = 0; type < 256; ++type)
        EXPECT_EQ(IsHDRPixelType(type), type == 5 || type == 10 || type == 128 || type == 129);
    EXPECT_EQ(HDRConvertPixelType(10), 5);
    EXPECT_EQ(HDRConvertPixelType(128), 128);
    EXPECT_EQ((std::vector<int32_t>{HDRTargetPixelType(10), HDRTargetPixelType(129),
                                    HDRTargetPixelType(5), HDRTargetPixelType(128)}),
              (std::vector<int32_t>{9, 9, 0, 0}));
}
