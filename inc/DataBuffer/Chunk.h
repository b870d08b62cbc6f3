#pragma once

#include "DataBuffer/Guid.h"

#include <bit>
#include <cstdint>
#include <cstring>

namespace Tav {

static_assert(std::endian::native == std::endian::little, "chunk layouts are little-endian");

// The 24-byte trailer that ends every chunk: type identifier, chunk length L
// (trailer included) and the bitwise complement of L. Trailers lie wherever
// the chunk in front of them ends, so the fields are kept as bytes and read
// and written without alignment requirements.
class CChunk {
public:
    static constexpr uint32_t Size = 24;

    GUID GetType() const
    {
        GUID type;
        std::memcpy(&type, bytes, sizeof type);
        return type;
    }
    bool IsType(const GUID& type) const { return std::memcmp(bytes, &type, sizeof type) == 0; }
    uint32_t GetLength() const { return Load(16); }
    uint32_t GetComplement() const { return Load(20); }
    // The length and its complement agree.
    bool IsConsistent() const { return GetLength() == ~GetComplement(); }

    void SetType(const GUID& type) { std::memcpy(bytes, &type, sizeof type); }
    // Writes the length and its complement.
    void SetLength(uint32_t length)
    {
        Store(16, length);
        Store(20, ~length);
    }
    void Set(const GUID& type, uint32_t length)
    {
        SetType(type);
        SetLength(length);
    }

    // The trailer at `address` (any alignment).
    static CChunk* At(void* address) { return static_cast<CChunk*>(address); }
    static const CChunk* At(const void* address) { return static_cast<const CChunk*>(address); }

    // Start of the chunk this trailer ends (L - 24 bytes in front of it).
    unsigned char* GetChunkStart() { return bytes + Size - GetLength(); }

private:
    uint32_t Load(int offset) const
    {
        uint32_t value;
        std::memcpy(&value, bytes + offset, sizeof value);
        return value;
    }
    void Store(int offset, uint32_t value) { std::memcpy(bytes + offset, &value, sizeof value); }

    unsigned char bytes[Size];
};
static_assert(sizeof(CChunk) == 24 && alignof(CChunk) == 1);

// Unaligned little-endian access to chunk fields.
inline uint32_t LoadU32(const void* p)
{
    uint32_t value;
    std::memcpy(&value, p, sizeof value);
    return value;
}
inline void StoreU32(void* p, uint32_t value) { std::memcpy(p, &value, sizeof value); }

} // namespace Tav
