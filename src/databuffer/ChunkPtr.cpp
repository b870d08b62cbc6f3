#include "DataBuffer/ChunkPtr.h"

#include "Common/Exception.h"

namespace Tav::Detail {

void ThrowNullChunkPointer(int line)
{
    throw CCommonException(0xCEF00004, line, "TavChunkPtr.cpp");
}

void ThrowChunkTooShort(uint32_t length, uint32_t needed)
{
    throw CDataBufferException(0xCEF20008, __LINE__, "ChunkPtr.cpp", length, needed);
}

} // namespace Tav::Detail
