#include "FrameRateCounter.h"

#include <gtest/gtest.h>

using Tav::CFrameRateCounter;
using namespace std::chrono_literals;

TEST(FrameRateCounter, RateBetweenFirstAndLastFrame)
{
    CFrameRateCounter counter;
    EXPECT_EQ(counter.TakeRate(), 0.0);
    auto t0 = CFrameRateCounter::Clock::time_point{} + 10s;
    // The first frame only starts the measurement.
    counter.CountFrame(t0);
    EXPECT_EQ(counter.TakeRate(), 0.0);
    counter.CountFrame(t0 + 1s);
    counter.CountFrame(t0 + 1100ms);
    counter.CountFrame(t0 + 1200ms);
    counter.CountFrame(t0 + 1500ms);
    EXPECT_DOUBLE_EQ(counter.TakeRate(), 3 / 0.5);
    // A read-out restarts: the next frame is a new first frame.
    counter.CountFrame(t0 + 5s);
    counter.CountFrame(t0 + 5250ms);
    EXPECT_DOUBLE_EQ(counter.TakeRate(), 4.0);
    // Frames within one clock tick give no rate rather than a division by 0.
    counter.CountFrame(t0 + 6s);
    counter.CountFrame(t0 + 6s);
    EXPECT_EQ(counter.TakeRate(), 0.0);
}
