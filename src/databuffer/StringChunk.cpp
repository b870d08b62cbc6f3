#include "DataBuffer/StringChunk.h"

#include "Common/Exception.h"
#include "DataBuffer/AllocMemBlock.h"
#include "DataBuffer/RtlHeapAllocator.h"

#include <cstring>

namespace Tav {

CSmartPointer<CChunkBuffer> MakeStringChunkBuffer(const std::vector<std::string>& strings, uint32_t extraBytes)
{
    uint64_t stringBytes = 0;
    for (const std::string& s : strings)
        stringBytes += s.size() + 1;
    const uint64_t length = stringBytes + extraBytes + 32;
    if (length > UINT32_MAX || strings.size() > UINT32_MAX)
        throw CCommonException(0xCEF0000A, __LINE__, "StringChunk.cpp");

    CSmartPointer<IMemBlock> block = CAllocMemBlock::Create(static_cast<uint32_t>(length), GetDefaultAllocator());
    CSmartPointer<CChunkBuffer> buffer = CChunkBuffer::Create(block, 0);
    unsigned char* data = static_cast<unsigned char*>(buffer->Lock());
    unsigned char* p = data;
    for (const std::string& s : strings) {
        std::memcpy(p, s.c_str(), s.size() + 1);
        p += s.size() + 1;
    }
    unsigned char* fields = data + stringBytes + extraBytes;
    StoreU32(fields, static_cast<uint32_t>(strings.size()));
    StoreU32(fields + 4, static_cast<uint32_t>(stringBytes));
    CChunk::At(fields + 8)->Set(GUID_StringChunk, static_cast<uint32_t>(length));
    buffer->Unlock();
    return buffer;
}

CStringChunkContent ReadStringChunk(const CChunkPtr<CChunk>& chunk, uint32_t extraBytes)
{
    int payloadSize = 0;
    auto* payload = static_cast<const unsigned char*>(chunk.LockData(&payloadSize));
    struct Unlocker {
        const CChunkPtr<CChunk>& chunk;
        ~Unlocker() { chunk.UnlockData(); }
    } unlocker{chunk};

    const uint32_t length = chunk.GetLength();
    auto fail = [&](uint32_t stringBytes, uint32_t count) {
        throw CDataBufferException(0xCEF20009, __LINE__, "StringChunk.cpp", length, stringBytes, count);
    };
    // payload = strings, extra bytes, count, string bytes.
    if (uint64_t(payloadSize) < uint64_t(extraBytes) + 8)
        fail(0, 0);
    const unsigned char* fields = payload + payloadSize - 8;
    const uint32_t count = LoadU32(fields);
    const uint32_t stringBytes = LoadU32(fields + 4);
    if (uint64_t(stringBytes) + extraBytes + 8 != uint64_t(payloadSize))
        fail(stringBytes, count);

    CStringChunkContent content;
    const unsigned char* p = payload;
    const unsigned char* end = payload + stringBytes;
    for (uint32_t i = 0; i < count; ++i) {
        const void* terminator = p < end ? std::memchr(p, 0, static_cast<size_t>(end - p)) : nullptr;
        if (!terminator)
            fail(stringBytes, count);
        const auto* stop = static_cast<const unsigned char*>(terminator);
        content.strings.emplace_back(reinterpret_cast<const char*>(p), static_cast<size_t>(stop - p));
        p = stop + 1;
    }
    if (p != end)
        fail(stringBytes, count);
    content.extra = extraBytes ? end : nullptr;
    content.extraSize = extraBytes;
    return content;
}

} // namespace Tav
