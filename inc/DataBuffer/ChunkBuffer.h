#pragma once

#include "Common/Exception.h"
#include "DataBuffer/ChunkPtr.h"
#include "DataBuffer/IChunkBuffer.h"
#include "DataBuffer/IEnumChunks.h"
#include "DataBuffer/IMemBlock.h"
#include "DataBuffer/SmartPointer.h"

#include <cstdint>

namespace Tav {

// Failure kinds of the chain walk; each maps to a data-buffer error code,
// raised with the arguments (trailer offset from the buffer start, kind).
enum class ChainFault : int {
    None = 0,
    BadComplement = 2,     // 0xCEF20000: length and complement disagree
    TrailerBeyondEnd = 3,  // 0xCEF20001
    ShortLength = 4,       // 0xCEF20002: length 0, or shorter than a trailer
    BelowAddressZero = 5,  // 0xCEF20003: the chunk would start below address 0
    BeforeStart = 6,       // 0xCEF20004: the chunk starts before the buffer
    LeadingBytes = 7,      // 0xCEF20005: bytes left in front of the first chunk
    TooSmall = 100,        // 0xCEF20007: buffer smaller than one trailer
};

// Data-buffer error code of a chain fault.
uint32_t ChainFaultCode(ChainFault fault);

// A memory block read as a chunk chain. It is itself a memory block (the
// wrapped block, less `sizeAdjust` bytes at its end) and keeps the wrapped
// block referenced and locked while attached. No lock of its own: filled
// before it is sent, only read afterwards.
class CChunkBuffer : public IChunkBuffer, public IMemBlock {
public:
    // Both bases count the same references.
    int AddRef() override = 0;
    int Release() override = 0;

    void EnumChunks(CSmartPointer<IEnumChunks>& out) override;
    ~CChunkBuffer() override;

    void* Lock() override;
    void Unlock() override;
    uint32_t GetSize() const override;

    // A new chunk buffer over `block`; `sizeAdjust` (<= 0) leaves the block's
    // last -sizeAdjust bytes outside the buffer (a camera's check word, say).
    // Converts to CSmartPointer<IChunkBuffer> and CSmartPointer<IMemBlock>.
    static CSmartPointer<CChunkBuffer> Create(const CSmartPointer<IMemBlock>& block, int sizeAdjust);

    // Throws 0xCEF00005 when a block is already attached, 0xCEF00006 for a
    // positive adjustment or one larger than the block.
    void Attach(IMemBlock* block, int sizeAdjust);

    // Walks the whole chain. On a malformed chain returns false and, when
    // `error` is given, stores a new data-buffer exception there (owned by
    // the caller; null if it could not be allocated). An unattached buffer
    // is valid (it has no chunks).
    bool Validate(CException** error);

    // The chain walk without collecting: ChainFault::None when well formed,
    // else the fault and the offset of the trailer where it was found (for
    // LeadingBytes a negative offset, as its 32-bit two's complement).
    ChainFault Check(uint32_t* faultOffset) const;

    // The first chunk of `type` (from the end), or empty. The whole chain is
    // walked, so a malformed buffer throws even when the type occurs.
    CChunkPtr<CChunk> FindChunk(const GUID& type);

    // Start of the buffer's memory (null before Attach).
    unsigned char* GetData() const { return data; }

protected:
    CChunkBuffer() = default;

private:
    template <class Visit>
    ChainFault Walk(uint32_t* faultOffset, Visit&& visit) const;
    [[noreturn]] void ThrowFault(ChainFault fault, uint32_t offset, int line) const;

    IMemBlock* block = nullptr;
    unsigned char* data = nullptr;
    int sizeAdjust = 0;
};

} // namespace Tav
