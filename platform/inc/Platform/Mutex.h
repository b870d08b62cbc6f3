#pragma once

// A mutex object as the Win32 waits know it: owned by one thread, re-entrant
// for its owner, acquired by waiting on it (alone or together with other
// objects), released by its owner.

#include "Platform/Waitable.h"

#include <atomic>
#include <cstdint>

namespace Tav::Platform {

class Mutex final : public Waitable {
public:
    Mutex() = default;

    // False with ErrorNotOwner as last error when the caller does not own it.
    bool Release();
    bool IsOwnedByCaller() const;

    // A small non-zero number naming the calling thread.
    static uint64_t CurrentThreadTag();

private:
    bool TryAcquire() override;
    void UndoAcquire() override;

    std::atomic<uint64_t> owner{0};
    uint32_t recursion = 0; // touched by the owner only
};

} // namespace Tav::Platform
