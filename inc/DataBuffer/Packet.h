#pragma once

#include "DataBuffer/IPacket.h"
#include "DataBuffer/RefCounted.h"
#include "DataBuffer/SafeNew.h"
#include "DataBuffer/SmartPointer.h"

#include <cstdint>
#include <mutex>
#include <vector>

// The packet implementation. The list has a small lock of its own so that a
// receiver appending a buffer cannot corrupt another thread's traversal of
// the same packet.
class CPacket : public CRefCounted<Tav::IPacket> {
public:
    // An empty packet, sequence number 0.
    static Tav::CSmartPointer<Tav::IPacket> Create();

    void AddChunkBuffer(Tav::IChunkBuffer* buffer) override;
    void EnumChunkBuffers(Tav::CSmartPointer<Tav::IEnumChunkBuffers>& out) override;
    void FindChunk(Tav::CChunkPtr<Tav::CChunk>& out, const Tav::GUID& type) override;
    void EnumChunks(Tav::CSmartPointer<Tav::IEnumChunks>& out, const Tav::GUID& type) override;
    int64_t GetSequenceNumber() const override { return sequenceNumber; }
    void SetSequenceNumber(int64_t value) override { sequenceNumber = value; }
    ~CPacket() override;

    // The next value of the process-wide 32-bit packet counter, sign-extended;
    // the first call returns 1. Thread-safe.
    static int64_t NextSequenceNumber();

protected:
    template <class T, typename... Args>
    friend T* Tav::SafeNew(Args&&...);
    CPacket() = default;

private:
    using BufferList = std::vector<Tav::CSmartPointer<Tav::IChunkBuffer>>;
    BufferList Snapshot();

    int64_t sequenceNumber = 0;
    BufferList chunkBuffers;
    std::mutex listLock;
};
