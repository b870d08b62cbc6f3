#include "Platform/Mutex.h"

#include "Platform/SystemError.h"

namespace Tav::Platform {

namespace {
std::atomic<uint64_t> nextTag{1};
}

uint64_t Detail::AssignThreadTag()
{
    threadTag = nextTag.fetch_add(1, std::memory_order_relaxed);
    return threadTag;
}

void Mutex::UndoAcquire()
{
    if (--recursion == 0)
        owner.store(0, std::memory_order_release);
}

bool Mutex::ReleaseNotOwned()
{
    SetLastError(ErrorNotOwner);
    return false;
}

} // namespace Tav::Platform
