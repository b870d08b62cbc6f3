#include "DataBuffer/ValueChunk.h"

#include "Common/Exception.h"
#include "DataBuffer/AllocMemBlock.h"
#include "DataBuffer/RtlHeapAllocator.h"

namespace Tav {

namespace {
// The 4-byte payload as a header type, so CChunkPtr checks the length.
struct __attribute__((packed)) CValueHeader {
    uint32_t value;
};
} // namespace

CSmartPointer<CChunkBuffer> MakeValueChunkBuffer(const GUID& type, uint32_t value)
{
    CSmartPointer<IMemBlock> block = CAllocMemBlock::Create(ValueChunkLength, GetDefaultAllocator());
    auto* data = static_cast<unsigned char*>(block->Lock());
    StoreU32(data, value);
    CChunk::At(data + 4)->Set(type, ValueChunkLength);
    block->Unlock();
    return CChunkBuffer::Create(block, 0);
}

uint32_t ReadChunkValue(const CChunkPtr<CChunk>& chunk)
{
    if (chunk.IsNull())
        throw CCommonException(0xCEF00004, __LINE__, "ValueChunk.cpp");
    CChunkPtr<CValueHeader> typed(chunk);
    return typed->value;
}

CCycleTime DecodeCycleTime(uint32_t value)
{
    return CCycleTime{static_cast<int>(value >> 25), static_cast<int>((value >> 12) & 0x1FFF),
                      static_cast<int>(value & 0xFFF)};
}

std::string FormatFrameCounter(uint32_t counter)
{
    return FormatString("%ld ", static_cast<long>(counter));
}

std::string FormatCycleTime(uint32_t value)
{
    CCycleTime t = DecodeCycleTime(value);
    return FormatString("%03d:%04d:%04d ", t.seconds, t.cycleCount, t.cycleOffset);
}

} // namespace Tav
