#pragma once

#include "DataBuffer/ChunkBuffer.h"
#include "DataBuffer/ChunkPtr.h"
#include "DataBuffer/SmartPointer.h"

#include <cstdint>
#include <string>
#include <vector>

namespace Tav {

// String chunk, in memory order: the strings, NUL-terminated, back to back
// (T bytes); `extraBytes` bytes for the owner's fixed fields; uint32 number
// of strings; uint32 T; the trailer. Chunk length T + extraBytes + 32.

// A new chunk buffer from the default allocator holding exactly one string
// chunk with the string-chunk type. The caller fills the extra bytes (at
// offset T) and may overwrite the type identifier.
CSmartPointer<CChunkBuffer> MakeStringChunkBuffer(const std::vector<std::string>& strings, uint32_t extraBytes);

// The decoded parts of a string chunk.
struct CStringChunkContent {
    std::vector<std::string> strings;
    const unsigned char* extra = nullptr; // the owner's extra bytes, inside the chunk
    uint32_t extraSize = 0;
};

// Decodes a string chunk whose owner keeps `extraBytes` bytes of its own.
// Throws the data-buffer error 0xCEF20009 (chunk length, string bytes,
// string count) when the counts do not fit the chunk or a string is not
// terminated inside its area.
CStringChunkContent ReadStringChunk(const CChunkPtr<CChunk>& chunk, uint32_t extraBytes);

} // namespace Tav
