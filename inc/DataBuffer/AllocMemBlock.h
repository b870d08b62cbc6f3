#pragma once

#include "DataBuffer/AttachMemBlock.h"
#include "DataBuffer/IMemAllocator.h"
#include "DataBuffer/SmartPointer.h"

namespace Tav {

// A memory block whose memory comes from an allocator and goes back to it
// when the block is destroyed. Instantiated as CRefCounted<CAllocMemBlock>;
// the camera layer derives its own blocks from that.
class CAllocMemBlock : public CAttachMemBlock {
public:
    ~CAllocMemBlock() override;

    // A new block of `size` bytes from `allocator`.
    static CSmartPointer<IMemBlock> Create(uint32_t size, const CSmartPointer<IMemAllocator>& allocator);

    // Takes `size` bytes from `allocator` and keeps a reference to it. Only on
    // a block that holds no memory yet.
    void Allocate(uint32_t size, IMemAllocator* allocator);

    IMemAllocator* GetAllocator() const { return allocator; }

protected:
    CAllocMemBlock() = default;

    IMemAllocator* allocator = nullptr;
};

} // namespace Tav
