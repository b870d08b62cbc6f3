#include "HDRConverterGamma.h"
#include "HDRConverterLaplace.h"
#include "HDRConverterTonemap.h"
#include "HDRConverterTruncate.h"
#include "HDRTestImages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

using namespace Tav;

namespace {
constexpr int32_t Mono16 = HDRPixelType::Mono16;
constexpr int32_t Code = HDRPixelType::ExponentMantissa;

uint16_t Sample(int exponent, int mantissa)
{
    return static_cast<uint16_t>((exponent << 8) | mantissa);
}

// Converts a tightly packed image; fails the test when the converter refuses.
std::vector<uint8_t> ConvertAll(CHDRConverterBase& converter, const std::vector<uint16_t>& image,
                         int32_t width, int32_t height, int32_t type, int32_t bitDepth = 16)
{
    std::vector<uint8_t> out(image.size(), 0xEE);
    EXPECT_TRUE(converter.Convert(image.data(), out.data(), width, height, 2 * width, width,
                                  type, bitDepth));
    return out;
}
} // namespace

TEST(HDRConverterBase, TablesFollowTheEncodingAndStayUsableAsIndices)
{
    CHDRConverterTruncate converter;
    ASSERT_TRUE(converter.Init(8, 4));
    const int32_t* code = converter.GetCodeTable();
    const int32_t* linear = converter.GetLinearTable();
    const int32_t* log = converter.GetLogTable();
    // mantissa 100 is normalised: exponent 0 once (to -1), 1 once, 2 once.
    EXPECT_EQ(code[Sample(0, 100)], 72);
    EXPECT_EQ(code[Sample(1, 100)], 200);
    EXPECT_EQ(code[Sample(2, 100)], 328);
    EXPECT_EQ(code[Sample(5, 255)], 895);
    for (int m = 0; m < 64; ++m)
        EXPECT_EQ(code[Sample(0, m)], 0) << m;   // 2m - 128 unclamped
    const auto [low, high] = std::minmax_element(code, code + CHDRConverterBase::TableSize);
    EXPECT_EQ(*low, 0);
    EXPECT_EQ(*high, 255 + 128 * 255);
    EXPECT_EQ(linear[Sample(3, 5)], 40);
    EXPECT_EQ(linear[Sample(33, 1)], 2);
    EXPECT_EQ((std::vector<int32_t>{log[1], log[2], log[4], log[5], log[90], log[91], log[65535]}),
              (std::vector<int32_t>{0, 1, 1, 2, 4, 5, 11}));
    // The tables are built once; a new size keeps them.
    ASSERT_TRUE(converter.Init(16, 2));
    EXPECT_EQ(converter.GetCodeTable(), code);
}

TEST(HDRConverterTruncate, KeepsTheTopEightOfTheStatedBits)
{
    CHDRConverterTruncate converter;
    const std::vector<uint16_t> image{0x0FFF, 0x0123, 0xFFFF, 0x8001};
    using Bytes = std::vector<uint8_t>;
    EXPECT_EQ(ConvertAll(converter, image, 2, 2, Mono16, 12), (Bytes{0xFF, 0x12, 0xFF, 0x00}));
    EXPECT_EQ(ConvertAll(converter, image, 2, 2, Mono16, 16), (Bytes{0x0F, 0x01, 0xFF, 0x80}));
    EXPECT_EQ(ConvertAll(converter, image, 4, 1, 200, 8), (Bytes{0xFF, 0x23, 0xFF, 0x01}));
    // No stated depth means 16 bits; depths below 8 keep the low byte.
    EXPECT_EQ(ConvertAll(converter, image, 4, 1, Mono16, 0),
              ConvertAll(converter, image, 4, 1, Mono16, 16));
    EXPECT_EQ(ConvertAll(converter, image, 4, 1, Mono16, 4),
              ConvertAll(converter, image, 4, 1, Mono16, 8));
}

TEST(HDRConverterTonemap, RampSpreadsEvenlyOverAllLevels)
{
    std::vector<uint16_t> ramp(65536);
    for (size_t i = 0; i < ramp.size(); ++i)
        ramp[i] = static_cast<uint16_t>(i);
    std::shuffle(ramp.begin(), ramp.end(), std::mt19937(3));
    CHDRConverterTonemap converter;
    const std::vector<uint8_t> out = ConvertAll(converter, ramp, 256, 256, Mono16);
    std::vector<int> histogram(256, 0);
    for (uint8_t v : out)
        ++histogram[v];
    EXPECT_EQ(histogram[255], 0);
    const auto [fewest, most] = std::minmax_element(histogram.begin(), histogram.begin() + 255);
    EXPECT_GE(*fewest, 65536 / 255);
    EXPECT_LE(*most, 65536 / 255 + 1);
}

TEST(HDRConverterTonemap, FewValuesUseAsManyLevelsAsThereAreValues)
{
    CHDRConverterTonemap converter;
    const std::vector<uint16_t> image{30, 10, 20, 10};
    // Three values, so three levels: 3 * (samples below) / 4.
    EXPECT_EQ(ConvertAll(converter, image, 2, 2, Mono16), (std::vector<uint8_t>{2, 0, 1, 0}));
    // Type 128 equalises the codes: the first two share code 0, the third is above.
    const std::vector<uint16_t> codes{Sample(0, 5), Sample(0, 63), Sample(0, 200), Sample(0, 5)};
    EXPECT_EQ(ConvertAll(converter, codes, 4, 1, Code), (std::vector<uint8_t>{0, 0, 1, 0}));
    std::vector<uint8_t> out(4, 7);
    EXPECT_FALSE(converter.Convert(image.data(), out.data(), 2, 2, 4, 2, HDRPixelType::Raw16, 16));
    EXPECT_EQ(out, std::vector<uint8_t>(4, 7));
}

TEST(HDRConverterTonemap, LargeImagesDoNotOverflowTheScaling)
{
    // 256 values, each 66560 times: levels * (samples below) passes 2^32 at the top.
    const int32_t width = 4096, height = 4160;
    std::vector<uint16_t> image(static_cast<size_t>(width) * height);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint16_t>(i % 256);
    CHDRConverterTonemap converter;
    const std::vector<uint8_t> out = ConvertAll(converter, image, width, height, Mono16);
    EXPECT_EQ(out[0], 0);
    for (int v = 1; v < 256; ++v)
        ASSERT_EQ(out[v], v - 1) << v;   // floor(255 v / 256)
}

TEST(HDRConverterGamma, NarrowRangeIsStretchedOverExactly255Steps)
{
    CHDRConverterGamma converter;
    const auto image = HDRTest::RandomImage(31, 7, 1000, 1100, 5);
    const std::vector<uint8_t> out = ConvertAll(converter, image, 31, 7, Mono16);
    const uint16_t low = *std::min_element(image.begin(), image.end());
    for (size_t i = 0; i < image.size(); ++i)
        ASSERT_EQ(out[i], image[i] - low) << i;
}

TEST(HDRConverterGamma, TableFollowsGammaAndFullRangeMapsThroughIt)
{
    CHDRConverterGamma converter;
    converter.SetGamma(0.5);
    const auto& table = converter.GetGammaTable();
    for (int i : {0, 1, 100, 16384, 40000, 65535})
        EXPECT_EQ(table[i], int(std::floor(255.0 * std::sqrt(i / 65535.0) + 0.5))) << i;

    const std::vector<uint16_t> image{0, 65535, 16384, 100, 40000, 1};
    const std::vector<uint8_t> out = ConvertAll(converter, image, 3, 2, Mono16);
    for (size_t i = 0; i < image.size(); ++i)
        EXPECT_EQ(out[i], table[image[i]]);

    // Degenerate gammas still give bytes: 0 and below map to white, NaN to black.
    converter.SetGamma(-1.0);
    EXPECT_EQ(converter.GetGammaTable()[0], 255);
    converter.SetGamma(std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(converter.GetGammaTable()[65535], 0);
}

TEST(HDRConverterGamma, CodedSamplesUseTheirLinearValueOverTheFull32Bits)
{
    CHDRConverterGamma converter;
    const std::vector<uint16_t> image{Sample(0, 0), Sample(23, 255), Sample(22, 255),
                                      Sample(31, 255)};
    const std::vector<uint8_t> out = ConvertAll(converter, image, 4, 1, Code);
    // 255 << 31 wraps to the most negative value and becomes the minimum.
    EXPECT_EQ(out[3], 0);
    EXPECT_EQ(out[1], 255);
    EXPECT_GT(out[0], 100);
    EXPECT_LT(out[0], out[2]);
}

TEST(HDRConverters, LinePitchesAreHonouredAndChecked)
{
    // Two lines of three samples with a fourth, foreign sample as line padding.
    const std::vector<uint16_t> padded{100, 200, 300, 65535, 400, 500, 600, 0};
    const std::vector<uint16_t> tight{100, 200, 300, 400, 500, 600};
    CHDRConverterTonemap tonemap;
    CHDRConverterGamma gamma;
    CHDRConverterLaplace laplace;
    const std::initializer_list<CHDRConverterBase*> converters{&tonemap, &gamma, &laplace};
    for (CHDRConverterBase* converter : converters) {
        std::vector<uint8_t> out(10, 0xEE);
        ASSERT_TRUE(converter->Convert(padded.data(), out.data(), 3, 2, 8, 5, Mono16, 16));
        const std::vector<uint8_t> expected = ConvertAll(*converter, tight, 3, 2, Mono16);
        EXPECT_TRUE(std::equal(expected.begin(), expected.begin() + 3, out.begin()));
        EXPECT_TRUE(std::equal(expected.begin() + 3, expected.end(), out.begin() + 5));
        EXPECT_EQ(out[3], 0xEE);
        EXPECT_EQ(out[9], 0xEE);

        EXPECT_FALSE(converter->Convert(padded.data(), out.data(), 3, 2, 7, 5, Mono16, 16));
        EXPECT_FALSE(converter->Convert(padded.data(), out.data(), 3, 2, 4, 5, Mono16, 16));
        EXPECT_FALSE(converter->Convert(padded.data(), out.data(), 3, 2, 8, 2, Mono16, 16));
        EXPECT_FALSE(converter->Convert(nullptr, out.data(), 3, 2, 8, 5, Mono16, 16));
    }
}
