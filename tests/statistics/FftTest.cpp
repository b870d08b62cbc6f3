#include "RealFft.h"

#include "Common/Exception.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

using namespace Tav;

namespace {

// re = sum x cos(2 pi jk / n), im = sum x sin(2 pi jk / n), k = 0 .. n/2.
std::vector<double> NaiveTransform(const std::vector<double>& x)
{
    const size_t n = x.size();
    std::vector<double> out(n + 2);
    for (size_t k = 0; k <= n / 2; ++k) {
        long double re = 0, im = 0;
        for (size_t j = 0; j < n; ++j) {
            const long double angle = 2.0L * std::numbers::pi_v<long double> * ((j * k) % n) / n;
            re += x[j] * std::cos(angle);
            im += x[j] * std::sin(angle);
        }
        out[2 * k] = double(re);
        out[2 * k + 1] = double(im);
    }
    return out;
}

} // namespace

TEST(FftTest, MatchesTheDirectSumForEveryStageLayout)
{
    // 4 .. 32: the smallest sizes, odd and even stage counts; 2048: a working size.
    std::mt19937 engine(7);
    std::uniform_real_distribution<double> uniform(-100.0, 100.0);
    for (int n : {4, 8, 16, 32, 64, 128, 512, 2048}) {
        std::vector<double> x(static_cast<size_t>(n));
        for (double& v : x)
            v = uniform(engine);
        const std::vector<double> expected = NaiveTransform(x);
        std::vector<double> data(x);
        data.resize(size_t(n) + 2);
        CRealFft::Get(n)->Transform(data.data());
        double worst = 0.0;
        for (size_t i = 0; i < data.size(); ++i)
            worst = std::max(worst, std::abs(data[i] - expected[i]));
        EXPECT_LT(worst, 1e-9 * n) << "n = " << n;
        EXPECT_EQ(data[1], 0.0) << "n = " << n;
        EXPECT_EQ(data[size_t(n) + 1], 0.0) << "n = " << n;
    }
}

TEST(FftTest, SineAndCosineLandInTheirBinWithTheTransformsSign)
{
    const int n = 64, k = 5;
    std::vector<double> data(n + 2);
    for (int j = 0; j < n; ++j)
        data[size_t(j)] = std::cos(2 * std::numbers::pi * k * j / n) + 2 * std::sin(2 * std::numbers::pi * k * j / n);
    CRealFft::Get(n)->Transform(data.data());
    EXPECT_NEAR(data[2 * k], n / 2.0, 1e-9);
    EXPECT_NEAR(data[2 * k + 1], n, 1e-9); // +sin: positive imaginary part
    for (int bin = 0; bin <= n / 2; ++bin) {
        if (bin == k)
            continue;
        EXPECT_NEAR(std::hypot(data[2 * size_t(bin)], data[2 * size_t(bin) + 1]), 0.0, 1e-9) << bin;
    }
}

TEST(FftTest, OneSharedTransformPerLengthAndOnlyPowersOfTwo)
{
    EXPECT_EQ(CRealFft::Get(256).get(), CRealFft::Get(256).get());
    EXPECT_NE(CRealFft::Get(256).get(), CRealFft::Get(512).get());
    for (int bad : {0, 2, 6, 100, -8}) {
        try {
            CRealFft::Get(bad);
            ADD_FAILURE() << bad;
        } catch (const CException& e) {
            EXPECT_EQ(e.GetCode(), 0xCEF00006u);
        }
    }
}
