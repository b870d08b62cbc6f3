#include "DataBuffer/AttachMemBlock.h"

#include "DataBuffer/RefCounted.h"
#include "DataBuffer/SafeNew.h"

namespace Tav {

CAttachMemBlock::~CAttachMemBlock() = default;

void* CAttachMemBlock::Lock()
{
    lockCount.fetch_add(1, std::memory_order_relaxed);
    return data;
}

void CAttachMemBlock::Unlock()
{
    lockCount.fetch_sub(1, std::memory_order_relaxed);
}

void CAttachMemBlock::Attach(void* newData, uint32_t newSize)
{
    data = static_cast<unsigned char*>(newData);
    size = newSize;
}

CSmartPointer<IMemBlock> CAttachMemBlock::Create(void* data, uint32_t size)
{
    auto* block = SafeNew<CRefCounted<CAttachMemBlock>>();
    block->Attach(data, size);
    return block;
}

} // namespace Tav
