#include "DataBuffer/Packet.h"

#include "Common/Exception.h"
#include "DataBuffer/ChunkBuffer.h"
#include "DataBuffer/EnumOnStlImpl.h"
#include "DataBuffer/IEnumChunks.h"
#include "DataBuffer/SafeNew.h"

#include <atomic>

using namespace Tav;

namespace {
std::atomic<int32_t> packetCounter{0};
}

CSmartPointer<IPacket> CPacket::Create()
{
    return SafeNew<CPacket>();
}

CPacket::~CPacket() = default;

int64_t CPacket::NextSequenceNumber()
{
    // Wraps in 32 bits (atomic arithmetic is two's complement).
    return packetCounter.fetch_add(1, std::memory_order_relaxed) + 1;
}

void CPacket::AddChunkBuffer(IChunkBuffer* buffer)
{
    if (!buffer)
        throw CCommonException(0xCEF00000, __LINE__, "Packet.cpp");
    CSmartPointer<IChunkBuffer> reference(buffer);
    std::lock_guard<std::mutex> guard(listLock);
    chunkBuffers.push_back(std::move(reference));
}

CPacket::BufferList CPacket::Snapshot()
{
    std::lock_guard<std::mutex> guard(listLock);
    return chunkBuffers;
}

void CPacket::EnumChunkBuffers(CSmartPointer<IEnumChunkBuffers>& out)
{
    out = CEnumOnStlImpl<IEnumChunkBuffers>::Create(Snapshot());
}

void CPacket::FindChunk(CChunkPtr<CChunk>& out, const GUID& type)
{
    // The lock is held across the buffers' enumeration; that never calls
    // back into the packet.
    std::lock_guard<std::mutex> guard(listLock);
    for (const auto& buffer : chunkBuffers) {
        // Our own buffers are searched in place, without an enumerator.
        if (auto* own = dynamic_cast<CChunkBuffer*>(buffer.Get())) {
            CChunkPtr<CChunk> chunk = own->FindChunk(type);
            if (!chunk.IsNull()) {
                out = std::move(chunk);
                return;
            }
            continue;
        }
        CSmartPointer<IEnumChunks> chunks;
        buffer->EnumChunks(chunks);
        CChunkPtr<CChunk> chunk;
        while (chunks->Next(chunk)) {
            if (chunk.IsType(type)) {
                out = std::move(chunk);
                return;
            }
        }
    }
    out = CChunkPtr<CChunk>();
}

void CPacket::EnumChunks(CSmartPointer<IEnumChunks>& out, const GUID& type)
{
    CEnumOnStlImpl<IEnumChunks>::List matches;
    {
        std::lock_guard<std::mutex> guard(listLock);
        for (const auto& buffer : chunkBuffers) {
            CSmartPointer<IEnumChunks> chunks;
            buffer->EnumChunks(chunks);
            CChunkPtr<CChunk> chunk;
            while (chunks->Next(chunk)) {
                if (chunk.IsType(type))
                    matches.push_back(chunk);
            }
        }
    }
    out = CEnumOnStlImpl<IEnumChunks>::Create(std::move(matches));
}
