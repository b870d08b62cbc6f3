#pragma once

// Waitable objects and the waits on them: events, mutexes and anything else
// that can be signalled. Waits keep the Win32 meaning: wait for one object,
// for all of a set at once (acquired together or not at all), or for any of
// a set, where the lowest signalled index wins. Time-outs are milliseconds;
// a negative time-out waits without limit.
//
// Uncontended acquisition and signalling are lock-free; only a wait that
// must block takes the shared wait lock.

#include <atomic>
#include <cstdint>
#include <initializer_list>

namespace Tav::Platform {

namespace Detail {
// Threads blocked in a wait; signallers wake them only when there are some.
extern std::atomic<int> blockedWaiters;
void WakeBlockedWaiters();
} // namespace Detail

constexpr int32_t Infinite = -1;

// Wait results, as the Win32 waits return them.
constexpr uint32_t WaitObject0 = 0;
constexpr uint32_t WaitTimedOut = 258;
constexpr uint32_t WaitFailed = 0xFFFFFFFFu;

class Waitable {
public:
    virtual ~Waitable();

    Waitable(const Waitable&) = delete;
    Waitable& operator=(const Waitable&) = delete;

protected:
    Waitable() = default;

    // Wakes blocked waiters after a state change that may satisfy a wait.
    // The change must be stored sequentially consistent before this runs.
    static void NotifyStateChanged()
    {
        if (Detail::blockedWaiters.load(std::memory_order_seq_cst) > 0)
            Detail::WakeBlockedWaiters();
    }

    static bool TryWait(uint32_t count, Waitable* const* objects, bool waitAll, uint32_t& index, bool& undone);

private:
    friend uint32_t WaitForMultipleObjects(uint32_t, Waitable* const*, bool, int32_t);

    // Takes the object as a satisfied wait would (consuming an auto-reset
    // event, owning a mutex); true on success. Never blocks.
    virtual bool TryAcquire() = 0;
    // Gives back what TryAcquire took, without waking anyone.
    virtual void UndoAcquire() = 0;
};

// Waits for `count` objects. Returns WaitObject0 + index (the lowest
// signalled index, or 0 for a satisfied wait-all), WaitTimedOut, or
// WaitFailed with the last error set (null object, count 0 or above 64).
uint32_t WaitForMultipleObjects(uint32_t count, Waitable* const* objects, bool waitAll, int32_t milliseconds);

inline uint32_t WaitForSingleObject(Waitable& object, int32_t milliseconds)
{
    Waitable* objects[] = {&object};
    return WaitForMultipleObjects(1, objects, false, milliseconds);
}

inline uint32_t WaitForMultipleObjects(std::initializer_list<Waitable*> objects, bool waitAll, int32_t milliseconds)
{
    return WaitForMultipleObjects(static_cast<uint32_t>(objects.size()), objects.begin(), waitAll, milliseconds);
}

} // namespace Tav::Platform
