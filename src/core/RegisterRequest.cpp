#include "Core/RegisterRequest.h"

#include "Common/Exception.h"
#include "DataBuffer/AllocMemBlock.h"
#include "DataBuffer/Guid.h"
#include "DataBuffer/Packet.h"
#include "DataBuffer/RtlHeapAllocator.h"

namespace Tav {

namespace {

struct RequestHeader {
    unsigned char bytes[16];
};

} // namespace

CRegisterRequestView::CRegisterRequestView(const CChunkPtr<CChunk>& chunk)
{
    CChunkPtr<RequestHeader> typed(chunk);
    header = typed.Get()->bytes;
    dataSize = chunk.GetLength() - RegisterRequestOverhead;
}

CSmartPointer<CChunkBuffer> CRegisterRequest::MakeBuffer(uint64_t address, uint32_t direction, uint32_t length,
                                                         uint32_t dataSize, const void* data)
{
    if (dataSize > UINT32_MAX - RegisterRequestOverhead)
        throw CCommonException(0xCEF00006, __LINE__, "RegisterRequest.cpp");
    const uint32_t total = dataSize + RegisterRequestOverhead;
    CSmartPointer<IMemBlock> block = CAllocMemBlock::Create(total, GetDefaultAllocator());
    auto* bytes = static_cast<unsigned char*>(block->Lock());
    if (data)
        std::memcpy(bytes, data, dataSize);
    else
        std::memset(bytes, 0, dataSize);
    unsigned char* header = bytes + dataSize;
    StoreU32(header, static_cast<uint32_t>(address));
    StoreU32(header + 4, static_cast<uint32_t>(address >> 32));
    StoreU32(header + 8, direction);
    StoreU32(header + 12, length);
    CChunk::At(header + 16)->Set(GUID_RegisterRequestChunk, total);
    block->Unlock();
    return CChunkBuffer::Create(block, 0);
}

CRegisterRequest CRegisterRequest::Make(uint64_t address, uint32_t direction, uint32_t length, uint32_t dataSize,
                                        const void* data)
{
    CRegisterRequest request;
    request.buffer = MakeBuffer(address, direction, length, dataSize, data);
    request.dataSize = dataSize;
    request.packet = CPacket::Create();
    request.packet->AddChunkBuffer(request.buffer);
    return request;
}

CRegisterRequest CRegisterRequest::Read(uint64_t address, uint32_t length)
{
    return Make(address, RegisterRead, length, length, nullptr);
}

CRegisterRequest CRegisterRequest::Write(uint64_t address, const void* data, uint32_t length)
{
    return Make(address, RegisterWrite, length, length, data);
}

} // namespace Tav
