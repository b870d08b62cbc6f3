#include "DataBuffer/ChunkBuffer.h"

#include "DataBuffer/EnumOnStlImpl.h"
#include "DataBuffer/RefCounted.h"
#include "DataBuffer/SafeNew.h"

#include <new>
#include <vector>

namespace Tav {

uint32_t ChainFaultCode(ChainFault fault)
{
    switch (fault) {
    case ChainFault::BadComplement:
        return 0xCEF20000;
    case ChainFault::TrailerBeyondEnd:
        return 0xCEF20001;
    case ChainFault::ShortLength:
        return 0xCEF20002;
    case ChainFault::BelowAddressZero:
        return 0xCEF20003;
    case ChainFault::BeforeStart:
        return 0xCEF20004;
    case ChainFault::LeadingBytes:
        return 0xCEF20005;
    case ChainFault::TooSmall:
        return 0xCEF20007;
    default:
        return 0xCEF20006;
    }
}

namespace {

CDataBufferException MakeFaultException(ChainFault fault, int64_t offset, int line)
{
    if (fault == ChainFault::TooSmall)
        return CDataBufferException(ChainFaultCode(fault), line, "ChunkBuffer.cpp");
    return CDataBufferException(ChainFaultCode(fault), line, "ChunkBuffer.cpp", static_cast<int>(offset),
                                static_cast<int>(fault));
}

} // namespace

CChunkBuffer::~CChunkBuffer()
{
    if (block) {
        block->Unlock();
        block->Release();
        block = nullptr;
    }
}

CSmartPointer<CChunkBuffer> CChunkBuffer::Create(const CSmartPointer<IMemBlock>& block, int sizeAdjust)
{
    CSmartPointer<CChunkBuffer> buffer = SafeNew<CRefCounted<CChunkBuffer>>();
    buffer->Attach(block, sizeAdjust);
    return buffer;
}

void CChunkBuffer::Attach(IMemBlock* newBlock, int newSizeAdjust)
{
    if (block)
        throw CCommonException(0xCEF00005, 76, "ChunkBuffer.cpp");
    if (!newBlock)
        throw CCommonException(0xCEF00000, __LINE__, "ChunkBuffer.cpp");
    if (newSizeAdjust > 0 || int64_t(newBlock->GetSize()) < -int64_t(newSizeAdjust))
        throw CCommonException(0xCEF00006, 81, "ChunkBuffer.cpp");
    newBlock->AddRef();
    block = newBlock;
    data = static_cast<unsigned char*>(block->Lock());
    sizeAdjust = newSizeAdjust;
}

void* CChunkBuffer::Lock()
{
    return block ? block->Lock() : nullptr;
}

void CChunkBuffer::Unlock()
{
    if (block)
        block->Unlock();
}

uint32_t CChunkBuffer::GetSize() const
{
    // Attach guarantees the sum is in 0..block size.
    return block ? static_cast<uint32_t>(int64_t(block->GetSize()) + sizeAdjust) : 0;
}

// Walks the chain from the buffer's end, calling visit(trailer) for each
// chunk. Trailer positions are signed 64-bit offsets from the buffer start,
// so lengths up to 2^32 - 1 can neither wrap nor form an address outside the
// buffer; every trailer read lies inside [0, size).
template <class Visit>
ChainFault CChunkBuffer::Walk(uint32_t* faultOffset, Visit&& visit) const
{
    const int64_t size = GetSize();
    const int64_t trailer = CChunk::Size;
    uint32_t ignored;
    uint32_t& offsetOut = faultOffset ? *faultOffset : ignored;
    if (size < trailer) {
        offsetOut = 0;
        return ChainFault::TooSmall;
    }
    const uint64_t baseAddress = reinterpret_cast<uintptr_t>(data);
    int64_t t = size - trailer;
    for (;;) {
        // A negative offset is reported as its 32-bit two's complement, as a
        // pointer difference would be.
        offsetOut = static_cast<uint32_t>(t);
        if (t < 0)
            return t + trailer == 0 ? ChainFault::None : ChainFault::LeadingBytes;
        if (t + trailer > size)
            return ChainFault::TrailerBeyondEnd;
        const CChunk* chunk = CChunk::At(data + t);
        if (!chunk->IsConsistent())
            return ChainFault::BadComplement;
        const int64_t length = chunk->GetLength();
        // Shorter than its own trailer (0 included): the chunks would overlap.
        if (length < trailer)
            return ChainFault::ShortLength;
        if (baseAddress + uint64_t(t) < uint64_t(length))
            return ChainFault::BelowAddressZero;
        if (t - length + trailer < 0)
            return ChainFault::BeforeStart;
        visit(data + t);
        t -= length;
    }
}

ChainFault CChunkBuffer::Check(uint32_t* faultOffset) const
{
    if (faultOffset)
        *faultOffset = 0;
    if (!block)
        return ChainFault::None;
    return Walk(faultOffset, [](unsigned char*) {});
}

void CChunkBuffer::ThrowFault(ChainFault fault, uint32_t offset, int line) const
{
    throw MakeFaultException(fault, static_cast<int32_t>(offset), line);
}

void CChunkBuffer::EnumChunks(CSmartPointer<IEnumChunks>& out)
{
    using Enumerator = CEnumOnStlImpl<IEnumChunks>;
    Enumerator::List chunks;
    if (block) {
        if (GetSize() < CChunk::Size)
            throw CDataBufferException(0xCEF20007, 113, "ChunkBuffer.cpp");
        CSmartPointer<IChunkBuffer> self(static_cast<IChunkBuffer*>(this));
        // Camera buffers carry a handful of chunks.
        chunks.reserve(8);
        uint32_t offset;
        ChainFault fault = Walk(&offset, [&](unsigned char* trailer) {
            chunks.emplace_back(CChunk::At(trailer), self);
        });
        if (fault != ChainFault::None)
            ThrowFault(fault, offset, 128);
    }
    out = Enumerator::Create(std::move(chunks));
}

bool CChunkBuffer::Validate(CException** error)
{
    if (error)
        *error = nullptr;
    uint32_t offset;
    ChainFault fault = Check(&offset);
    if (fault == ChainFault::None)
        return true;
    if (error) {
        try {
            *error = new CDataBufferException(MakeFaultException(fault, static_cast<int32_t>(offset), 152));
        } catch (const std::bad_alloc&) {
            *error = nullptr;
        }
    }
    return false;
}

CChunkPtr<CChunk> CChunkBuffer::FindChunk(const GUID& type)
{
    if (!block)
        return CChunkPtr<CChunk>();
    if (GetSize() < CChunk::Size)
        throw CDataBufferException(0xCEF20007, 113, "ChunkBuffer.cpp");
    unsigned char* found = nullptr;
    uint32_t offset;
    ChainFault fault = Walk(&offset, [&](unsigned char* trailer) {
        if (!found && CChunk::At(trailer)->IsType(type))
            found = trailer;
    });
    if (fault != ChainFault::None)
        ThrowFault(fault, offset, 128);
    if (!found)
        return CChunkPtr<CChunk>();
    return CChunkPtr<CChunk>(CChunk::At(found), CSmartPointer<IChunkBuffer>(static_cast<IChunkBuffer*>(this)));
}

} // namespace Tav
