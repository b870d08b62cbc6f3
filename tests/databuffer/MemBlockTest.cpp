#include "Common/Exception.h"
#include "DataBuffer/AllocMemBlock.h"
#include "DataBuffer/AttachMemBlock.h"
#include "DataBuffer/RefCounted.h"
#include "DataBuffer/RtlHeapAllocator.h"
#include "DataBuffer/SafeNew.h"
#include "DataBuffer/SmartPointer.h"
#include "Platform/Event.h"
#include "Platform/Waitable.h"

#include <gtest/gtest.h>

#include <atomic>
#include <new>
#include <thread>
#include <vector>

using namespace Tav;

namespace {

// Counts its destructions so tests can see when the last Release deleted it.
class Tracked : public IRefCounted {
public:
    explicit Tracked(std::atomic<int>* deletions) : deletions(deletions) {}
    virtual ~Tracked() { ++*deletions; }

private:
    std::atomic<int>* deletions;
};
using TrackedObject = CRefCounted<Tracked>;

// An allocator that records its calls and can be told to fail.
class RecordingAllocator : public IMemAllocator {
public:
    void* Alloc(uint32_t size) override
    {
        if (fail)
            throw CCommonException(0xCEF0000A, 1, "RecordingAllocator.cpp");
        ++allocations;
        return ::operator new(size ? size : 1);
    }
    void Free(void* memory) override
    {
        ++frees;
        ::operator delete(memory);
    }

    bool fail = false;
    int allocations = 0;
    int frees = 0;
};

} // namespace

TEST(RefCounted, LastReleaseDeletesAndReturnsZero)
{
    std::atomic<int> deletions{0};
    auto* object = SafeNew<TrackedObject>(&deletions);
    EXPECT_EQ(object->GetRefCount(), 0);
    EXPECT_EQ(object->AddRef(), 1);
    EXPECT_EQ(object->AddRef(), 2);
    EXPECT_EQ(object->Release(), 1);
    EXPECT_EQ(deletions, 0);
    EXPECT_EQ(object->Release(), 0);
    EXPECT_EQ(deletions, 1);
}

TEST(SmartPointer, CopiesAssignsAndReleasesReferences)
{
    std::atomic<int> deletions{0};
    auto* first = SafeNew<TrackedObject>(&deletions);
    auto* second = SafeNew<TrackedObject>(&deletions);
    {
        CSmartPointer<TrackedObject> a(first);
        EXPECT_EQ(first->GetRefCount(), 1);
        CSmartPointer<TrackedObject> b = a;
        EXPECT_EQ(first->GetRefCount(), 2);
        a = a; // self-assignment keeps the object
        EXPECT_EQ(first->GetRefCount(), 2);
        b = second;
        EXPECT_EQ(first->GetRefCount(), 1);
        EXPECT_EQ(second->GetRefCount(), 1);
        CSmartPointer<TrackedObject> c(std::move(b));
        EXPECT_TRUE(b.IsNull());
        EXPECT_EQ(second->GetRefCount(), 1);
        c = nullptr;
        EXPECT_EQ(deletions, 1);
        CSmartPointer<IRefCounted> base = a; // converting copy
        EXPECT_EQ(first->GetRefCount(), 2);
    }
    EXPECT_EQ(deletions, 2);

    CSmartPointer<TrackedObject> none;
    EXPECT_TRUE(none.IsNull());
    EXPECT_EQ(none.Get(), nullptr);
    none = nullptr;
}

TEST(RefCounted, CountsStayExactAcrossThreads)
{
    std::atomic<int> deletions{0};
    CSmartPointer<TrackedObject> shared(SafeNew<TrackedObject>(&deletions));
    Platform::Event go(true, false);
    constexpr int threadCount = 4;
    constexpr int rounds = 20000;
    std::vector<std::thread> threads;
    for (int i = 0; i < threadCount; ++i) {
        threads.emplace_back([&] {
            Platform::WaitForSingleObject(go, Platform::Infinite);
            for (int r = 0; r < rounds; ++r) {
                CSmartPointer<TrackedObject> copy = shared;
                CSmartPointer<TrackedObject> another(copy);
                another.Reset();
            }
        });
    }
    go.Set();
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(shared->GetRefCount(), 1);
    EXPECT_EQ(deletions, 0);
    shared.Reset();
    EXPECT_EQ(deletions, 1);
}

TEST(SafeNew, AllocationFailuresBecomeTheCommonOutOfMemoryError)
{
    struct NoMemory {
        static void* operator new(size_t, const std::nothrow_t&) noexcept { return nullptr; }
        static void operator delete(void*) noexcept {}
    };
    try {
        SafeNew<NoMemory>();
        FAIL() << "no exception";
    } catch (const CException& e) {
        EXPECT_EQ(e.GetCode(), 0xCEF0000Au);
        EXPECT_EQ(e.GetLine(), 55);
        EXPECT_EQ(e.GetFile(), "SafeNew.cpp");
    }

    struct ConstructorRunsOut {
        ConstructorRunsOut() { throw std::bad_alloc(); }
    };
    try {
        SafeNew<ConstructorRunsOut>();
        FAIL() << "no exception";
    } catch (const CException& e) {
        EXPECT_EQ(e.GetCode(), 0xCEF0000Au);
        EXPECT_EQ(e.GetLine(), 62);
    }

    struct OtherFailure {
        OtherFailure() { throw CCommonException(0xCEF00002, 7, "Other.cpp"); }
    };
    try {
        SafeNew<OtherFailure>();
        FAIL() << "no exception";
    } catch (const CException& e) {
        EXPECT_EQ(e.GetCode(), 0xCEF00002u);
    }
}

TEST(MemBlock, AllocatedBlockReturnsItsMemoryAndReleasesItsAllocator)
{
    CSmartPointer<IMemAllocator> allocator(SafeNew<CRefCounted<RecordingAllocator>>());
    auto& recorder = static_cast<CRefCounted<RecordingAllocator>&>(*allocator);
    {
        CSmartPointer<IMemBlock> block = CAllocMemBlock::Create(100, allocator);
        EXPECT_EQ(block->GetSize(), 100u);
        EXPECT_EQ(recorder.GetRefCount(), 2);
        auto* memory = static_cast<unsigned char*>(block->Lock());
        ASSERT_NE(memory, nullptr);
        memory[99] = 1;
        EXPECT_EQ(static_cast<CAllocMemBlock&>(*block).GetLockCount(), 1);
        block->Unlock();
        EXPECT_EQ(static_cast<CAllocMemBlock&>(*block).GetLockCount(), 0);
    }
    EXPECT_EQ(recorder.allocations, 1);
    EXPECT_EQ(recorder.frees, 1);
    EXPECT_EQ(recorder.GetRefCount(), 1);
}

TEST(MemBlock, FailedAllocationSurfacesAsAnErrorNotANullBlock)
{
    CSmartPointer<IMemAllocator> allocator(SafeNew<CRefCounted<RecordingAllocator>>());
    auto& recorder = static_cast<CRefCounted<RecordingAllocator>&>(*allocator);
    recorder.fail = true;
    try {
        CAllocMemBlock::Create(16, allocator);
        FAIL() << "no exception";
    } catch (const CException& e) {
        EXPECT_EQ(e.GetCode(), 0xCEF0000Au);
    }
    EXPECT_EQ(recorder.frees, 0);
    EXPECT_EQ(recorder.GetRefCount(), 1);
}

TEST(MemBlock, AllocateTwiceOrWithoutAllocatorIsRefused)
{
    CSmartPointer<CRefCounted<CAllocMemBlock>> block(SafeNew<CRefCounted<CAllocMemBlock>>());
    EXPECT_THROW(block->Allocate(8, nullptr), CException);
    block->Allocate(8, GetDefaultAllocator());
    try {
        block->Allocate(8, GetDefaultAllocator());
        FAIL() << "no exception";
    } catch (const CException& e) {
        EXPECT_EQ(e.GetCode(), 0xCEF00005u);
    }
    EXPECT_EQ(block->GetSize(), 8u);
}

TEST(MemBlock, ZeroSizeBlockAndAttachedBlock)
{
    CSmartPointer<IMemBlock> empty = CAllocMemBlock::Create(0, GetDefaultAllocator());
    EXPECT_EQ(empty->GetSize(), 0u);

    unsigned char storage[10] = {};
    CSmartPointer<IMemBlock> attached = CAttachMemBlock::Create(storage, sizeof storage);
    EXPECT_EQ(attached->Lock(), storage);
    attached->Unlock();
    EXPECT_EQ(attached->GetSize(), 10u);
}

TEST(DefaultAllocator, ConcurrentFirstUseYieldsOneObject)
{
    Platform::Event go(true, false);
    constexpr int threadCount = 8;
    std::vector<IMemAllocator*> seen(threadCount);
    std::vector<std::thread> threads;
    for (int i = 0; i < threadCount; ++i) {
        threads.emplace_back([&, i] {
            Platform::WaitForSingleObject(go, Platform::Infinite);
            seen[i] = GetDefaultAllocator().Get();
        });
    }
    go.Set();
    for (auto& t : threads)
        t.join();
    for (IMemAllocator* a : seen)
        EXPECT_EQ(a, seen[0]);
    EXPECT_EQ(GetDefaultAllocator().Get(), seen[0]);
    ASSERT_NE(seen[0], nullptr);

    void* memory = seen[0]->Alloc(32);
    EXPECT_NE(memory, nullptr);
    seen[0]->Free(memory);
    seen[0]->Free(nullptr);
}
