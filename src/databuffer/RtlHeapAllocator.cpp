#include "DataBuffer/RtlHeapAllocator.h"

#include "Common/CriticalSectionWin32.h"
#include "Common/Exception.h"
#include "DataBuffer/RefCounted.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace Tav {

namespace {

// Holds one reference for the life of the process.
std::atomic<IMemAllocator*> defaultAllocator{nullptr};

CCriticalSectionWin32& DefaultAllocatorSection()
{
    static CCriticalSectionWin32 section;
    return section;
}

IMemAllocator* CreateDefaultAllocator()
{
    int failedLine = 0;
    IMemAllocator* allocator = nullptr;
    try {
        allocator = new (std::nothrow) CRefCounted<CRtlHeapAllocator>();
        if (!allocator)
            failedLine = 50;
    } catch (const std::bad_alloc&) {
        failedLine = 55;
    } catch (...) {
        failedLine = 59;
    }
    if (failedLine == 59)
        throw CCommonException(0xCEF00002, 59, "RtlHeapAllocator.cpp");
    if (failedLine)
        throw CCommonException(0xCEF0000A, failedLine, "RtlHeapAllocator.cpp");
    allocator->AddRef();
    return allocator;
}

} // namespace

void* CRtlHeapAllocator::Alloc(uint32_t size)
{
    void* memory = std::malloc(size);
    // malloc(0) may legitimately return null: a block of size 0.
    if (!memory && size != 0)
        throw CCommonException(0xCEF0000A, 83, "RtlHeapAllocator.cpp");
    return memory;
}

void CRtlHeapAllocator::Free(void* memory)
{
    if (memory)
        std::free(memory);
}

CSmartPointer<IMemAllocator> GetDefaultAllocator()
{
    IMemAllocator* allocator = defaultAllocator.load(std::memory_order_acquire);
    if (!allocator) {
        CCriticalSectionWin32& section = DefaultAllocatorSection();
        CCriticalSectionLock guard(section);
        allocator = defaultAllocator.load(std::memory_order_relaxed);
        if (!allocator) {
            allocator = CreateDefaultAllocator();
            defaultAllocator.store(allocator, std::memory_order_release);
        }
    }
    return allocator;
}

} // namespace Tav
