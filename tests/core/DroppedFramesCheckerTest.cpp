#include "Core/CoreFactory.h"
#include "Core/DroppedFramesChecker.h"
#include "Core/ErrorChunk.h"
#include "Core/ModuleLinker.h"
#include "DataBuffer/Guid.h"
#include "DataBuffer/AllocMemBlock.h"
#include "DataBuffer/ChunkBuffer.h"
#include "DataBuffer/RtlHeapAllocator.h"

#include "support/TestModules.h"
#include "support/TestPackets.h"

#include <gtest/gtest.h>

#include <cstdarg>

using namespace Tav;
using namespace TavTest;

namespace {

// Keeps what the checker traces.
class TracingChecker : public CDroppedFramesChecker {
public:
    void Trace(const char* format, ...) override
    {
        va_list arguments;
        va_start(arguments, format);
        traces.push_back(FormatString(format, arguments));
        va_end(arguments);
    }
    std::vector<std::string> traces;
};

struct CheckerGraph {
    TestSource source;
    TracingChecker checker;
    CollectingSink next;
    CollectingSink errors;
    CModuleLinker linker;

    CheckerGraph()
    {
        source.Initialize("Source", nullptr);
        checker.Initialize("DroppedFramesChecker", nullptr);
        next.Initialize("Next", nullptr);
        errors.Initialize("Errors", nullptr);
        linker.Link(&source, 1, &checker, 1);
        linker.Link(&checker, 1, &next, 1);
        linker.Link(&checker, 0, &errors, 1);
        checker.Start();
    }
    ~CheckerGraph() { linker.UnlinkAll(); }

    // Sends one packet per counter; returns the texts traced meanwhile.
    std::vector<std::string> Feed(std::initializer_list<uint32_t> counters)
    {
        checker.traces.clear();
        for (uint32_t c : counters)
            source.Emit(MakeCounterPacket({c}));
        return checker.traces;
    }
};

const std::string dropped53 = "3 frames have been dropped! (Old counter: 5, current counter: 9\n";

} // namespace

TEST(DroppedFramesChecker, StepsOfOneEitherWayAndTheWrapAreQuiet)
{
    for (auto counters : {std::initializer_list<uint32_t>{5, 6, 7}, {5, 4}, {0xFFFFFFFFu, 0, 1}, {0, 0xFFFFFFFFu}}) {
        CheckerGraph g;
        EXPECT_TRUE(g.Feed(counters).empty()) << "from " << *counters.begin();
        EXPECT_EQ(g.checker.GetStatistics().droppedFrames, 0u);
        EXPECT_EQ(g.checker.GetStatistics().reversals, 0u);
        EXPECT_FALSE(g.checker.GetLastMessage());
    }
}

TEST(DroppedFramesChecker, AGapIsTracedCountedAndKeptAsAStringPacket)
{
    CheckerGraph g;
    EXPECT_EQ(g.Feed({5, 9}), (std::vector<std::string>{dropped53}));
    EXPECT_EQ(g.checker.GetStatistics().droppedFrames, 3u);
    EXPECT_EQ(TextOf(g.checker.GetLastMessage()), dropped53.substr(0, dropped53.size() - 1));
    EXPECT_EQ(g.next.Count(), 2u) << "every packet goes on";
    EXPECT_TRUE(g.Feed({10, 20}).size() == 1);
    EXPECT_EQ(g.checker.GetStatistics().droppedFrames, 12u);
    EXPECT_EQ(g.errors.Count(), 0u);
}

TEST(DroppedFramesChecker, ACounterThatDoesNotGrowIsAReversal)
{
    CheckerGraph g;
    EXPECT_EQ(g.Feed({5, 5}), (std::vector<std::string>{"Unexpected frame counter (5). The received frame counter "
                                                        "isn't greater than the previous one (5)!\n"}));
    EXPECT_EQ(g.Feed({2}).size(), 1u) << "5 -> 2";
    EXPECT_EQ(g.checker.GetStatistics().reversals, 2u);
    EXPECT_EQ(g.checker.GetStatistics().droppedFrames, 0u);
    EXPECT_TRUE(g.Feed({3, 4}).empty()) << "the last counter is the reference, even after a reversal";
}

TEST(DroppedFramesChecker, RestartTakesTheNextCounterAsTheReference)
{
    CheckerGraph g;
    g.Feed({5, 9});
    g.Feed({7});
    g.checker.Stop();
    g.checker.Start();
    EXPECT_TRUE(g.Feed({100, 101}).empty());
    EXPECT_EQ(g.checker.GetStatistics().droppedFrames, 0u) << "statistics start again";
    EXPECT_EQ(g.checker.GetStatistics().reversals, 0u);
    g.checker.Stop();
    EXPECT_EQ(g.Feed({103}).size(), 1u) << "stop alone changes nothing";
}

TEST(DroppedFramesChecker, CountersInOnePacketAreCheckedInEnumerationOrder)
{
    CheckerGraph g;
    // Each counter has a buffer of its own; buffers go in the order added.
    g.source.Emit(MakeCounterPacket({5, 9, 10}));
    EXPECT_EQ(g.checker.traces, (std::vector<std::string>{dropped53}));

    // Without a counter a packet goes on and changes nothing.
    g.checker.traces.clear();
    g.source.Emit(MakeImagePacket(1));
    g.source.Emit(MakeCounterPacket({11}));
    EXPECT_TRUE(g.checker.traces.empty());
    EXPECT_EQ(g.next.Count(), 3u);
    EXPECT_EQ(g.next.Deliveries()[1].packet->GetSequenceNumber(), 1);
}

TEST(DroppedFramesChecker, AMalformedCounterIsReportedAfterThePacketWentOn)
{
    CheckerGraph g;
    // A frame-counter chunk that is only a trailer: too short for its value.
    CSmartPointer<IMemBlock> block = CAllocMemBlock::Create(CChunk::Size, GetDefaultAllocator());
    CChunk::At(block->Lock())->Set(GUID_FrameCounterChunk, CChunk::Size);
    block->Unlock();
    CSmartPointer<IPacket> packet = MakeCounterPacket({});
    packet->AddChunkBuffer(CChunkBuffer::Create(block, 0).Get());

    EXPECT_NO_THROW(g.source.Emit(packet));
    EXPECT_EQ(g.next.Count(), 1u);
    ASSERT_EQ(g.errors.Count(), 1u);
    CChunkPtr<CChunk> error;
    g.errors.Deliveries()[0].packet->FindChunk(error, GUID_ErrorChunk);
    EXPECT_EQ(ReadErrorChunk(error).code, 0xCEF20008u);
}

TEST(DroppedFramesChecker, OnlyPortOneIsAcceptedAndASendFailureEndsTheCheck)
{
    CheckerGraph g;
    try {
        g.checker.Push(2, MakeCounterPacket({1}));
        FAIL() << "port 2 accepted";
    } catch (const CException& e) {
        EXPECT_EQ(e.GetCode(), 0xCEF10103u);
    }
    g.next.onData = [](int, const CSmartPointer<IPacket>&) { throw CCommonException(0xCEF00004, 3, "Next.cpp"); };
    EXPECT_ANY_THROW(g.source.Emit(MakeCounterPacket({1})));
    EXPECT_ANY_THROW(g.source.Emit(MakeCounterPacket({50})));
    g.next.onData = nullptr;
    EXPECT_TRUE(g.Feed({7, 8}).empty()) << "packets that failed to go on were not looked at";

    CCoreFactory factory;
    IComponent* created = factory.CreateObject("DroppedFramesChecker");
    EXPECT_NE(dynamic_cast<CDroppedFramesChecker*>(created), nullptr);
    delete created;
}
