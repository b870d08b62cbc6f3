#include "support/TestPackets.h"

#include "Core/ErrorChunk.h"
#include "DataBuffer/AllocMemBlock.h"
#include "DataBuffer/RtlHeapAllocator.h"
#include "DataBuffer/Guid.h"
#include "DataBuffer/ImageChunk.h"
#include "DataBuffer/Packet.h"
#include "DataBuffer/ValueChunk.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace TavTest {

using namespace Tav;

CSmartPointer<CountingAllocator> CountingAllocator::Create()
{
    return new CRefCounted<CountingAllocator>();
}

void* CountingAllocator::Alloc(uint32_t size)
{
    void* memory = std::malloc(size ? size : 1);
    if (!memory)
        throw std::bad_alloc();
    int now = ++live;
    int seen = peak.load();
    while (now > seen && !peak.compare_exchange_weak(seen, now)) {
    }
    return memory;
}

void CountingAllocator::Free(void* memory)
{
    if (memory)
        --live;
    std::free(memory);
}

CSmartPointer<IPacket> MakeImagePacket(int64_t sequence, int width, int height, IMemAllocator* allocator)
{
    CSmartPointer<IMemAllocator> source = allocator ? CSmartPointer<IMemAllocator>(allocator) : GetDefaultAllocator();
    CChunkPtr<CImageChunk> image = CreateImageChunkBuffer(0, 0, width, height, source, PixelTypeMono8);
    int size = 0;
    void* pixels = image.LockData(&size);
    if (pixels)
        std::memset(pixels, static_cast<int>(sequence & 0xFF), static_cast<size_t>(size));
    image.UnlockData();
    CSmartPointer<IPacket> packet = CPacket::Create();
    packet->AddChunkBuffer(image.GetBuffer().Get());
    packet->SetSequenceNumber(sequence);
    return packet;
}

void AddFrameCounter(const CSmartPointer<IPacket>& packet, uint32_t counter)
{
    packet->AddChunkBuffer(MakeValueChunkBuffer(GUID_FrameCounterChunk, counter).Get());
}

CSmartPointer<IPacket> MakeCounterPacket(std::initializer_list<uint32_t> counters)
{
    CSmartPointer<IPacket> packet = CPacket::Create();
    for (uint32_t c : counters)
        AddFrameCounter(packet, c);
    return packet;
}

CSmartPointer<IPacket> MakeMarkerPacket(int64_t sequence, uint32_t marker)
{
    CSmartPointer<IPacket> packet = CPacket::Create();
    packet->AddChunkBuffer(MakeValueChunkBuffer(GUID_AcquisitionMarkerChunk, marker).Get());
    packet->SetSequenceNumber(sequence);
    return packet;
}

CSmartPointer<IPacket> MakeMarkedImagePacket(int64_t sequence, uint32_t marker)
{
    CSmartPointer<IPacket> packet = MakeImagePacket(sequence);
    packet->AddChunkBuffer(MakeValueChunkBuffer(GUID_AcquisitionMarkerChunk, marker).Get());
    return packet;
}

CSmartPointer<IPacket> MakeErrorPacket(const std::vector<CException>& errors)
{
    CSmartPointer<IPacket> packet = CPacket::Create();
    for (const CException& e : errors)
        packet->AddChunkBuffer(MakeErrorChunkBuffer(e).Get());
    return packet;
}

} // namespace TavTest
