#pragma once

#include "DataBuffer/IMemAllocator.h"
#include "DataBuffer/SmartPointer.h"

namespace Tav {

// The runtime library's general heap (malloc/free), without pooling or
// alignment beyond the heap's own.
class CRtlHeapAllocator : public IMemAllocator {
public:
    void* Alloc(uint32_t size) override;
    void Free(void* memory) override;

protected:
    CRtlHeapAllocator() = default;
};

// The process-wide heap allocator; created on first use, never destroyed.
CSmartPointer<IMemAllocator> GetDefaultAllocator();

} // namespace Tav
