// Image chunks with arbitrary headers and pixels, and register settings
// from the input, through the statistics module: errors are reported,
// nothing crashes or reads outside the chunk.

#include "ImageStatistics.h"

#include "DataBuffer/AllocMemBlock.h"
#include "DataBuffer/ChunkBuffer.h"
#include "DataBuffer/ImageChunk.h"
#include "DataBuffer/Packet.h"
#include "DataBuffer/RtlHeapAllocator.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

using namespace Tav;

namespace {

struct Input {
    const uint8_t* data;
    size_t size;
    int32_t Take(int bytes)
    {
        int32_t value = 0;
        for (int i = 0; i < bytes && size > 0; ++i, ++data, --size)
            value |= int32_t(*data) << (8 * i);
        return value;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static CImageStatistics* statistics = [] {
        auto* module = new CImageStatistics;
        module->Initialize("ImageStatistics", nullptr);
        return module;
    }();
    Input in{data, size};
    // Settings: view, margin, sub-sampling, window option and size, shift,
    // offset, filter mode, selections.
    const uint32_t addresses[] = {16, 17, 9, 81, 82, 85, 84, 86, 19, 20, 38, 8};
    for (uint32_t address : addresses) {
        int32_t value = int8_t(in.Take(1));
        try {
            statistics->Write(address, &value, 4);
        } catch (const CException&) {
        }
    }
    // Mostly sizes the data can fill; the flag's bit 0 sends the bytes as
    // they are instead, usually too few for the header.
    const int flag = in.Take(1);
    const int width = (flag & 2) ? in.Take(2) : 4 + in.Take(1) % 60;
    const int height = (flag & 2) ? in.Take(2) : 4 + in.Take(1) % 60;
    const uint8_t type = (flag & 4) ? PixelTypeMono16 : PixelTypeMono8;
    const int bytesPerPixel = type == PixelTypeMono16 ? 2 : 1;
    const int32_t pitch = (flag & 8) ? int16_t(in.Take(2)) : ((flag & 16) ? -1 : 1) * width * bytesPerPixel;
    uint32_t pixels = uint32_t(in.size);
    if (!(flag & 1))
        pixels = uint32_t(std::min<uint64_t>(uint64_t(width) * uint64_t(height) * bytesPerPixel, 1u << 22));
    CSmartPointer<IMemBlock> block = CAllocMemBlock::Create(pixels + ImageChunkOverhead, GetDefaultAllocator());
    uint8_t* target = static_cast<uint8_t*>(block->Lock());
    for (uint32_t i = 0; i < pixels; ++i)
        target[i] = in.size ? in.data[i % in.size] : uint8_t(i);
    CImageChunk* header = InitImageChunk(target, pixels);
    std::memset(header, 0, sizeof *header);
    header->width = uint16_t(width);
    header->height = uint16_t(height);
    header->pixelType = type;
    header->pitch = pitch;
    block->Unlock();
    CSmartPointer<CChunkBuffer> buffer = CChunkBuffer::Create(block, 0);
    CSmartPointer<IPacket> packet = CPacket::Create();
    packet->AddChunkBuffer(buffer.Get());
    statistics->ProcessPacket(packet);
    int32_t direction = 1;
    statistics->Write(39, &direction, 4);
    return 0;
}
