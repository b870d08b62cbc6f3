#pragma once

#include "DataBuffer/ChunkBuffer.h"
#include "DataBuffer/ChunkPtr.h"
#include "DataBuffer/Guid.h"
#include "DataBuffer/SmartPointer.h"

#include <cstdint>
#include <string>

namespace Tav {

// Chunks carrying one uint32 directly in front of the trailer (length 28):
// frame counter, 1394 cycle time, device state, acquisition marker, refresh.
inline constexpr uint32_t ValueChunkLength = 28;

// A new 28-byte chunk buffer from the default allocator holding one such chunk.
CSmartPointer<CChunkBuffer> MakeValueChunkBuffer(const GUID& type, uint32_t value);

// The 32-bit value in front of the chunk's trailer. Throws 0xCEF00004 for an
// empty pointer and 0xCEF20008 for a chunk shorter than 28 bytes.
uint32_t ReadChunkValue(const CChunkPtr<CChunk>& chunk);

// The IEEE-1394 cycle time register: bits 31-25 seconds, 24-12 cycle count,
// 11-0 cycle offset.
struct CCycleTime {
    int seconds;
    int cycleCount;
    int cycleOffset;
};
CCycleTime DecodeCycleTime(uint32_t value);

// The viewers' texts: "%ld " of a frame counter, "%03d:%04d:%04d " of a
// cycle time.
std::string FormatFrameCounter(uint32_t counter);
std::string FormatCycleTime(uint32_t value);

} // namespace Tav
