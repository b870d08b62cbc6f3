#include "FrameRateCounter.h"

namespace Tav {

CFrameRateCounter::CFrameRateCounter()
{
    lock.Create();
}

CFrameRateCounter::~CFrameRateCounter()
{
    lock.Delete();
}

void CFrameRateCounter::CountFrame(Clock::time_point now)
{
    CCriticalSectionLock guard(lock);
    if (restart) {
        restart = false;
        elapsed = 0.0;
        start = now;
        return;
    }
    ++count;
    last = now;
    elapsed = std::chrono::duration<double>(last - start).count();
}

double CFrameRateCounter::TakeRate()
{
    CCriticalSectionLock guard(lock);
    // Frames counted within one clock tick have no measurable interval.
    double rate = (count == 0 || elapsed <= 0.0) ? 0.0 : count / elapsed;
    restart = true;
    count = 0;
    return rate;
}

} // namespace Tav
