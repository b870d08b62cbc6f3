#include "Core/CoreFactory.h"
#include "Core/DroppedFramesChecker.h"
#include "Core/ErrorChunk.h"
#include "Core/ModuleLinker.h"
#include "DataBuffer/AllocMemBlock.h"
#include "DataBuffer/ChunkBuffer.h"
#include "DataBuffer/RtlHeapAllocator.h"

#include "support/TestModules.h"
#include "support/TestPackets.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <memory>

using namespace Tav;
using namespace TavTest;

namespace {

using Texts = std::vector<std::string>;

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
    Texts traces;
};

struct CheckerGraph {
    TestSource source;
    TracingChecker checker;
    CollectingSink next, errors;
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
    Texts Feed(std::initializer_list<uint32_t> counters)
    {
        checker.traces.clear();
        for (uint32_t c : counters)
            source.Emit(MakeCounterPacket({c}));
        return checker.traces;
    }
    uint64_t Dropped() const { return checker.GetStatistics().droppedFrames; }
    uint64_t Reversals() const { return checker.GetStatistics().reversals; }
};

const std::string dropped3 = "3 frames have been dropped! (Old counter: 5, current counter: 9";
const std::string reversal5 =
    "Unexpected frame counter (5). The received frame counter isn't greater than the previous one (5)!";

} // namespace

TEST(DroppedFramesChecker, StepsOfOneEitherWayAndTheWrapAreQuiet)
{
    for (auto counters : {std::initializer_list<uint32_t>{5, 6, 7}, {5, 4}, {0xFFFFFFFFu, 0, 1}, {0, 0xFFFFFFFFu}}) {
        CheckerGraph g;
        EXPECT_TRUE(g.Feed(counters).empty()) << "from " << *counters.begin();
        EXPECT_EQ(g.Dropped() + g.Reversals(), 0u);
        EXPECT_FALSE(g.checker.GetLastMessage());
    }
}

TEST(DroppedFramesChecker, GapsAndReversalsAreTracedCountedAndKeptAsAStringPacket)
{
    CheckerGraph g;
    EXPECT_EQ(g.Feed({5, 9}), (Texts{dropped3 + "\n"}));
    EXPECT_EQ(TextOf(g.checker.GetLastMessage()), dropped3);
    EXPECT_EQ(g.Feed({20}).size(), 1u);
    EXPECT_EQ(g.Dropped(), 13u);
    EXPECT_EQ(g.next.Count(), 3u) << "every packet goes on";

    CheckerGraph h;
    EXPECT_EQ(h.Feed({5, 5}), (Texts{reversal5 + "\n"}));
    EXPECT_EQ(h.Feed({2}).size(), 1u);
    EXPECT_TRUE(h.Feed({3, 4}).empty()) << "the last counter is the reference, even after a reversal";
    EXPECT_EQ(h.Reversals(), 2u);
    EXPECT_EQ(h.Dropped(), 0u);
    EXPECT_EQ(TextOf(h.checker.GetLastMessage()).rfind("Unexpected frame counter (2).", 0), 0u);
}

TEST(DroppedFramesChecker, StartTakesTheNextCounterAsTheReferenceAndStopChangesNothing)
{
    CheckerGraph g;
    g.Feed({5, 9, 7});
    g.checker.Stop();
    EXPECT_EQ(g.Feed({103}).size(), 1u);
    g.checker.Start();
    EXPECT_TRUE(g.Feed({100, 101}).empty());
    EXPECT_EQ(g.Dropped() + g.Reversals(), 0u) << "statistics start again";
}

TEST(DroppedFramesChecker, CountersInOnePacketAreCheckedInEnumerationOrder)
{
    CheckerGraph g;
    g.source.Emit(MakeCounterPacket({5, 9, 10}));
    EXPECT_EQ(g.checker.traces, (Texts{dropped3 + "\n"}));
    g.checker.traces.clear();
    g.source.Emit(MakeImagePacket(1)); // no counter: goes on, changes nothing
    g.source.Emit(MakeCounterPacket({11}));
    EXPECT_TRUE(g.checker.traces.empty());
    EXPECT_EQ(g.next.Count(), 3u);
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

TEST(DroppedFramesChecker, OnlyPortOneIsAcceptedAndAFailedSendEndsTheCheck)
{
    CheckerGraph g;
    EXPECT_THROW(g.checker.Push(2, MakeCounterPacket({1})), CException);
    g.next.onData = [](int, const CSmartPointer<IPacket>&) { throw CCommonException(0xCEF00004, 3, "Next.cpp"); };
    EXPECT_THROW(g.source.Emit(MakeCounterPacket({1})), CException);
    EXPECT_THROW(g.source.Emit(MakeCounterPacket({50})), CException);
    g.next.onData = nullptr;
    EXPECT_TRUE(g.Feed({7, 8}).empty()) << "packets that failed to go on were not looked at";

    CCoreFactory factory;
    std::unique_ptr<IComponent> made(factory.CreateObject("DroppedFramesChecker"));
    EXPECT_NE(dynamic_cast<CDroppedFramesChecker*>(made.get()), nullptr);
}
