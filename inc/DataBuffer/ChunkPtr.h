#pragma once

#include "DataBuffer/Chunk.h"
#include "DataBuffer/IChunkBuffer.h"
#include "DataBuffer/SmartPointer.h"

#include <cstdint>

namespace Tav {

namespace Detail {
// Common error 0xCEF00004: LockData/UnlockData on an empty chunk pointer.
[[noreturn]] void ThrowNullChunkPointer(int line);
// Data-buffer error 0xCEF20008 (chunk length, needed length): the chunk is
// too short to hold the header it is read as.
[[noreturn]] void ThrowChunkTooShort(uint32_t length, uint32_t needed);
} // namespace Detail

// Bytes a chunk of header type T keeps in front of its trailer. Untyped
// access (CChunk) has no header: its payload is everything before the trailer.
template <class T>
inline constexpr uint32_t ChunkHeaderSize = sizeof(T);
template <>
inline constexpr uint32_t ChunkHeaderSize<CChunk> = 0;

// A handle to one chunk, typed by the fixed-size header T that lies
// immediately in front of the chunk's trailer. Keeps the chunk's buffer alive.
// Header types must have alignment 1 (packed), since chunks lie at any address.
template <class T>
class CChunkPtr {
public:
    CChunkPtr() : chunk(nullptr) {}
    CChunkPtr(CChunk* chunk, const CSmartPointer<IChunkBuffer>& buffer) : chunk(chunk), buffer(buffer) {}

    // Re-types a chunk pointer; the header is checked when it is accessed.
    template <class U>
    CChunkPtr(const CChunkPtr<U>& other) : chunk(other.GetChunk()), buffer(other.GetBuffer())
    {
    }

    CChunk* GetChunk() const { return chunk; }
    const CSmartPointer<IChunkBuffer>& GetBuffer() const { return buffer; }
    bool IsNull() const { return chunk == nullptr; }
    explicit operator bool() const { return chunk != nullptr; }

    // Total chunk length L (trailer included); 0 for an empty pointer.
    uint32_t GetLength() const { return chunk ? chunk->GetLength() : 0; }
    bool IsType(const GUID& type) const { return chunk && chunk->IsType(type); }

    // The header in front of the trailer (the trailer itself for CChunk);
    // null for an empty pointer. Throws 0xCEF20008 when the chunk is too
    // short to hold a T.
    T* Get() const
    {
        static_assert(alignof(T) == 1, "chunk headers must be packed");
        if (!chunk)
            return nullptr;
        if constexpr (ChunkHeaderSize<T> == 0) {
            return chunk;
        } else {
            CheckHeader();
            return reinterpret_cast<T*>(reinterpret_cast<unsigned char*>(chunk) - ChunkHeaderSize<T>);
        }
    }
    T* operator->() const { return Get(); }
    T& operator*() const { return *Get(); }

    // The payload in front of the header, with an extra reference on the
    // buffer until UnlockData. Stores its size in `*size` when given; returns
    // null for an empty payload. Throws 0xCEF00004 for an empty pointer.
    void* LockData(int* size) const
    {
        if (!chunk)
            Detail::ThrowNullChunkPointer(230);
        CheckHeader();
        uint32_t payload = chunk->GetLength() - CChunk::Size - ChunkHeaderSize<T>;
        if (buffer)
            buffer->AddRef();
        if (size)
            *size = static_cast<int>(payload);
        if (payload == 0)
            return nullptr;
        return reinterpret_cast<unsigned char*>(chunk) - ChunkHeaderSize<T> - payload;
    }

    void UnlockData() const
    {
        if (!chunk)
            Detail::ThrowNullChunkPointer(252);
        if (buffer)
            buffer->Release();
    }

    void Reset()
    {
        chunk = nullptr;
        buffer.Reset();
    }

private:
    void CheckHeader() const
    {
        // Lengths up to 2^32 - 1: compare in 64 bits. Chunks from a walked
        // chain are at least one trailer long, shorter ones are rejected too.
        uint64_t needed = uint64_t(CChunk::Size) + ChunkHeaderSize<T>;
        if (chunk->GetLength() < needed)
            Detail::ThrowChunkTooShort(chunk->GetLength(), static_cast<uint32_t>(needed));
    }

    CChunk* chunk;
    CSmartPointer<IChunkBuffer> buffer;
};

} // namespace Tav
