#pragma once

#include "DataBuffer/ChunkPtr.h"
#include "DataBuffer/Guid.h"
#include "DataBuffer/IChunkBuffer.h"
#include "DataBuffer/IEnumChunks.h"
#include "DataBuffer/IEnumXxx.h"
#include "DataBuffer/IRefCounted.h"
#include "DataBuffer/SmartPointer.h"

#include <cstdint>

namespace Tav {

// The chunk buffers of a packet, in the order they were added.
class IEnumChunkBuffers : public IEnumXxx<CSmartPointer<IChunkBuffer>> {
protected:
    ~IEnumChunkBuffers() = default;
};

// The unit passed through the module graph: an ordered list of chunk
// buffers, shared by all receivers and never copied.
class IPacket : public IRefCounted {
public:
    // Appends `buffer` (not null) with a reference of its own.
    virtual void AddChunkBuffer(IChunkBuffer* buffer) = 0;
    virtual void EnumChunkBuffers(CSmartPointer<IEnumChunkBuffers>& out) = 0;
    // The first chunk of `type`, buffers in list order, each buffer's chunks
    // from its end; empty when there is none. A malformed buffer throws its
    // data-buffer error.
    virtual void FindChunk(CChunkPtr<CChunk>& out, const GUID& type) = 0;
    // Every chunk of `type`, in the same order.
    virtual void EnumChunks(CSmartPointer<IEnumChunks>& out, const GUID& type) = 0;
    virtual int64_t GetSequenceNumber() const = 0;
    virtual void SetSequenceNumber(int64_t value) = 0;
    virtual ~IPacket() = default;
};

// The first chunk of `type` in `packet`, typed by its header T.
template <class T>
CChunkPtr<T> FindTypedChunk(IPacket& packet, const GUID& type)
{
    CChunkPtr<CChunk> chunk;
    packet.FindChunk(chunk, type);
    return chunk;
}

// Whether `packet` holds a chunk of `type`.
inline bool HasChunk(IPacket& packet, const GUID& type)
{
    return !FindTypedChunk<CChunk>(packet, type).IsNull();
}

} // namespace Tav
