#pragma once

// Packet builders for module tests: images, frame counters, acquisition
// markers and error packets.

#include "Common/Exception.h"
#include "DataBuffer/IMemAllocator.h"
#include "DataBuffer/IPacket.h"
#include "DataBuffer/RefCounted.h"

#include <atomic>

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace TavTest {

// A heap allocator that counts its live allocations: the memory blocks
// still held somewhere.
class CountingAllocator : public Tav::IMemAllocator {
public:
    static Tav::CSmartPointer<CountingAllocator> Create();
    void* Alloc(uint32_t size) override;
    void Free(void* memory) override;
    int Live() const { return live.load(); }
    int Peak() const { return peak.load(); }

private:
    std::atomic<int> live{0};
    std::atomic<int> peak{0};
};

// A packet with one small Mono8 image chunk buffer; `sequence` becomes the
// packet's sequence number so tests can tell images apart. Memory from the
// default allocator unless one is given.
Tav::CSmartPointer<Tav::IPacket> MakeImagePacket(int64_t sequence, int width = 4, int height = 2,
                                                 Tav::IMemAllocator* allocator = nullptr);

// An image packet that also carries an acquisition marker.
Tav::CSmartPointer<Tav::IPacket> MakeMarkedImagePacket(int64_t sequence, uint32_t marker = 0);

// Appends a chunk buffer holding one frame-counter chunk.
void AddFrameCounter(const Tav::CSmartPointer<Tav::IPacket>& packet, uint32_t counter);

// A packet holding one frame-counter chunk buffer per counter, in order.
Tav::CSmartPointer<Tav::IPacket> MakeCounterPacket(std::initializer_list<uint32_t> counters);

// A packet with one acquisition-marker chunk (0 start, 1 end).
Tav::CSmartPointer<Tav::IPacket> MakeMarkerPacket(int64_t sequence, uint32_t marker = 0);

// A packet with one error chunk buffer per error, in order.
Tav::CSmartPointer<Tav::IPacket> MakeErrorPacket(const std::vector<Tav::CException>& errors);

// The sequence numbers of `packets`, in order.
template <class Container>
std::vector<int64_t> SequencesOf(const Container& packets)
{
    std::vector<int64_t> out;
    for (const auto& p : packets)
        out.push_back(p.packet->GetSequenceNumber());
    return out;
}

} // namespace TavTest
