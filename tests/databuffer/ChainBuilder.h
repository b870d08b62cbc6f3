#pragma once

#include "DataBuffer/AllocMemBlock.h"
#include "DataBuffer/ChunkBuffer.h"
#include "DataBuffer/Guid.h"
#include "DataBuffer/RtlHeapAllocator.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace TavTest {

// Builds chunk chains byte by byte.
class ChainBuilder {
public:
    // Appends a chunk: `payload` then a trailer with `type` and length
    // payload + 24 (or `length` / `complement` when given, for broken ones).
    ChainBuilder& Chunk(const Tav::GUID& type, const std::vector<uint8_t>& payload = {})
    {
        uint32_t length = static_cast<uint32_t>(payload.size() + 24);
        return Raw(type, payload, length, ~length);
    }

    ChainBuilder& Raw(const Tav::GUID& type, const std::vector<uint8_t>& payload, uint32_t length,
                      uint32_t complement)
    {
        bytes.insert(bytes.end(), payload.begin(), payload.end());
        size_t at = bytes.size();
        bytes.resize(at + 24);
        std::memcpy(&bytes[at], &type, 16);
        std::memcpy(&bytes[at + 16], &length, 4);
        std::memcpy(&bytes[at + 20], &complement, 4);
        return *this;
    }

    ChainBuilder& Bytes(size_t count, uint8_t value = 0xAB)
    {
        bytes.insert(bytes.end(), count, value);
        return *this;
    }

    // A chunk buffer over a fresh heap block holding exactly these bytes.
    Tav::CSmartPointer<Tav::CChunkBuffer> Build(int sizeAdjust = 0) const
    {
        auto block = Tav::CAllocMemBlock::Create(static_cast<uint32_t>(bytes.size()), Tav::GetDefaultAllocator());
        if (!bytes.empty())
            std::memcpy(block->Lock(), bytes.data(), bytes.size());
        block->Unlock();
        return Tav::CChunkBuffer::Create(block, sizeAdjust);
    }

    std::vector<uint8_t> bytes;
};

// Test type identifiers.
inline constexpr Tav::GUID TypeA = {0x11111111, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 8}};
inline constexpr Tav::GUID TypeB = {0xAAAAAAAA, 0xBBBB, 0xCCCC, {8, 7, 6, 5, 4, 3, 2, 1}};

} // namespace TavTest
