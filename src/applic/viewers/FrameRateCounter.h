#pragma once

#include "Common/CriticalSectionWin32.h"

#include <chrono>
#include <cstdint>

namespace Tav {

// Frames displayed per second, measured between the first and the last frame
// counted since the last read-out. Both threads' entry points take its lock.
class CFrameRateCounter {
public:
    using Clock = std::chrono::steady_clock;

    CFrameRateCounter();
    ~CFrameRateCounter();

    void CountFrame() { CountFrame(Clock::now()); }
    void CountFrame(Clock::time_point now);
    // The rate since the last read-out (0 without counted intervals); the
    // next frame starts a new measurement.
    double TakeRate();

private:
    CCriticalSectionWin32 lock;
    bool restart = true;
    uint32_t count = 0;
    Clock::time_point start;
    Clock::time_point last;
    double elapsed = 0.0;
};

} // namespace Tav
