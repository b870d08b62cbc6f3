#include "Platform/Mutex.h"

#include "Platform/SystemError.h"

namespace Tav::Platform {

uint64_t Mutex::CurrentThreadTag()
{
    static std::atomic<uint64_t> next{1};
    thread_local uint64_t tag = next.fetch_add(1, std::memory_order_relaxed);
    return tag;
}

bool Mutex::TryAcquire()
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

void Mutex::UndoAcquire()
{
    if (--recursion == 0)
        owner.store(0, std::memory_order_release);
}

bool Mutex::IsOwnedByCaller() const
{
    return owner.load(std::memory_order_relaxed) == CurrentThreadTag();
}

bool Mutex::Release()
{
    if (!IsOwnedByCaller()) {
        SetLastError(ErrorNotOwner);
        return false;
    }
    if (--recursion == 0) {
        owner.store(0, std::memory_order_seq_cst);
        NotifyStateChanged();
    }
    return true;
}

} // namespace Tav::Platform
