#include "Core/CoreFactory.h"
#include "Core/Decoupler.h"
#include "Core/ErrorChunk.h"
#include "Core/ModuleLinker.h"
#include "DataBuffer/AllocMemBlock.h"
#include "DataBuffer/ChunkBuffer.h"
#include "DataBuffer/Packet.h"
#include "DataBuffer/RtlHeapAllocator.h"
#include "Platform/Event.h"

#include "support/TestModules.h"
#include "support/TestPackets.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <thread>

using namespace Tav;
using namespace TavTest;

namespace {

using Values = std::vector<int64_t>;

// Values recorded on another thread, with a wait for a condition on them.
class Arrivals {
public:
    void Add(int64_t value)
    {
        std::lock_guard<std::mutex> guard(mutex);
        values.push_back(value);
        changed.notify_all();
    }
    template <class Predicate>
    Values WaitUntil(Predicate done)
    {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait_for(lock, std::chrono::seconds(10), [&] { return done(values); });
        return values;
    }
    Values WaitFor(size_t count)
    {
        return WaitUntil([count](const Values& v) { return v.size() >= count; });
    }

private:
    std::mutex mutex;
    std::condition_variable changed;
    Values values;
};

// Producer -> decoupler -> consumer, the error port wired to a collector.
// The consumer can be held inside a delivery.
struct DecouplerGraph {
    TestSource source;
    CDecoupler decoupler;
    CollectingSink consumer, errors;
    CModuleLinker linker;
    Arrivals delivered, errorCodes;
    // Written before the code goes to errorCodes; read after waiting for it.
    std::vector<CErrorChunkContent> errorContents;
    Platform::Event entered{true, false}, release{true, true};
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
            Platform::WaitForSingleObject(release, 10000);
            if (consumerAction)
                consumerAction(p->GetSequenceNumber());
            delivered.Add(p->GetSequenceNumber());
        };
        errors.onData = [this](int, const CSmartPointer<IPacket>& p) {
            CChunkPtr<CChunk> chunk;
            p->FindChunk(chunk, GUID_ErrorChunk);
            errorContents.push_back(ReadErrorChunk(chunk));
            errorCodes.Add(errorContents.back().code);
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
        ASSERT_EQ(Platform::WaitForSingleObject(entered, 10000), Platform::WaitObject0);
    }
};

} // namespace

TEST(Decoupler, OnlyTheNewestOfImagesOfferedWhileTheConsumerIsBusyFollows)
{
    DecouplerGraph g;
    g.HoldConsumerIn(MakeImagePacket(1));
    for (int i = 2; i <= 4; ++i)
        g.source.Emit(MakeImagePacket(i));
    EXPECT_FALSE(g.decoupler.Enqueue(MakeTextPacket("neither image nor marker")));
    EXPECT_EQ(g.decoupler.GetQueueLength(), 1u);
    g.release.Set();
    EXPECT_EQ(g.delivered.WaitFor(2), (Values{1, 4}));
    EXPECT_EQ(g.decoupler.GetQueueLength(), 0u);
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
    g.source.Emit(MakeMarkerPacket(14, 0)); // two markers queued: flush
    EXPECT_EQ(g.decoupler.GetQueueLength(), 1u);
    g.release.Set();
    EXPECT_EQ(g.delivered.WaitFor(2), (Values{1, 14}));

    // A marker that carries an image is not replaced by the next image, and
    // it counts: with 20 and 22 queued, 23 flushes.
    g.HoldConsumerIn(MakeImagePacket(19));
    g.source.Emit(MakeMarkedImagePacket(20));
    g.source.Emit(MakeImagePacket(21));
    g.source.Emit(MakeMarkerPacket(22));
    EXPECT_EQ(g.decoupler.GetQueueLength(), 3u);
    g.source.Emit(MakeMarkerPacket(23));
    g.release.Set();
    EXPECT_EQ(g.delivered.WaitFor(4), (Values{1, 14, 19, 23}));
}

TEST(Decoupler, PacketsOfferedWhileStoppedAreDroppedAndStopDropsTheFrontImage)
{
    DecouplerGraph g;
    g.HoldConsumerIn(MakeImagePacket(1));
    g.source.Emit(MakeImagePacket(2));
    g.decoupler.Stop();
    EXPECT_EQ(g.decoupler.GetQueueLength(), 0u);
    EXPECT_FALSE(g.decoupler.Enqueue(MakeImagePacket(3)));
    g.source.Emit(MakeMarkerPacket(4));
    EXPECT_EQ(g.decoupler.GetQueueLength(), 0u);
    g.release.Set();
    g.decoupler.Start();
    g.source.Emit(MakeImagePacket(5));
    EXPECT_EQ(g.delivered.WaitFor(2), (Values{1, 5}));
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
    // packet arriving to wake the thread.
    g.HoldConsumerIn(MakeImagePacket(1));
    g.source.Emit(MakeImagePacket(2));
    g.release.Set();
    EXPECT_EQ(g.errorCodes.WaitFor(2), (Values{0xCEF00004, 0xCEF00000}));
    EXPECT_EQ(g.errorContents[0].line, 12u);
    EXPECT_EQ(g.errorContents[1].file, "Decoupler.cpp");
    EXPECT_EQ(g.errorContents[1].line, 203u);
    g.source.Emit(MakeImagePacket(3));
    EXPECT_EQ(g.delivered.WaitFor(1), (Values{3}));
}

TEST(Decoupler, BadInputIsReportedAndNeverThrownAtTheProducer)
{
    DecouplerGraph g;
    CSmartPointer<IMemBlock> block = CAllocMemBlock::Create(40, GetDefaultAllocator());
    std::memset(block->Lock(), 0xA5, 40);
    block->Unlock();
    CSmartPointer<IPacket> malformed = CPacket::Create();
    malformed->AddChunkBuffer(CChunkBuffer::Create(block, 0).Get());
    EXPECT_NO_THROW(g.source.Emit(malformed));
    Values codes = g.errorCodes.WaitFor(1);
    ASSERT_EQ(codes.size(), 1u);
    EXPECT_EQ(codes[0] & 0xFFFF0000, 0xCEF20000) << "a data-buffer error";
    EXPECT_EQ(g.decoupler.GetQueueLength(), 0u);

    EXPECT_THROW(g.decoupler.Push(2, MakeImagePacket(1)), CException) << "only port 1 takes input";
}

TEST(Decoupler, DeinitialiseOrDeleteEndsTheThreadAndReleasesQueuedPackets)
{
    CSmartPointer<CountingAllocator> memory = CountingAllocator::Create();
    {
        DecouplerGraph g;
        g.HoldConsumerIn(MakeImagePacket(1, 4, 2, memory.Get()));
        g.source.Emit(MakeMarkerPacket(2));
        g.source.Emit(MakeImagePacket(3, 4, 2, memory.Get()));
        EXPECT_EQ(memory->Live(), 2);
        g.release.Set();
        g.decoupler.Deinitialize();
        EXPECT_EQ(memory->Live(), 0) << "nothing is held once the thread has ended";
        EXPECT_FALSE(g.decoupler.Enqueue(MakeImagePacket(4)));
    }
    // Deleted without Deinitialize, with a packet queued.
    CCoreFactory factory;
    std::unique_ptr<IComponent> running(factory.CreateObject("Decoupler"));
    auto* decoupler = dynamic_cast<CDecoupler*>(running.get());
    ASSERT_NE(decoupler, nullptr);
    decoupler->Initialize("Decoupler", nullptr);
    decoupler->Start();
    EXPECT_TRUE(decoupler->Enqueue(MakeImagePacket(1, 4, 2, memory.Get())));
    running.reset();
    EXPECT_EQ(memory->Live(), 0);
}

// The producer never waits for the consumer, and at most one unsent image
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
    // The consumer is held during the whole first half: the producer
    // finishing it shows that it never waits for the consumer.
    g.HoldConsumerIn(MakeImagePacket(0, 16, 16, memory.Get()));
    std::thread(produce, 1, total / 2).join();
    EXPECT_EQ(memory->Live(), 2) << "the image being sent and the newest one";
    g.release.Set();
    EXPECT_EQ(g.delivered.WaitFor(2), (Values{0, total / 2}));

    std::thread(produce, total / 2 + 1, total).join();
    Values seen = g.delivered.WaitUntil([](const Values& v) { return v.back() == total; });
    ASSERT_EQ(seen.back(), total) << "the last image did not arrive";
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_LE(longestQueue, 1u);
    EXPECT_LE(memory->Peak(), 3) << "one being sent, one queued, one being built";
}
