#pragma once

#include "DataBuffer/IRefCounted.h"

#include <cstdint>

namespace Tav {

// Source of the memory of allocated blocks.
class IMemAllocator : public IRefCounted {
public:
    // Never returns null for a non-zero size: failure is an exception.
    virtual void* Alloc(uint32_t size) = 0;
    virtual void Free(void* memory) = 0;
    virtual ~IMemAllocator() = default;
};

} // namespace Tav
