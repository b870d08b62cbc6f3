#include "Platform/Waitable.h"

#include "Platform/SystemError.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace Tav::Platform {

namespace {

// Blocked waiters sleep on one condition variable; signallers only touch it
// when somebody is blocked. A waiter announces itself (blockedWaiters) before
// it checks the objects, and a signaller changes the state before it reads
// blockedWaiters, all sequentially consistent, so no wake-up is lost.
struct WaitLock {
    std::mutex mutex;
    std::condition_variable changed;
};

WaitLock& Lock()
{
    static WaitLock* lock = new WaitLock; // never destroyed: waits may run during exit
    return *lock;
}

constexpr uint32_t maxObjects = 64;

} // namespace

// One attempt at the whole wait, never blocking. For wait-all, every object
// is taken or none is; `undone` tells that something was given back.
bool Waitable::TryWait(uint32_t count, Waitable* const* objects, bool waitAll, uint32_t& index, bool& undone)
{
    if (!waitAll) {
        for (uint32_t i = 0; i < count; ++i) {
            if (objects[i]->TryAcquire()) {
                index = i;
                return true;
            }
        }
        return false;
    }
    for (uint32_t i = 0; i < count; ++i) {
        if (!objects[i]->TryAcquire()) {
            for (uint32_t j = i; j-- > 0;)
                objects[j]->UndoAcquire();
            undone = undone || i > 0;
            return false;
        }
    }
    index = 0;
    return true;
}

namespace {

bool ValidArguments(uint32_t count, Waitable* const* objects, bool waitAll)
{
    if (count == 0 || count > maxObjects || !objects) {
        SetLastError(ErrorInvalidParameter);
        return false;
    }
    for (uint32_t i = 0; i < count; ++i) {
        if (!objects[i]) {
            SetLastError(ErrorInvalidHandle);
            return false;
        }
        // Waiting for all of a set that holds one object twice cannot work.
        if (waitAll)
            for (uint32_t j = 0; j < i; ++j)
                if (objects[j] == objects[i]) {
                    SetLastError(ErrorInvalidParameter);
                    return false;
                }
    }
    return true;
}

} // namespace

Waitable::~Waitable() = default;

std::atomic<int> Detail::blockedWaiters{0};

void Detail::WakeBlockedWaiters()
{
    WaitLock& w = Lock();
    { std::lock_guard<std::mutex> guard(w.mutex); }
    w.changed.notify_all();
}

uint32_t WaitForMultipleObjects(uint32_t count, Waitable* const* objects, bool waitAll, int32_t milliseconds)
{
    if (!ValidArguments(count, objects, waitAll))
        return WaitFailed;

    uint32_t index = 0;
    bool undone = false;
    if (Waitable::TryWait(count, objects, waitAll, index, undone))
        return WaitObject0 + index;
    // Something given back may be what another waiter needs.
    if (undone)
        Waitable::NotifyStateChanged();
    if (milliseconds == 0)
        return WaitTimedOut;

    WaitLock& w = Lock();
    const bool timed = milliseconds > 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timed ? milliseconds : 0);

    Detail::blockedWaiters.fetch_add(1, std::memory_order_seq_cst);
    std::unique_lock<std::mutex> lock(w.mutex);
    uint32_t result = WaitTimedOut;
    for (;;) {
        undone = false;
        if (Waitable::TryWait(count, objects, waitAll, index, undone)) {
            result = WaitObject0 + index;
            break;
        }
        if (undone)
            w.changed.notify_all();
        if (!timed) {
            w.changed.wait(lock);
        } else if (w.changed.wait_until(lock, deadline) == std::cv_status::timeout) {
            undone = false;
            if (Waitable::TryWait(count, objects, waitAll, index, undone))
                result = WaitObject0 + index;
            else if (undone)
                w.changed.notify_all();
            break;
        }
    }
    lock.unlock();
    Detail::blockedWaiters.fetch_sub(1, std::memory_order_seq_cst);
    return result;
}

} // namespace Tav::Platform
