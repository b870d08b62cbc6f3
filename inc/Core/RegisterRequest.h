#pragma once

#include "DataBuffer/ChunkBuffer.h"
#include "DataBuffer/ChunkPtr.h"
#include "DataBuffer/IPacket.h"

#include <cstdint>
#include <cstring>

namespace Tav {

enum RegisterDirection : uint32_t { RegisterRead = 0, RegisterWrite = 1 };

// Size of a register-access chunk without data: request header and trailer.
constexpr uint32_t RegisterRequestOverhead = 40;

// One register-access chunk as laid out in memory: the data area, then
// uint64 address (low half first), uint32 direction, uint32 length, then
// the trailer. The receiver reads into or from the data area in place.
class CRegisterRequestView {
public:
    // Throws the data-buffer error 0xCEF20008 for a chunk too short to hold
    // the request header.
    explicit CRegisterRequestView(const CChunkPtr<CChunk>& chunk);

    uint64_t GetAddress() const { return (uint64_t(GetAddressHigh()) << 32) | GetAddressLow(); }
    uint32_t GetAddressLow() const { return LoadU32(header); }
    uint32_t GetAddressHigh() const { return LoadU32(header + 4); }
    uint32_t GetDirection() const { return LoadU32(header + 8); }
    uint32_t GetLength() const { return LoadU32(header + 12); }
    // Null when the chunk has no data area.
    unsigned char* GetData() const { return dataSize ? header - dataSize : nullptr; }
    uint32_t GetDataSize() const { return dataSize; }

private:
    unsigned char* header;
    uint32_t dataSize;
};

// A register request in a packet of its own, as a requester sends it. After
// the packet was sent, a read finds its result in the request's data area.
class CRegisterRequest {
public:
    static CRegisterRequest Read(uint64_t address, uint32_t length);
    static CRegisterRequest Write(uint64_t address, const void* data, uint32_t length);
    // Any direction and data-area size (`data` may be null), for receivers'
    // checks of malformed requests.
    static CRegisterRequest Make(uint64_t address, uint32_t direction, uint32_t length, uint32_t dataSize,
                                 const void* data);

    // One register-access chunk filling a chunk buffer of its own.
    static CSmartPointer<CChunkBuffer> MakeBuffer(uint64_t address, uint32_t direction, uint32_t length,
                                                  uint32_t dataSize, const void* data);

    const CSmartPointer<IPacket>& GetPacket() const { return packet; }
    const unsigned char* GetData() const { return buffer->GetData(); }
    uint32_t GetDataSize() const { return dataSize; }

    // The data area read as a T (the area must hold one).
    template <class T>
    T GetValue() const
    {
        T value{};
        std::memcpy(&value, GetData(), sizeof(T) <= dataSize ? sizeof(T) : dataSize);
        return value;
    }

private:
    CSmartPointer<IPacket> packet;
    CSmartPointer<CChunkBuffer> buffer;
    uint32_t dataSize = 0;
};

} // namespace Tav
