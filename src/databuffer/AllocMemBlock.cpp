#include "DataBuffer/AllocMemBlock.h"

#include "Common/Exception.h"
#include "DataBuffer/RefCounted.h"
#include "DataBuffer/SafeNew.h"

namespace Tav {

CAllocMemBlock::~CAllocMemBlock()
{
    if (allocator) {
        allocator->Free(data);
        data = nullptr;
        allocator->Release();
        allocator = nullptr;
    }
}

CSmartPointer<IMemBlock> CAllocMemBlock::Create(uint32_t size, const CSmartPointer<IMemAllocator>& allocator)
{
    // Referenced at once, so a failing Allocate frees the empty block.
    CSmartPointer<IMemBlock> result;
    auto* block = SafeNew<CRefCounted<CAllocMemBlock>>();
    result = block;
    block->Allocate(size, allocator);
    return result;
}

void CAllocMemBlock::Allocate(uint32_t newSize, IMemAllocator* newAllocator)
{
    if (!newAllocator)
        throw CCommonException(0xCEF00000, __LINE__, "AllocMemBlock.cpp");
    // Replacing the memory would leak it or free memory owned elsewhere.
    if (allocator || data)
        throw CCommonException(0xCEF00005, __LINE__, "AllocMemBlock.cpp");
    void* memory = newAllocator->Alloc(newSize);
    Attach(memory, newSize);
    newAllocator->AddRef();
    allocator = newAllocator;
}

} // namespace Tav
