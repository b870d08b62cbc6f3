#pragma once

#include "DataBuffer/IRefCounted.h"

#include <cstdint>

namespace Tav {

// A reference-counted piece of memory.
class IMemBlock : public IRefCounted {
public:
    // The block's memory; each Lock is matched by one Unlock.
    virtual void* Lock() = 0;
    virtual void Unlock() = 0;
    virtual uint32_t GetSize() const = 0;

protected:
    ~IMemBlock() = default;
};

} // namespace Tav
