#include "ChainBuilder.h"

#include "DataBuffer/AttachMemBlock.h"
#include "DataBuffer/ChunkBuffer.h"
#include "DataBuffer/IEnumChunks.h"
#include "DataBuffer/RefCounted.h"
#include "DataBuffer/SafeNew.h"

#include <gtest/gtest.h>

#include <memory>
#include <sys/mman.h>

using namespace Tav;
using TavTest::ChainBuilder;
using TavTest::TypeA;
using TavTest::TypeB;

namespace {

std::vector<CChunkPtr<CChunk>> Enumerate(IChunkBuffer& buffer)
{
    CSmartPointer<IEnumChunks> chunks;
    buffer.EnumChunks(chunks);
    std::vector<CChunkPtr<CChunk>> result;
    CChunkPtr<CChunk> chunk;
    while (chunks->Next(chunk))
        result.push_back(chunk);
    EXPECT_TRUE(chunk.IsNull());
    EXPECT_EQ(chunks->GetCount(), static_cast<int>(result.size()));
    return result;
}

struct Failure {
    uint32_t code;
    int line;
    std::string file;
};

// The error EnumChunks throws, checked against what Validate reports.
Failure EnumFailure(CChunkBuffer& buffer)
{
    Failure failure{0, 0, ""};
    try {
        Enumerate(buffer);
        ADD_FAILURE() << "EnumChunks did not throw";
    } catch (const CException& e) {
        failure = {e.GetCode(), e.GetLine(), e.GetFile()};
    }
    CException* raw = nullptr;
    EXPECT_FALSE(buffer.Validate(&raw));
    std::unique_ptr<CException> validated(raw);
    EXPECT_NE(validated, nullptr);
    if (validated) {
        EXPECT_EQ(validated->GetCode(), failure.code);
        EXPECT_EQ(validated->GetLine(), 152);
        EXPECT_EQ(validated->GetFile(), "ChunkBuffer.cpp");
    }
    EXPECT_FALSE(buffer.Validate(nullptr));
    return failure;
}

uint32_t FaultOffset(const CChunkBuffer& buffer, ChainFault expected)
{
    uint32_t offset = 0xDEADBEEF;
    EXPECT_EQ(buffer.Check(&offset), expected);
    return offset;
}

} // namespace

TEST(ChunkBuffer, OneChunkFillingTheBuffer)
{
    auto buffer = ChainBuilder().Chunk(TypeA, {1, 2, 3, 4, 5}).Build();
    auto chunks = Enumerate(*buffer);
    ASSERT_EQ(chunks.size(), 1u);
    EXPECT_TRUE(chunks[0].IsType(TypeA));
    EXPECT_EQ(chunks[0].GetLength(), 29u);
    EXPECT_EQ(reinterpret_cast<unsigned char*>(chunks[0].GetChunk()), buffer->GetData() + 5);
    EXPECT_EQ(chunks[0].GetBuffer().Get(), static_cast<IChunkBuffer*>(buffer.Get()));

    // LockData holds the buffer until UnlockData.
    auto& counted = static_cast<CRefCounted<CChunkBuffer>&>(*buffer);
    EXPECT_EQ(counted.GetRefCount(), 2);
    int size = -1;
    auto* payload = static_cast<unsigned char*>(chunks[0].LockData(&size));
    EXPECT_EQ(counted.GetRefCount(), 3);
    EXPECT_EQ(size, 5);
    EXPECT_EQ(payload, buffer->GetData());
    EXPECT_EQ(payload[4], 5);
    chunks[0].UnlockData();
    EXPECT_EQ(counted.GetRefCount(), 2);
    EXPECT_TRUE(buffer->Validate(nullptr));
}

TEST(ChunkBuffer, TrailerOnlyChunkHasAnEmptyPayload)
{
    auto buffer = ChainBuilder().Chunk(TypeB).Build();
    auto chunks = Enumerate(*buffer);
    ASSERT_EQ(chunks.size(), 1u);
    int size = -1;
    EXPECT_EQ(chunks[0].LockData(&size), nullptr);
    EXPECT_EQ(size, 0);
    chunks[0].UnlockData();
}

TEST(ChunkBuffer, EnumeratesFromTheEndAndKeepsTheBufferAlive)
{
    CSmartPointer<IEnumChunks> chunks;
    {
        auto buffer = ChainBuilder().Chunk(TypeA, {1}).Chunk(TypeB, {2, 2}).Chunk(TypeA, {3, 3, 3}).Build();
        buffer->EnumChunks(chunks);
    }
    // Only the enumerator's chunk pointers hold the buffer now.
    CChunkPtr<CChunk> chunk;
    std::vector<int> payloadSizes;
    while (chunks->Next(chunk)) {
        int size = 0;
        auto* payload = static_cast<unsigned char*>(chunk.LockData(&size));
        payloadSizes.push_back(size);
        EXPECT_EQ(payload[0], size);
        chunk.UnlockData();
    }
    EXPECT_EQ(payloadSizes, (std::vector<int>{3, 2, 1}));
}

TEST(ChunkBuffer, SizeAdjustmentLeavesTheBlockTailOutside)
{
    ChainBuilder chain;
    chain.Chunk(TypeA, {9, 9}).Bytes(4, 0x55); // a camera check word behind the chain
    auto buffer = chain.Build(-4);
    EXPECT_EQ(buffer->GetSize(), 26u);
    EXPECT_EQ(Enumerate(*buffer).size(), 1u);
    EXPECT_NE(chain.Build(0)->Check(nullptr), ChainFault::None);
}

TEST(ChunkBuffer, AttachRefusesASecondBlockAndBadAdjustments)
{
    auto block = CAllocMemBlock::Create(24, GetDefaultAllocator());
    auto buffer = CChunkBuffer::Create(block, 0);
    EXPECT_EQ(static_cast<CAllocMemBlock&>(*block).GetLockCount(), 1);
    try {
        buffer->Attach(block, 0);
        FAIL();
    } catch (const CException& e) {
        EXPECT_EQ(e.GetCode(), 0xCEF00005u);
        EXPECT_EQ(e.GetLine(), 76);
    }
    for (int adjust : {1, -25, INT32_MIN}) {
        try {
            CChunkBuffer::Create(block, adjust);
            FAIL() << adjust;
        } catch (const CException& e) {
            EXPECT_EQ(e.GetCode(), 0xCEF00006u);
            EXPECT_EQ(e.GetLine(), 81);
        }
    }
    EXPECT_EQ(CChunkBuffer::Create(block, -24)->GetSize(), 0u);
    buffer.Reset();
    EXPECT_EQ(static_cast<CAllocMemBlock&>(*block).GetLockCount(), 0);
}

TEST(ChunkBuffer, UnattachedBufferHasNoChunks)
{
    class Unattached : public CChunkBuffer {};
    CSmartPointer<CChunkBuffer> buffer(SafeNew<CRefCounted<Unattached>>());
    EXPECT_TRUE(Enumerate(*buffer).empty());
    EXPECT_TRUE(buffer->Validate(nullptr));
    EXPECT_EQ(buffer->GetSize(), 0u);
    EXPECT_TRUE(buffer->FindChunk(TypeA).IsNull());
}

TEST(ChunkBuffer, BufferSmallerThanATrailer)
{
    for (size_t size : {0, 10, 23}) {
        auto buffer = ChainBuilder().Bytes(size).Build();
        Failure f = EnumFailure(*buffer);
        EXPECT_EQ(f.code, 0xCEF20007u) << size;
        EXPECT_EQ(f.line, 113);
    }
}

TEST(ChunkBuffer, WrongComplementIsReportedAtTheLastTrailer)
{
    ChainBuilder chain;
    chain.Chunk(TypeA, {1, 2}).Raw(TypeB, {3}, 25, 25);
    auto buffer = chain.Build();
    Failure f = EnumFailure(*buffer);
    EXPECT_EQ(f.code, 0xCEF20000u);
    EXPECT_EQ(f.line, 128);
    EXPECT_EQ(FaultOffset(*buffer, ChainFault::BadComplement), buffer->GetSize() - 24);
}

TEST(ChunkBuffer, LeadingBytesInFrontOfTheFirstChunk)
{
    for (size_t leading : {1, 5, 23}) {
        auto buffer = ChainBuilder().Bytes(leading).Chunk(TypeA, {7}).Build();
        EXPECT_EQ(EnumFailure(*buffer).code, 0xCEF20005u) << leading;
        EXPECT_EQ(int32_t(FaultOffset(*buffer, ChainFault::LeadingBytes)), int32_t(leading) - 24);
    }
    // 24 leading bytes are read as one more trailer, whose complement fails.
    auto buffer = ChainBuilder().Bytes(24).Chunk(TypeA, {7}).Build();
    EXPECT_EQ(EnumFailure(*buffer).code, 0xCEF20000u);
    EXPECT_EQ(FaultOffset(*buffer, ChainFault::BadComplement), 0u);
}

TEST(ChunkBuffer, LengthsThatWouldLeaveTheBuffer)
{
    // Lengths near 2^32 and just past the start: the chunk would begin
    // before the buffer.
    for (uint32_t length : {0xFFFFFFFFu, 0xFFFFFFE8u, 0x80000000u, 50u}) {
        auto buffer = ChainBuilder().Bytes(25).Raw(TypeA, {}, length, ~length).Build();
        EXPECT_EQ(EnumFailure(*buffer).code, 0xCEF20004u) << length;
        EXPECT_EQ(FaultOffset(*buffer, ChainFault::BeforeStart), 25u);
    }
    // Zero and sub-trailer lengths would make chunks overlap or loop.
    for (uint32_t length : {0u, 1u, 23u}) {
        auto buffer = ChainBuilder().Bytes(24).Raw(TypeA, {}, length, ~length).Build();
        EXPECT_EQ(EnumFailure(*buffer).code, 0xCEF20002u) << length;
    }
}

TEST(ChunkBuffer, ChunkReachingBelowAddressZero)
{
    // A buffer at the lowest mappable page: a length larger than its address
    // would wrap a pointer below zero.
    const uintptr_t low = 0x10000;
    void* page = mmap(reinterpret_cast<void*>(low), 4096, PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
    if (page == MAP_FAILED || page != reinterpret_cast<void*>(low)) {
        if (page != MAP_FAILED)
            munmap(page, 4096);
        GTEST_SKIP() << "no low page";
    }
    ChainBuilder chain;
    chain.Bytes(100).Raw(TypeA, {}, 0x20000, ~0x20000u);
    std::memcpy(page, chain.bytes.data(), chain.bytes.size());
    {
        auto buffer = CChunkBuffer::Create(CAttachMemBlock::Create(page, uint32_t(chain.bytes.size())), 0);
        EXPECT_EQ(EnumFailure(*buffer).code, 0xCEF20003u);
    }
    munmap(page, 4096);
}

TEST(ChunkBuffer, FindChunkWalksTheWholeChain)
{
    auto good = ChainBuilder().Chunk(TypeB, {1}).Chunk(TypeA, {2}).Chunk(TypeB, {3}).Build();
    auto found = good->FindChunk(TypeB);
    ASSERT_FALSE(found.IsNull());
    int size = 0;
    EXPECT_EQ(*static_cast<unsigned char*>(found.LockData(&size)), 3);
    found.UnlockData();
    EXPECT_TRUE(good->FindChunk(GUID_ImageChunk).IsNull());

    // The match is the last chunk, but the bytes in front are malformed.
    auto bad = ChainBuilder().Bytes(3).Chunk(TypeB, {3}).Build();
    EXPECT_THROW(bad->FindChunk(TypeB), CException);
}

TEST(ChunkPtr, EmptyPointerAndShortChunks)
{
    CChunkPtr<CChunk> empty;
    EXPECT_EQ(empty.Get(), nullptr);
    EXPECT_EQ(empty.GetLength(), 0u);
    for (int call = 0; call < 2; ++call) {
        try {
            if (call == 0)
                empty.LockData(nullptr);
            else
                empty.UnlockData();
            FAIL();
        } catch (const CException& e) {
            EXPECT_EQ(e.GetCode(), 0xCEF00004u);
            EXPECT_EQ(e.GetLine(), call == 0 ? 230 : 252);
            EXPECT_EQ(e.GetFile(), "TavChunkPtr.cpp");
        }
    }

    struct __attribute__((packed)) Header {
        uint32_t a;
        uint32_t b;
    };
    auto buffer = ChainBuilder().Chunk(TypeA, {1, 0, 0, 0, 2, 0, 0, 0}).Chunk(TypeB, {1, 2, 3}).Build();
    auto chunks = Enumerate(*buffer);
    CChunkPtr<Header> fits(chunks[1]);
    EXPECT_EQ(fits->a, 1u);
    EXPECT_EQ(fits->b, 2u);
    int size = -1;
    EXPECT_EQ(fits.LockData(&size), nullptr);
    EXPECT_EQ(size, 0);
    fits.UnlockData();

    // Three payload bytes cannot hold an 8-byte header: refused, not read
    // from the chunk in front.
    CChunkPtr<Header> tooShort(chunks[0]);
    try {
        (void)tooShort->a;
        FAIL();
    } catch (const CException& e) {
        EXPECT_EQ(e.GetCode(), 0xCEF20008u);
    }
    EXPECT_THROW(tooShort.LockData(&size), CException);
}

