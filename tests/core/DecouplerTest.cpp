#include "Core/Decoupler.h"
#include "Core/ErrorChunk.h"
#include "Core/ModuleLinker.h"
#include "DataBuffer/AllocMemBlock.h"
#include "DataBuffer/ChunkBuffer.h"
#include "DataBuffer/Guid.h"
#include "DataBuffer/Packet.h"
#include "DataBuffer/RtlHeapAllocator.h"
#include "Platform/Event.h"

#include "support/TestModules.h"
#include "support/TestPackets.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <stdexcept>
#include <thread>

using namespace Tav;
using namespace TavTest;

namespace {

constexpr int waitLimitMs = 10000;

// Sequence numbers of what a sink received, with a wait for a count.
class Arrivals {
public:
    void Add(int64_t value)
    {
        std::lock_guard<std::mutex> guard(mutex);
        values.push_back(value);
        changed.notify_all();
    }
    // The values once at least `count` have arrived (or at the time limit).
    std::vector<int64_t> WaitFor(size_t count)
    {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait_for(lock, std::chrono::milliseconds(waitLimitMs), [&] { return values.size() >= count; });
        return values;
    }
    // The values once `value` is the last one (or at the time limit).
    std::vector<int64_t> WaitForLast(int64_t value)
    {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait_for(lock, std::chrono::milliseconds(waitLimitMs),
                         [&] { return !values.empty() && values.back() == value; });
        return values;
    }
    std::vector<int64_t> Now()
    {
        std::lock_guard<std::mutex> guard(mutex);
        return values;
    }

private:
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<int64_t> values;
};

bool Wait(Platform::Event& event)
{
    return Platform::WaitForSingleObject(event, waitLimitMs) == Platform::WaitObject0;
}

// Producer -> decoupler -> consumer, with the decoupler's error port wired
// to a collector. The consumer can be held inside its first delivery.
struct DecouplerGraph {
    TestSource source;
    CDecoupler decoupler;
    CollectingSink consumer;
    CollectingSink errors;
    CModuleLinker linker;
    Arrivals delivered;
    Arrivals errorCodes;
    Platform::Event entered{true, false};
    Platform::Event release{true, true};
    std::function<void(int64_t)> consumerAction;

    DecouplerGraph()
    {
        source.Initialize("Source", nullptr);
        decoupler.Initialize("Decoupler", nullptr);
        consumer.Initialize("Consumer", nullptr);
        errors.Initialize("Errors", nullptr);
        consumer.keepPackets = false;
        consumer.onData = [this](int, const CSmartPointer<IPacket>& p) {
            entered.Set();
            Wait(release);
            int64_t sequence = p->GetSequenceNumber();
            if (consumerAction)
                consumerAction(sequence);
            delivered.Add(sequence);
        };
        errors.onData = [this](int, const CSmartPointer<IPacket>& p) {
            CChunkPtr<CChunk> chunk;
            p->FindChunk(chunk, GUID_ErrorChunk);
            CErrorChunkContent content = ReadErrorChunk(chunk);
            std::lock_guard<std::mutex> guard(errorMutex);
            errorContents.push_back(content);
            errorCodes.Add(content.code);
        };
        linker.Link(&source, 1, &decoupler, 1);
        linker.Link(&decoupler, 1, &consumer, 1);
        linker.Link(&decoupler, 0, &errors, 1);
        decoupler.Start();
    }
    ~DecouplerGraph()
    {
        release.Set();
        linker.UnlinkAll();
        decoupler.Deinitialize();
    }

    // Sends `first` and returns once the consumer is held inside it.
    void HoldConsumerIn(const CSmartPointer<IPacket>& first)
    {
        release.Reset();
        entered.Reset();
        source.Emit(first);
        ASSERT_TRUE(Wait(entered));
    }

    std::vector<CErrorChunkContent> Errors()
    {
        std::lock_guard<std::mutex> guard(errorMutex);
        return errorContents;
    }

    std::mutex errorMutex;
    std::vector<CErrorChunkContent> errorContents;
};

CSmartPointer<IPacket> MalformedPacket()
{
    CSmartPointer<IMemBlock> block = CAllocMemBlock::Create(40, GetDefaultAllocator());
    std::memset(block->Lock(), 0xA5, 40);
    block->Unlock();
    CSmartPointer<IPacket> packet = CPacket::Create();
    packet->AddChunkBuffer(CChunkBuffer::Create(block, 0).Get());
    return packet;
}

} // namespace

TEST(Decoupler, OnlyTheNewestOfImagesOfferedWhileTheConsumerIsBusyFollows)
{
    DecouplerGraph g;
    g.HoldConsumerIn(MakeImagePacket(1));
    g.source.Emit(MakeImagePacket(2));
    g.source.Emit(MakeImagePacket(3));
    g.source.Emit(MakeImagePacket(4));
    EXPECT_EQ(g.decoupler.GetQueueLength(), 1u);
    g.release.Set();
    EXPECT_EQ(g.delivered.WaitFor(2), (std::vector<int64_t>{1, 4}));
    EXPECT_EQ(g.decoupler.GetQueueLength(), 0u);
    EXPECT_EQ(g.delivered.Now().size(), 2u);
}

TEST(Decoupler, PacketsWithNeitherImageNorMarkerAreIgnored)
{
    DecouplerGraph g;
    EXPECT_FALSE(g.decoupler.Enqueue(MakeTextPacket("hello")));
    EXPECT_FALSE(g.decoupler.Enqueue(MakeCounterPacket({7})));
    EXPECT_TRUE(g.decoupler.Enqueue(MakeImagePacket(5)));
    EXPECT_EQ(g.delivered.WaitFor(1), (std::vector<int64_t>{5}));
}

TEST(Decoupler, MarkersAreKeptInOrderAndAThirdOneFlushesTheQueue)
{
    DecouplerGraph g;
    g.HoldConsumerIn(MakeImagePacket(1));
    g.source.Emit(MakeMarkerPacket(10, 0));
    g.source.Emit(MakeImagePacket(11));
    g.source.Emit(MakeImagePacket(12)); // replaces 11, not the marker
    g.source.Emit(MakeMarkerPacket(13, 1));
    EXPECT_EQ(g.decoupler.GetQueueLength(), 3u);
    g.source.Emit(MakeImagePacket(14));
    g.source.Emit(MakeMarkerPacket(15, 0)); // two markers queued: flush
    EXPECT_EQ(g.decoupler.GetQueueLength(), 1u);
    g.release.Set();
    EXPECT_EQ(g.delivered.WaitFor(2), (std::vector<int64_t>{1, 15}));

    // The count went back to one with the flush and to zero with the send:
    // two markers fit again.
    g.HoldConsumerIn(MakeImagePacket(20));
    g.source.Emit(MakeMarkerPacket(21));
    g.source.Emit(MakeMarkerPacket(22));
    EXPECT_EQ(g.decoupler.GetQueueLength(), 2u);
    g.release.Set();
    EXPECT_EQ(g.delivered.WaitFor(5), (std::vector<int64_t>{1, 15, 20, 21, 22}));
}

TEST(Decoupler, AnImageNeverReplacesAQueuedMarkerThatCarriesAnImage)
{
    DecouplerGraph g;
    g.HoldConsumerIn(MakeImagePacket(1));
    g.source.Emit(MakeMarkedImagePacket(2));
    g.source.Emit(MakeImagePacket(3));
    g.source.Emit(MakeMarkerPacket(4));
    g.source.Emit(MakeMarkerPacket(5)); // flushes: markers 2 and 4 were counted
    g.release.Set();
    EXPECT_EQ(g.delivered.WaitFor(2), (std::vector<int64_t>{1, 5}));
}

TEST(Decoupler, PacketsOfferedWhileStoppedAreDropped)
{
    DecouplerGraph g;
    g.decoupler.Stop();
    EXPECT_FALSE(g.decoupler.Enqueue(MakeImagePacket(1)));
    g.source.Emit(MakeImagePacket(2));
    g.source.Emit(MakeMarkerPacket(3));
    EXPECT_EQ(g.decoupler.GetQueueLength(), 0u);
    g.decoupler.Start();
    g.source.Emit(MakeImagePacket(4));
    EXPECT_EQ(g.delivered.WaitFor(1), (std::vector<int64_t>{4}));
}

TEST(Decoupler, StopDropsTheImageWaitingAtTheFront)
{
    DecouplerGraph g;
    g.HoldConsumerIn(MakeImagePacket(1));
    g.source.Emit(MakeImagePacket(2));
    g.decoupler.Stop();
    EXPECT_EQ(g.decoupler.GetQueueLength(), 0u);
    g.release.Set();
    g.decoupler.Start();
    g.source.Emit(MakeImagePacket(3));
    EXPECT_EQ(g.delivered.WaitFor(2), (std::vector<int64_t>{1, 3}));
}

TEST(Decoupler, ConsumerErrorsGoToTheErrorPortAndSendingGoesOn)
{
    DecouplerGraph g;
    g.consumerAction = [](int64_t sequence) {
        if (sequence == 1)
            throw CCommonException(0xCEF00004, 12, "Consumer.cpp");
        if (sequence == 2)
            throw std::runtime_error("not a framework error");
    };
    // 2 is queued behind 1 when 1 fails; it must go out without another
    // packet arriving.
    g.HoldConsumerIn(MakeImagePacket(1));
    g.source.Emit(MakeImagePacket(2));
    g.release.Set();
    EXPECT_EQ(g.errorCodes.WaitFor(2), (std::vector<int64_t>{0xCEF00004, 0xCEF00000}));
    g.source.Emit(MakeImagePacket(3));
    EXPECT_EQ(g.delivered.WaitFor(1), (std::vector<int64_t>{3}));

    std::vector<CErrorChunkContent> errors = g.Errors();
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0].file, "Consumer.cpp");
    EXPECT_EQ(errors[0].line, 12u);
    EXPECT_EQ(errors[1].file, "Decoupler.cpp");
    EXPECT_EQ(errors[1].line, 203u);
}

TEST(Decoupler, AMalformedPacketIsReportedAndNeverReachesTheProducer)
{
    DecouplerGraph g;
    EXPECT_NO_THROW(g.source.Emit(MalformedPacket()));
    std::vector<int64_t> codes = g.errorCodes.WaitFor(1);
    ASSERT_EQ(codes.size(), 1u);
    EXPECT_EQ(codes[0] & 0xFFFF0000, 0xCEF20000) << std::hex << codes[0];
    EXPECT_EQ(g.decoupler.GetQueueLength(), 0u);
    g.source.Emit(MakeImagePacket(1));
    EXPECT_EQ(g.delivered.WaitFor(1), (std::vector<int64_t>{1}));
}

TEST(Decoupler, RejectsOtherInputPortsAndUnknownSignals)
{
    DecouplerGraph g;
    try {
        g.decoupler.Push(2, MakeImagePacket(1));
        FAIL() << "port 2 accepted";
    } catch (const CException& e) {
        EXPECT_EQ(e.GetCode(), 0xCEF10103u);
    }
    try {
        g.decoupler.OnSignal(5);
        FAIL() << "key 5 accepted";
    } catch (const CException& e) {
        EXPECT_EQ(e.GetCode(), 0xCEF00000u);
        EXPECT_EQ(e.GetLine(), 96);
        EXPECT_EQ(e.GetFile(), "Decoupler.cpp");
    }
}

TEST(Decoupler, DeinitialiseEndsTheThreadAndReleasesQueuedPackets)
{
    CSmartPointer<CountingAllocator> memory = CountingAllocator::Create();
    DecouplerGraph g;
    g.HoldConsumerIn(MakeImagePacket(1, 4, 2, memory.Get()));
    g.source.Emit(MakeMarkerPacket(2));
    g.source.Emit(MakeImagePacket(3, 4, 2, memory.Get()));
    EXPECT_EQ(memory->Live(), 2);
    g.release.Set();
    g.decoupler.Deinitialize();
    EXPECT_FALSE(g.decoupler.IsInitialized());
    EXPECT_EQ(g.decoupler.GetQueueLength(), 0u);
    EXPECT_EQ(memory->Live(), 0) << "nothing is held once the thread has ended";
    EXPECT_FALSE(g.decoupler.Enqueue(MakeImagePacket(6)));
}

// The producer never waits for the consumer and at most one unsent image
// exists at any time, however slow the consumer.
TEST(Decoupler, AProducerOfTenThousandImagesNeverWaitsForASlowConsumer)
{
    constexpr int total = 10000;
    CSmartPointer<CountingAllocator> memory = CountingAllocator::Create();
    DecouplerGraph g;
    g.consumerAction = [](int64_t) { std::this_thread::sleep_for(std::chrono::microseconds(50)); };
    size_t longestQueue = 0;
    auto produce = [&](int from, int to) {
        for (int i = from; i <= to; ++i) {
            g.source.Emit(MakeImagePacket(i, 16, 16, memory.Get()));
            longestQueue = std::max(longestQueue, g.decoupler.GetQueueLength());
        }
    };

    // The consumer is held for the whole first half: the producer finishing
    // it shows that it never waits for the consumer.
    g.HoldConsumerIn(MakeImagePacket(0, 16, 16, memory.Get()));
    std::thread first(produce, 1, total / 2);
    first.join();
    EXPECT_EQ(g.decoupler.GetQueueLength(), 1u);
    EXPECT_EQ(memory->Live(), 2) << "the image being sent and the newest one";
    g.release.Set();
    EXPECT_EQ(g.delivered.WaitFor(2), (std::vector<int64_t>{0, total / 2}));

    std::thread second(produce, total / 2 + 1, total);
    second.join();
    EXPECT_LE(longestQueue, 1u);
    std::vector<int64_t> seen = g.delivered.WaitForLast(total);
    ASSERT_EQ(seen.back(), total) << "the last image did not arrive";
    for (size_t i = 1; i < seen.size(); ++i)
        ASSERT_LT(seen[i - 1], seen[i]);
    EXPECT_LE(memory->Peak(), 3) << "one being sent, one queued, one being built";
}
