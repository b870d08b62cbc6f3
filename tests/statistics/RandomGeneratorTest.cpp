#include "GaussRandomGenerator.h"
#include "UniformRandomGenerator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

using namespace Tav;

namespace {

// The reference generator written from the algorithm's definition, with the
// congruential step done in 64-bit arithmetic instead of Schrage's method.
struct ReferenceRan1 {
    int64_t state;
    int64_t iy = 0;
    int64_t iv[32] = {};

    explicit ReferenceRan1(int64_t seed) : state(seed) {}
    static int64_t Step(int64_t s) { return (s * 16807) % 2147483647; }
    double Next()
    {
        if (state <= 0 || iy == 0) {
            state = -state < 1 ? 1 : -state;
            for (int j = 39; j >= 0; --j) {
                state = Step(state);
                if (j < 32)
                    iv[j] = state;
            }
            iy = iv[0];
        }
        state = Step(state);
        const int64_t j = iy / (1 + (2147483647 - 1) / 32);
        iy = iv[j];
        iv[j] = state;
        const double value = iy / 2147483647.0;
        return value > 1.0 - 1.2e-7 ? 1.0 - 1.2e-7 : value;
    }
};

struct ReferenceGasdev {
    ReferenceRan1 uniform;
    bool kept = false;
    double second = 0;
    explicit ReferenceGasdev(int64_t seed) : uniform(seed) {}
    double Next()
    {
        if (kept) {
            kept = false;
            return second;
        }
        double v1, v2, rsq;
        do {
            v1 = 2.0 * uniform.Next() - 1.0;
            v2 = 2.0 * uniform.Next() - 1.0;
            rsq = v1 * v1 + v2 * v2;
        } while (rsq >= 1.0 || rsq == 0.0);
        const double f = std::sqrt(-2.0 * std::log(rsq) / rsq);
        second = v1 * f;
        kept = true;
        return v2 * f;
    }
};

} // namespace

TEST(RandomGeneratorTest, ReferenceCongruentialStepHasTheMinimalStandardCheckValue)
{
    // Park and Miller: from 1, the 10000th step gives 1043618065.
    int64_t s = 1;
    for (int i = 0; i < 10000; ++i)
        s = ReferenceRan1::Step(s);
    EXPECT_EQ(s, 1043618065);
}

TEST(RandomGeneratorTest, UniformReproducesTheShuffledSequence)
{
    for (int32_t seed : {-1, -12345, -2147483646, 0, 17}) {
        CUniformRandomGenerator generator(seed);
        ReferenceRan1 reference(seed);
        for (int i = 0; i < 5000; ++i) {
            const double value = generator.Next();
            ASSERT_NEAR(value, reference.Next(), 1e-15) << "seed " << seed << " draw " << i;
            ASSERT_GT(value, 0.0);
            ASSERT_LE(value, 0.99999988);
        }
    }
}

TEST(RandomGeneratorTest, TheModulusAsSeedDoesNotDegenerate)
{
    // Its first step would give 0 for ever; it starts from 1 instead.
    CUniformRandomGenerator generator(-2147483647);
    ReferenceRan1 reference(1);
    for (int i = 0; i < 100; ++i) {
        const double value = generator.Next();
        EXPECT_GT(value, 0.0);
        EXPECT_EQ(value, reference.Next());
    }
}

TEST(RandomGeneratorTest, ResetReturnsToTheStoredSeedAndReseedKeepsIt)
{
    CUniformRandomGenerator generator(-99);
    std::vector<double> first;
    for (int i = 0; i < 50; ++i)
        first.push_back(generator.Next());
    generator.Reset();
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(generator.Next(), first[size_t(i)]);

    generator.Reseed();
    EXPECT_EQ(generator.GetSeed(), -99);
    EXPECT_LE(generator.GetState(), 0);
    generator.Reset();
    EXPECT_EQ(generator.Next(), first[0]);
}

TEST(RandomGeneratorTest, GaussReproducesThePolarMethodAndResetDropsTheKeptValue)
{
    CGaussRandomGenerator generator(-4711);
    ReferenceGasdev reference(-4711);
    std::vector<double> values;
    for (int i = 0; i < 2001; ++i) {
        values.push_back(generator.Next());
        ASSERT_NEAR(values.back(), reference.Next(), 1e-12) << i;
    }
    // An odd count leaves a value kept; after Reset the sequence starts over.
    generator.Reset();
    EXPECT_EQ(generator.Next(), values[0]);
    EXPECT_EQ(generator.Next(), values[1]);
}

TEST(RandomGeneratorTest, GaussHasUnitVariance)
{
    CGaussRandomGenerator generator(-1);
    double sum = 0, squares = 0;
    const int count = 200000;
    for (int i = 0; i < count; ++i) {
        const double v = generator.Next();
        sum += v;
        squares += v * v;
    }
    const double mean = sum / count;
    EXPECT_NEAR(mean, 0.0, 0.01);
    EXPECT_NEAR(squares / count - mean * mean, 1.0, 0.01);
}
