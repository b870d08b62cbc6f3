#pragma once

#include "DataBuffer/IMemBlock.h"
#include "DataBuffer/SmartPointer.h"

#include <atomic>
#include <cstdint>

namespace Tav {

// A memory block over memory owned elsewhere; the owner keeps the memory
// alive for the life of the block. Instantiated as CRefCounted<CAttachMemBlock>.
class CAttachMemBlock : public IMemBlock {
public:
    void* Lock() override;
    void Unlock() override;
    uint32_t GetSize() const override { return size; }
    virtual ~CAttachMemBlock();

    void Attach(void* data, uint32_t size);

    // Number of Lock calls not yet matched by Unlock; informational only.
    int GetLockCount() const { return lockCount.load(std::memory_order_relaxed); }

    // A new block over `size` bytes at `data`, which must outlive it.
    static CSmartPointer<IMemBlock> Create(void* data, uint32_t size);

protected:
    CAttachMemBlock() = default;

    unsigned char* data = nullptr;
    uint32_t size = 0;
    // Atomic only so that blocks locked on several threads stay race-free;
    // nothing synchronises on it.
    std::atomic<int> lockCount{0};
};

} // namespace Tav
