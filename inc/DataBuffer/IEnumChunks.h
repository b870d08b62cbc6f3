#pragma once

#include "DataBuffer/ChunkPtr.h"
#include "DataBuffer/IEnumXxx.h"

namespace Tav {

// Chunks of one or more chunk buffers, each holding a buffer reference.
class IEnumChunks : public IEnumXxx<CChunkPtr<CChunk>> {
protected:
    ~IEnumChunks() = default;
};

} // namespace Tav
