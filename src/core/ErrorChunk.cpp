#include "Core/ErrorChunk.h"

#include "DataBuffer/Guid.h"
#include "DataBuffer/StringChunk.h"

namespace Tav {

namespace {
constexpr uint32_t errorExtraBytes = 8; // code, line
}

CSmartPointer<CChunkBuffer> MakeErrorChunkBuffer(const CException& error)
{
    CSmartPointer<CChunkBuffer> buffer =
        MakeStringChunkBuffer({error.GetDescription(), error.GetFile()}, errorExtraBytes);
    unsigned char* data = buffer->GetData();
    const uint32_t size = buffer->GetSize();
    const uint32_t stringBytes = static_cast<uint32_t>(error.GetDescription().size() + error.GetFile().size() + 2);
    StoreU32(data + stringBytes, error.GetCode());
    StoreU32(data + stringBytes + 4, static_cast<uint32_t>(error.GetLine()));
    CChunk::At(data + size - CChunk::Size)->SetType(GUID_ErrorChunk);
    return buffer;
}

CErrorChunkContent ReadErrorChunk(const CChunkPtr<CChunk>& chunk)
{
    CStringChunkContent content = ReadStringChunk(chunk, errorExtraBytes);
    CErrorChunkContent result;
    if (content.strings.size() > 0)
        result.description = content.strings[0];
    if (content.strings.size() > 1)
        result.file = content.strings[1];
    if (content.extra && content.extraSize >= errorExtraBytes) {
        result.code = LoadU32(content.extra);
        result.line = LoadU32(content.extra + 4);
    }
    return result;
}

} // namespace Tav
