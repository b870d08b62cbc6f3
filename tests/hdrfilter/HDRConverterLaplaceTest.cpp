#include "HDRConverterLaplace.h"
#include "HDRTestImages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

using namespace Tav;

namespace {

// A plain, pixel-at-a-time model of the pyramid compressor; planes are [y][x].
using Plane = std::vector<std::vector<int>>;

int CodeOf(int exponent, int mantissa)
{
    if (mantissa < 128)
        do {
            --exponent;
            mantissa *= 2;
        } while (exponent > 0 && mantissa < 127);
    return std::max(0, mantissa + 128 * exponent);
}

int MonoCode(int sample)
{
    int e = 0;
    for (; sample > 255; ++e)
        sample /= 2;
    return CodeOf(e, sample);
}

Plane ReduceModel(const Plane& f)
{
    const int fw = int(f[0].size()), fh = int(f.size()), cw = fw / 2, ch = fh / 2;
    Plane c(ch, std::vector<int>(cw));
    const int weight[3] = {1, 2, 1};
    for (int y = 0; y < ch; ++y)
        for (int x = 0; x < cw; ++x) {
            const bool lastX = x == cw - 1 && x > 0, lastY = y == ch - 1 && y > 0;
            int sum = 0;
            if ((lastX && y == 0) || (x == 0 && lastY) || (lastX && lastY)) {
                const int cx = lastX ? fw - 1 : 0, cy = lastY ? fh - 1 : 0;
                const int ix = lastX ? -1 : 1, iy = lastY ? -1 : 1;
                sum = 9 * f[cy][cx] + 3 * f[cy][cx + ix] + 3 * f[cy + iy][cx] + f[cy + iy][cx + ix];
            } else {
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx) {
                        const int fx = (2 * x + dx < 0 || (dx == 1 && lastX)) ? 2 * x : 2 * x + dx;
                        const int fy = (2 * y + dy < 0 || (dy == 1 && lastY)) ? 2 * y : 2 * y + dy;
                        sum += weight[dx + 1] * weight[dy + 1] * f[fy][fx];
                    }
            }
            c[y][x] = sum >> 4;
        }
    return c;
}

// Coarse neighbours of a fine position along one axis.
std::vector<int> Taps(int position, int coarseCount)
{
    const int k = position / 2;
    if (position % 2 == 0 || k + 1 >= coarseCount)
        return {k};
    return {k, k + 1};
}

// fine += sign * coarse enlarged by 2.
void AddExpandedModel(Plane& f, const Plane& c, int sign)
{
    for (int y = 0; y < int(f.size()); ++y)
        for (int x = 0; x < int(f[0].size()); ++x) {
            const auto tx = Taps(x, int(c[0].size())), ty = Taps(y, int(c.size()));
            int sum = 0;
            for (int a : tx)
                for (int b : ty)
                    sum += c[b][a];
            const size_t n = tx.size() * ty.size();
            f[y][x] += sign * (sum >> (n == 4 ? 2 : n == 2 ? 1 : 0));
        }
}

void CompressModel(Plane& p, int gain)
{
    for (auto& line : p)
        for (int& c : line)
            if (c != 0) {
                const int m = gain * int(std::floor(std::log(std::min(std::abs(c), 65535)) + 0.5));
                c = c < 0 ? -m : m;
            }
}

// The 8-bit result; `rebuilt` receives the rebuilt image over the unpadded area.
std::vector<uint8_t> LaplaceModel(const std::vector<uint16_t>& image, int w, int h, bool coded,
                                  std::vector<int>* rebuilt = nullptr)
{
    const int pw = (w + 31) / 32 * 32, ph = (h + 31) / 32 * 32;
    const int left = (pw - w) / 2, top = (ph - h) / 2;
    std::vector<Plane> level{Plane(ph, std::vector<int>(pw, 0))};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int s = image[size_t(y) * w + x];
            level[0][top + y][left + x] = coded ? CodeOf(s >> 8, s & 0xFF) : MonoCode(s);
        }
    const int gain[6] = {96, 80, 64, 48, 32, 128};
    for (int i = 1; i < 6; ++i) {
        level.push_back(ReduceModel(level[i - 1]));
        AddExpandedModel(level[i - 1], level[i], -1);
        CompressModel(level[i - 1], gain[i - 1]);
    }
    CompressModel(level[5], gain[5]);
    for (int i = 5; i > 0; --i)
        AddExpandedModel(level[i - 1], level[i], 1);
    std::vector<int> values;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            values.push_back(level[0][top + y][left + x]);
    const auto [low, high] = std::minmax_element(values.begin(), values.end());
    const int range = std::max(*high - *low, 255);
    std::vector<uint8_t> out;
    for (int v : values)
        out.push_back(static_cast<uint8_t>((v - *low) * 255 / range));
    if (rebuilt)
        *rebuilt = values;
    return out;
}

std::vector<uint8_t> Convert(CHDRConverterLaplace& converter, const std::vector<uint16_t>& image,
                             int w, int h, int32_t type)
{
    std::vector<uint8_t> out(image.size(), 0xEE);
    EXPECT_TRUE(converter.Convert(image.data(), out.data(), w, h, 2 * w, w, type, 16));
    return out;
}

} // namespace

TEST(HDRConverterLaplace, MatchesThePixelModelOnWholeAndPaddedSizes)
{
    CHDRConverterLaplace converter;
    struct Case { int w, h; uint16_t low, high; };
    for (const Case& c : {Case{64, 32, 0, 65535}, Case{50, 37, 0, 65535}, Case{33, 70, 200, 5000},
                          Case{32, 32, 0, 65535}, Case{7, 3, 0, 65535}}) {
        const auto image = HDRTest::RandomImage(c.w, c.h, c.low, c.high, c.w * 100 + c.h);
        EXPECT_EQ(Convert(converter, image, c.w, c.h, HDRPixelType::Mono16),
                  LaplaceModel(image, c.w, c.h, false))
            << c.w << "x" << c.h;
    }
    EXPECT_EQ(converter.GetWidth(), 32);
    EXPECT_EQ(converter.GetHeight(), 32);
}

TEST(HDRConverterLaplace, CodedSamplesIncludingTheSmallestMantissasMatchTheModel)
{
    // Exponent 0 with mantissas below 64 is where unclamped codes would go negative.
    auto image = HDRTest::RandomImage(64, 32, 0, 0x0CFF, 11);
    for (size_t i = 0; i < image.size(); i += 3)
        image[i] = static_cast<uint16_t>(i % 64);
    CHDRConverterLaplace converter;
    EXPECT_EQ(Convert(converter, image, 64, 32, HDRPixelType::ExponentMantissa),
              LaplaceModel(image, 64, 32, true));
}

TEST(HDRConverterLaplace, NarrowRangeIsStretchedOverExactly255Steps)
{
    // A gentle ramp whose codes cross one step of the coarsest band's logarithm.
    std::vector<uint16_t> image(64 * 32);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint16_t>(2300 + 5 * (i % 64));
    std::vector<int> rebuilt;
    LaplaceModel(image, 64, 32, false, &rebuilt);
    const auto [low, high] = std::minmax_element(rebuilt.begin(), rebuilt.end());
    ASSERT_LT(*high - *low, 255);
    ASSERT_GT(*high - *low, 0);
    CHDRConverterLaplace converter;
    const std::vector<uint8_t> out = Convert(converter, image, 64, 32, HDRPixelType::Mono16);
    for (size_t i = 0; i < out.size(); ++i)
        ASSERT_EQ(out[i], rebuilt[i] - *low) << i;
}

TEST(HDRConverterLaplace, SizeChangesDoNotCarryStateBetweenFrames)
{
    const auto a = HDRTest::RandomImage(64, 32, 0, 65535, 21);
    const auto b = HDRTest::RandomImage(100, 20, 0, 65535, 22);
    CHDRConverterLaplace converter;
    const std::vector<uint8_t> first = Convert(converter, a, 64, 32, HDRPixelType::Mono16);
    const int32_t* tables = converter.GetCodeTable();
    Convert(converter, b, 100, 20, HDRPixelType::Mono16);
    EXPECT_EQ(converter.GetWidth(), 128);
    EXPECT_EQ(Convert(converter, a, 64, 32, HDRPixelType::Mono16), first);
    EXPECT_EQ(converter.GetCodeTable(), tables);
}

TEST(HDRConverterLaplace, RefusesUnsupportedTypesAndSizes)
{
    CHDRConverterLaplace converter;
    EXPECT_FALSE(converter.Init(0, 32));
    EXPECT_FALSE(converter.Init(32, 48));
    EXPECT_TRUE(converter.Init(96, 32));
    EXPECT_EQ(CHDRConverterLaplace::PaddedSize(33), 64);
    EXPECT_EQ(CHDRConverterLaplace::PaddedSize(64), 64);

    std::vector<uint16_t> image(64, 1000);
    std::vector<uint8_t> out(64, 0xEE);
    const int32_t mono16 = HDRPixelType::Mono16;
    EXPECT_FALSE(converter.Convert(image.data(), out.data(), 8, 8, 16, 8, HDRPixelType::Raw16, 16));
    EXPECT_FALSE(converter.Convert(image.data(), out.data(), 0, 8, 16, 8, mono16, 16));
    EXPECT_FALSE(converter.Convert(image.data(), out.data(), 8, 8, 15, 8, mono16, 16));
    EXPECT_EQ(out, std::vector<uint8_t>(64, 0xEE));
}
