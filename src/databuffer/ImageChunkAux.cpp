#include "DataBuffer/ImageChunk.h"

#include "Common/Exception.h"
#include "DataBuffer/AllocMemBlock.h"
#include "DataBuffer/ChunkBuffer.h"

namespace Tav {

uint16_t ImageChunkBitsPerPixel(uint8_t pixelType)
{
    switch (pixelType) {
    case PixelTypeMono8:
        return 8;
    case PixelTypeYuv411:
        return 12;
    case PixelTypeYuv422:
        return 16;
    case PixelTypeYuv444:
    case PixelTypeRgb8:
        return 24;
    case PixelTypeMono16:
        return 16;
    case PixelTypeRgb16:
        return 48;
    case PixelTypeAnalysis64:
        return 64;
    default:
        throw CCommonException(0xCEF00004, 21, "ImageChunkAux.cpp");
    }
}

CImageChunk* InitImageChunk(void* chunkStart, uint32_t dataSize)
{
    if (dataSize > UINT32_MAX - ImageChunkOverhead)
        throw CCommonException(0xCEF0000A, __LINE__, "ImageChunkAux.cpp");
    auto* header = static_cast<unsigned char*>(chunkStart) + dataSize;
    CChunk::At(header + sizeof(CImageChunk))->Set(GUID_ImageChunk, dataSize + ImageChunkOverhead);
    return reinterpret_cast<CImageChunk*>(header);
}

CChunkPtr<CImageChunk> CreateImageChunkBuffer(int x, int y, int width, int height,
                                              const CSmartPointer<IMemAllocator>& allocator,
                                              uint8_t pixelType)
{
    const int64_t bits = ImageChunkBitsPerPixel(pixelType);
    // The header keeps all four as 16-bit fields.
    auto fits16 = [](int v) { return v >= 0 && v <= 0xFFFF; };
    if (!fits16(x) || !fits16(y) || !fits16(width) || !fits16(height) || !allocator)
        throw CCommonException(0xCEF00004, __LINE__, "ImageChunkAux.cpp");

    // 64-bit products: 65535 x 65535 x 64 bits does not fit 32 bits.
    const int64_t dataSize = int64_t(width) * height * bits / 8;
    const int64_t length = dataSize + ImageChunkOverhead;
    if (length > int64_t(UINT32_MAX))
        throw CCommonException(0xCEF0000A, __LINE__, "ImageChunkAux.cpp");

    CSmartPointer<IMemBlock> block = CAllocMemBlock::Create(static_cast<uint32_t>(length), allocator);
    CImageChunk* header = InitImageChunk(block->Lock(), static_cast<uint32_t>(dataSize));
    header->pitch = static_cast<int32_t>(int64_t(width) * bits / 8);
    header->bitDepth = static_cast<uint8_t>(bits);
    header->x = static_cast<uint16_t>(x);
    header->y = static_cast<uint16_t>(y);
    header->height = static_cast<uint16_t>(height);
    header->width = static_cast<uint16_t>(width);
    header->pixelType = pixelType;
    block->Unlock();

    CSmartPointer<CChunkBuffer> buffer = CChunkBuffer::Create(block, 0);
    CSmartPointer<IEnumChunks> chunks;
    buffer->EnumChunks(chunks);
    CChunkPtr<CChunk> chunk;
    chunks->Next(chunk);
    return chunk;
}

} // namespace Tav
