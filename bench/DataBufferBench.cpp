// Per-frame cost of the data-buffer layer on the camera thread.
#include "DataBuffer/AllocMemBlock.h"
#include "DataBuffer/ChunkBuffer.h"
#include "DataBuffer/IEnumChunks.h"
#include "DataBuffer/ImageChunk.h"
#include "DataBuffer/Packet.h"
#include "DataBuffer/RtlHeapAllocator.h"

#include <benchmark/benchmark.h>

#include <cstring>

using namespace Tav;

namespace {

// A camera block as the 1394 layer delivers it: a 640 x 480 Mono16 image,
// then a frame counter and a cycle time chunk, then a 4-byte check word.
CSmartPointer<IMemBlock> MakeCameraBlock()
{
    const uint32_t pixels = 640 * 480 * 2;
    const uint32_t imageLength = pixels + 48;
    const uint32_t size = imageLength + 28 + 28 + 4;
    CSmartPointer<IMemBlock> block = CAllocMemBlock::Create(size, GetDefaultAllocator());
    auto* data = static_cast<unsigned char*>(block->Lock());
    std::memset(data, 0, size);
    auto* header = reinterpret_cast<CImageChunk*>(data + pixels);
    header->pitch = 1280;
    header->bitDepth = 12;
    header->width = 640;
    header->height = 480;
    header->pixelType = PixelTypeMono16;
    CChunk::At(data + pixels + 24)->Set(GUID_ImageChunk, imageLength);
    unsigned char* p = data + imageLength;
    StoreU32(p, 17);
    CChunk::At(p + 4)->Set(GUID_FrameCounterChunk, 28);
    p += 28;
    StoreU32(p, 0x12345678);
    CChunk::At(p + 4)->Set(GUID_CycleTimeChunk, 28);
    block->Unlock();
    return block;
}

void BM_WrapCameraBlockAndFindImage(benchmark::State& state)
{
    CSmartPointer<IMemBlock> block = MakeCameraBlock();
    for (auto _ : state) {
        CSmartPointer<CChunkBuffer> buffer = CChunkBuffer::Create(block, -4);
        CException* error = nullptr;
        if (!buffer->Validate(&error)) {
            delete error;
            state.SkipWithError("invalid camera block");
            break;
        }
        CSmartPointer<IPacket> packet = CPacket::Create();
        packet->AddChunkBuffer(buffer);
        packet->SetSequenceNumber(CPacket::NextSequenceNumber());
        CChunkPtr<CImageChunk> image = FindTypedChunk<CImageChunk>(*packet, GUID_ImageChunk);
        uint16_t width = image->width;
        benchmark::DoNotOptimize(width);
    }
}
BENCHMARK(BM_WrapCameraBlockAndFindImage);

// What a receiver pays for its lookup in a packet it was given.
void BM_FindImageInPacket(benchmark::State& state)
{
    CSmartPointer<IPacket> packet = CPacket::Create();
    packet->AddChunkBuffer(CChunkBuffer::Create(MakeCameraBlock(), -4));
    for (auto _ : state) {
        CChunkPtr<CChunk> image;
        packet->FindChunk(image, GUID_ImageChunk);
        benchmark::DoNotOptimize(image.GetChunk());
    }
}
BENCHMARK(BM_FindImageInPacket);

void BM_EnumerateEightChunks(benchmark::State& state)
{
    const uint32_t size = 8 * 32;
    CSmartPointer<IMemBlock> block = CAllocMemBlock::Create(size, GetDefaultAllocator());
    auto* data = static_cast<unsigned char*>(block->Lock());
    for (int i = 0; i < 8; ++i) {
        StoreU32(data + 32 * i, i);
        StoreU32(data + 32 * i + 4, i);
        CChunk::At(data + 32 * i + 8)->Set(i % 2 ? GUID_FrameCounterChunk : GUID_CycleTimeChunk, 32);
    }
    block->Unlock();
    CSmartPointer<CChunkBuffer> buffer = CChunkBuffer::Create(block, 0);
    for (auto _ : state) {
        CSmartPointer<IEnumChunks> chunks;
        buffer->EnumChunks(chunks);
        CChunkPtr<CChunk> chunk;
        int count = 0;
        while (chunks->Next(chunk))
            ++count;
        benchmark::DoNotOptimize(count);
    }
}
BENCHMARK(BM_EnumerateEightChunks);

} // namespace
