#pragma once

#include "DataBuffer/IRefCounted.h"
#include "DataBuffer/SmartPointer.h"

namespace Tav {

class IEnumChunks;

// Memory read as back-to-back chunks, each ending in a CChunk trailer; the
// chain is walked from the buffer's end.
class IChunkBuffer : public IRefCounted {
public:
    // The chunks from the last in memory to the first. Throws a data-buffer
    // error (0xCEF20000-0xCEF20007) when the chain is malformed.
    virtual void EnumChunks(CSmartPointer<IEnumChunks>& out) = 0;
    virtual ~IChunkBuffer() = default;
};

} // namespace Tav
