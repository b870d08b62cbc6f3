// Arbitrary bytes as a chunk buffer: Validate and EnumChunks must agree
// (valid exactly when enumeration does not throw, with the same error code),
// and every chunk handed out must lie inside the buffer.
#include "DataBuffer/AttachMemBlock.h"
#include "DataBuffer/ChunkBuffer.h"
#include "DataBuffer/IEnumChunks.h"
#include "DataBuffer/ImageChunk.h"
#include "DataBuffer/StringChunk.h"
#include "DataBuffer/ValueChunk.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

using namespace Tav;

namespace {

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

// Reads every byte of a region so ASan sees any out-of-bounds access.
unsigned Touch(const void* p, size_t size)
{
    unsigned sum = 0;
    const auto* bytes = static_cast<const unsigned char*>(p);
    for (size_t i = 0; i < size; ++i)
        sum += bytes[i];
    return sum;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 1 << 20)
        return 0;
    // An exact-size copy: any read past the end is a heap overflow.
    std::unique_ptr<uint8_t[]> copy(new uint8_t[size ? size : 1]);
    if (size)
        std::memcpy(copy.get(), data, size);
    // The first byte also picks a size adjustment, as a camera's check word does.
    int adjust = size ? -int(data[0] % 5) : 0;
    if (size_t(-adjust) > size)
        adjust = 0;

    CSmartPointer<CChunkBuffer> buffer =
        CChunkBuffer::Create(CAttachMemBlock::Create(copy.get(), uint32_t(size)), adjust);
    const uint8_t* begin = copy.get();
    const uint8_t* end = begin + buffer->GetSize();

    CException* raw = nullptr;
    bool valid = buffer->Validate(&raw);
    std::unique_ptr<CException> validationError(raw);
    Check(valid == (validationError == nullptr));

    std::vector<CChunkPtr<CChunk>> chunks;
    bool threw = false;
    uint32_t code = 0;
    try {
        CSmartPointer<IEnumChunks> e;
        buffer->EnumChunks(e);
        CChunkPtr<CChunk> chunk;
        while (e->Next(chunk))
            chunks.push_back(chunk);
        Check(e->GetCount() == int(chunks.size()));
    } catch (const CException& error) {
        threw = true;
        code = error.GetCode();
    }
    Check(valid == !threw);
    if (threw) {
        Check(validationError->GetCode() == code);
        try {
            buffer->FindChunk(GUID_ImageChunk);
            Check(false);
        } catch (const CException& error) {
            Check(error.GetCode() == code);
        }
        return 0;
    }

    // A valid chain tiles the buffer exactly, last chunk first.
    const uint8_t* expectedEnd = end;
    for (const auto& chunk : chunks) {
        const auto* trailer = reinterpret_cast<const uint8_t*>(chunk.GetChunk());
        Check(trailer + 24 == expectedEnd);
        const uint32_t length = chunk.GetLength();
        Check(length >= 24 && length <= size_t(expectedEnd - begin));
        int payloadSize = -1;
        const void* payload = chunk.LockData(&payloadSize);
        Check(payloadSize == int(length - 24));
        Check(payload ? static_cast<const uint8_t*>(payload) == trailer + 24 - length : payloadSize == 0);
        Touch(payload, size_t(payloadSize));
        chunk.UnlockData();
        expectedEnd -= length;

        // Typed readers either stay inside the chunk or refuse it.
        try {
            CChunkPtr<CImageChunk> image(chunk);
            Touch(image.Get(), sizeof(CImageChunk));
            int pixels = -1;
            void* p = image.LockData(&pixels);
            Touch(p, size_t(pixels));
            image.UnlockData();
        } catch (const CException&) {
            Check(length < 48);
        }
        try {
            ReadChunkValue(chunk);
        } catch (const CException&) {
            Check(length < 28);
        }
        try {
            CStringChunkContent content = ReadStringChunk(chunk, length % 16);
            for (const auto& s : content.strings)
                Touch(s.data(), s.size());
            Touch(content.extra, content.extraSize);
        } catch (const CException&) {
        }
    }
    Check(expectedEnd == begin);
    auto found = buffer->FindChunk(GUID_ImageChunk);
    Check(found.IsNull() || found.IsType(GUID_ImageChunk));
    return 0;
}
