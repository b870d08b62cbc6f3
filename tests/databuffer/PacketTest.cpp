#include "ChainBuilder.h"

#include "DataBuffer/IPacket.h"
#include "DataBuffer/Packet.h"

#include <algorithm>

#include <gtest/gtest.h>

#include <thread>

using namespace Tav;
using TavTest::ChainBuilder;
using TavTest::TypeA;
using TavTest::TypeB;

namespace {
uint8_t FirstPayloadByte(const CChunkPtr<CChunk>& chunk)
{
    int size = 0;
    auto* payload = static_cast<unsigned char*>(chunk.LockData(&size));
    uint8_t value = size > 0 ? payload[0] : 0;
    chunk.UnlockData();
    return value;
}
} // namespace

TEST(Packet, EmptyPacket)
{
    CSmartPointer<IPacket> packet = CPacket::Create();
    EXPECT_EQ(packet->GetSequenceNumber(), 0);
    CChunkPtr<CChunk> chunk(CChunk::At(&packet), nullptr); // not null before the call
    packet->FindChunk(chunk, TypeA);
    EXPECT_TRUE(chunk.IsNull());
    EXPECT_TRUE(chunk.GetBuffer().IsNull());
    CSmartPointer<IEnumChunkBuffers> buffers;
    packet->EnumChunkBuffers(buffers);
    EXPECT_EQ(buffers->GetCount(), 0);
    CSmartPointer<IChunkBuffer> none;
    EXPECT_FALSE(buffers->Next(none));
    EXPECT_THROW(packet->AddChunkBuffer(nullptr), CException);
}

TEST(Packet, FindChunkPrefersTheBufferAddedFirst)
{
    CSmartPointer<IPacket> packet = CPacket::Create();
    packet->AddChunkBuffer(ChainBuilder().Chunk(TypeB, {9}).Chunk(TypeA, {1}).Build());
    packet->AddChunkBuffer(ChainBuilder().Chunk(TypeA, {2}).Build());

    CChunkPtr<CChunk> chunk;
    packet->FindChunk(chunk, TypeA);
    ASSERT_FALSE(chunk.IsNull());
    EXPECT_EQ(FirstPayloadByte(chunk), 1);
    packet->FindChunk(chunk, TypeB);
    EXPECT_EQ(FirstPayloadByte(chunk), 9);

    CSmartPointer<IEnumChunks> all;
    packet->EnumChunks(all, TypeA);
    ASSERT_EQ(all->GetCount(), 2);
    all->Next(chunk);
    EXPECT_EQ(FirstPayloadByte(chunk), 1);
    all->Next(chunk);
    EXPECT_EQ(FirstPayloadByte(chunk), 2);

    packet->EnumChunks(all, GUID_ImageChunk);
    EXPECT_EQ(all->GetCount(), 0);

    CSmartPointer<IEnumChunkBuffers> buffers;
    packet->EnumChunkBuffers(buffers);
    EXPECT_EQ(buffers->GetCount(), 2);
}

TEST(Packet, MalformedBufferMakesLookupsThrow)
{
    CSmartPointer<IPacket> packet = CPacket::Create();
    packet->AddChunkBuffer(ChainBuilder().Chunk(TypeA).Build());
    packet->AddChunkBuffer(ChainBuilder().Raw(TypeB, {}, 24, 24).Build());
    CChunkPtr<CChunk> chunk;
    // The first buffer has no TypeB, so the broken second one is walked.
    try {
        packet->FindChunk(chunk, TypeB);
        FAIL();
    } catch (const CException& e) {
        EXPECT_EQ(e.GetCode(), 0xCEF20000u);
    }
    CSmartPointer<IEnumChunks> all;
    EXPECT_THROW(packet->EnumChunks(all, TypeA), CException);
}

TEST(Packet, ReleasingThePacketReleasesItsBuffers)
{
    auto buffer = ChainBuilder().Chunk(TypeA).Build();
    auto& counted = static_cast<CRefCounted<CChunkBuffer>&>(*buffer);
    CSmartPointer<IPacket> packet = CPacket::Create();
    packet->AddChunkBuffer(buffer);
    packet->SetSequenceNumber(-5);
    EXPECT_EQ(packet->GetSequenceNumber(), -5);
    EXPECT_EQ(counted.GetRefCount(), 2);
    packet.Reset();
    EXPECT_EQ(counted.GetRefCount(), 1);
}

TEST(Packet, SequenceNumbersCountUpAcrossThreads)
{
    constexpr int perThread = 1000;
    std::vector<int64_t> a, b;
    std::thread ta([&] {
        for (int i = 0; i < perThread; ++i)
            a.push_back(CPacket::NextSequenceNumber());
    });
    std::thread tb([&] {
        for (int i = 0; i < perThread; ++i)
            b.push_back(CPacket::NextSequenceNumber());
    });
    ta.join();
    tb.join();
    std::vector<int64_t> all(a);
    all.insert(all.end(), b.begin(), b.end());
    std::sort(all.begin(), all.end());
    EXPECT_EQ(std::adjacent_find(all.begin(), all.end()), all.end());
    EXPECT_GE(all.front(), 1);
    EXPECT_EQ(all.back() - all.front(), 2 * perThread - 1);
}

TEST(Packet, ReadersAndAnAppendingReceiverShareOnePacket)
{
    CSmartPointer<IPacket> packet = CPacket::Create();
    packet->AddChunkBuffer(ChainBuilder().Chunk(TypeA, {1}).Build());
    auto extra = ChainBuilder().Chunk(TypeB, {2}).Build();
    std::thread reader([&] {
        for (int i = 0; i < 2000; ++i) {
            CChunkPtr<CChunk> chunk;
            packet->FindChunk(chunk, TypeA);
            ASSERT_FALSE(chunk.IsNull());
        }
    });
    for (int i = 0; i < 200; ++i)
        packet->AddChunkBuffer(extra);
    reader.join();
    CSmartPointer<IEnumChunks> all;
    packet->EnumChunks(all, TypeB);
    EXPECT_EQ(all->GetCount(), 200);
}
