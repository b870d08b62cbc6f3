#include "TavTiff.h"

#include "Common/Exception.h"
#include "Common/Jel/JelException.h"
#include "DataBuffer/AllocMemBlock.h"
#include "DataBuffer/Guid.h"
#include "DataBuffer/RtlHeapAllocator.h"
#include "JelTiff.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace Tav {

namespace {

constexpr const char* sourceFile = "TavTiff.cpp";

// Releases LockData's reference when the scope ends.
class CLockedData {
public:
    explicit CLockedData(const CChunkPtr<CImageChunk>& chunk) : chunk(chunk), data(static_cast<const unsigned char*>(chunk.LockData(&size))) {}
    ~CLockedData() { chunk.UnlockData(); }
    CLockedData(const CLockedData&) = delete;
    CLockedData& operator=(const CLockedData&) = delete;

    const CChunkPtr<CImageChunk>& chunk;
    int size = 0;
    const unsigned char* data;
};

} // namespace

void SaveChunkAsTiff(const char* fileName, const CChunkPtr<CImageChunk>& chunk)
{
    if (chunk.IsNull() || !fileName)
        throw CCommonException(0xCEF00004, __LINE__, sourceFile);
    if (!chunk.IsType(GUID_ImageChunk) || chunk->pixelType != PixelTypeMono16)
        throw CTiffException(0xCFD10000, 28, sourceFile);

    const CImageChunk header = *chunk;
    const uint32_t width = header.width;
    const uint32_t height = header.height;
    const uint64_t lineBytes = uint64_t(width) * 2;
    const uint64_t stride = static_cast<uint64_t>(std::llabs(header.pitch));
    CLockedData locked(chunk);
    // Every line must lie inside the chunk's pixel data.
    if (height > 0 && (stride < lineBytes || uint64_t(locked.size) < stride * (height - 1) + lineBytes))
        throw CCommonException(0xCEF00006, __LINE__, sourceFile);

    // The writer takes tightly packed samples, top line first.
    std::vector<uint16_t> packed;
    const uint16_t* pixels = reinterpret_cast<const uint16_t*>(locked.data);
    if (height > 0 && (stride != lineBytes || header.pitch < 0)) {
        packed.resize(size_t(width) * height);
        for (uint32_t y = 0; y < height; ++y) {
            const uint32_t sourceLine = header.pitch < 0 ? height - 1 - y : y;
            std::memcpy(packed.data() + size_t(y) * width, locked.data + sourceLine * stride, lineBytes);
        }
        pixels = packed.data();
    }
    try {
        Jel::JelTiff::Save(fileName, pixels, false, width, height, header.bitDepth);
    } catch (const Jel::Exception& error) {
        throw CTiffException(0xCFD10001, 54, sourceFile, error.GetContext().c_str());
    }
}

CSmartPointer<CChunkBuffer> LoadTiffAsChunk(const char* fileName)
{
    if (!fileName)
        throw CCommonException(0xCEF00004, __LINE__, sourceFile);
    uint32_t width = 0, height = 0, bitsPerSample = 0, bitDepth = 0;
    bool colour = false;
    try {
        Jel::JelTiff::LoadDimension(fileName, width, height, bitsPerSample, bitDepth, colour);
    } catch (const Jel::Exception& error) {
        throw CTiffException(0xCFD10002, 80, sourceFile, error.GetContext().c_str());
    }
    if (bitsPerSample % 8 != 0)
        throw CTiffException(0xCFD10003, 88, sourceFile, static_cast<int>(bitsPerSample));

    // The header keeps width and height in 16 bits, and chunk payload sizes
    // travel as int.
    if (width > 0xFFFF || height > 0xFFFF)
        throw CCommonException(0xCEF00004, __LINE__, sourceFile);
    const uint64_t pitch = uint64_t(bitsPerSample / 8) * width;
    const uint64_t dataSize = uint64_t(height) * pitch;
    const uint64_t length = dataSize + ImageChunkOverhead;
    if (length > uint64_t(INT_MAX))
        throw CCommonException(0xCEF0000A, __LINE__, sourceFile);

    CSmartPointer<IMemBlock> block = CAllocMemBlock::Create(static_cast<uint32_t>(length), GetDefaultAllocator());
    auto* data = static_cast<unsigned char*>(block->Lock());
    try {
        Jel::JelTiff::LoadImageData(fileName, data, colour, width, height, bitDepth, bitsPerSample);
    } catch (const Jel::Exception& error) {
        block->Unlock();
        throw CTiffException(0xCFD10004, 114, sourceFile, error.GetContext().c_str());
    }

    auto* header = reinterpret_cast<CImageChunk*>(data + dataSize);
    std::memset(header, 0, sizeof *header);
    header->pitch = static_cast<int32_t>(pitch);
    header->bitDepth = static_cast<uint8_t>(bitDepth);
    header->x = 0;
    header->y = 0;
    header->width = static_cast<uint16_t>(width);
    header->height = static_cast<uint16_t>(height);
    header->pixelType = PixelTypeMono16;
    CChunk::At(data + dataSize + sizeof(CImageChunk))->Set(GUID_ImageChunk, static_cast<uint32_t>(length));
    block->Unlock();

    if (colour)
        throw CTiffException(0xCFD10000, 140, sourceFile);
    return CChunkBuffer::Create(block, 0);
}

} // namespace Tav
