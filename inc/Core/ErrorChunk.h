#pragma once

#include "Common/Exception.h"
#include "DataBuffer/ChunkBuffer.h"
#include "DataBuffer/ChunkPtr.h"

#include <string>

namespace Tav {

// An error travelling through the graph: a string chunk holding the
// description and the source file, with the code and line as its 8 extra
// bytes and the error chunk type.
CSmartPointer<CChunkBuffer> MakeErrorChunkBuffer(const CException& error);

struct CErrorChunkContent {
    std::string description;
    std::string file;
    uint32_t code = 0;
    uint32_t line = 0;
};

// Decodes an error chunk; a malformed one throws its data-buffer error.
CErrorChunkContent ReadErrorChunk(const CChunkPtr<CChunk>& chunk);

} // namespace Tav
