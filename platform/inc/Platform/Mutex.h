#pragma once

// A mutex object as the Win32 waits know it: owned by one thread, re-entrant
// for its owner, acquired by waiting on it (alone or together with other
// objects), released by its owner.

#include "Platform/Waitable.h"

#include <atomic>
#include <cstdint>

namespace Tav::Platform {

namespace Detail {
// Constant-initialised, so reading it needs no initialisation check.
inline thread_local uint64_t threadTag = 0;
uint64_t AssignThreadTag();
} // namespace Detail

class Mutex final : public Waitable {
public:
    Mutex() = default;

    // Takes the mutex if it is free or already the caller's; never blocks.
    bool TryLock()
    {
        const uint64_t self = CurrentThreadTag();
        uint64_t expected = 0;
        if (owner.compare_exchange_strong(expected, self, std::memory_order_seq_cst)) {
            recursion = 1;
            return true;
        }
        if (expected == self) {
            ++recursion;
            return true;
        }
        return false;
    }

    // False with ErrorNotOwner as last error when the caller does not own it.
    bool Release()
    {
        if (owner.load(std::memory_order_relaxed) != CurrentThreadTag())
            return ReleaseNotOwned();
        if (--recursion == 0) {
            owner.store(0, std::memory_order_seq_cst);
            NotifyStateChanged();
        }
        return true;
    }

    bool IsOwnedByCaller() const { return owner.load(std::memory_order_relaxed) == CurrentThreadTag(); }

    // A small non-zero number naming the calling thread.
    static uint64_t CurrentThreadTag()
    {
        const uint64_t tag = Detail::threadTag;
        return tag ? tag : Detail::AssignThreadTag();
    }

private:
    bool TryAcquire() override { return TryLock(); }
    void UndoAcquire() override;
    static bool ReleaseNotOwned();

    std::atomic<uint64_t> owner{0};
    uint32_t recursion = 0; // touched by the owner only
};

} // namespace Tav::Platform
