#include "Core/ErrorChunk.h"
#include "Core/ModuleLinker.h"
#include "Core/MultiLink.h"
#include "Core/RegisterRequest.h"
#include "Platform/Event.h"
#include "Platform/Thread.h"

#include "support/TestModules.h"

#include <gtest/gtest.h>

#include <atomic>

using namespace Tav;
using namespace TavTest;
using Platform::Event;
using Platform::Infinite;
using Platform::Thread;
using Platform::WaitForSingleObject;
using Platform::WaitObject0;
using Platform::WaitTimedOut;

namespace {

template <typename F>
CException Caught(F f)
{
    try {
        f();
    } catch (const CException& e) {
        return e;
    }
    return CException();
}

// A source and sinks, initialised like the factory does it.
struct Graph {
    TestSource source;
    CollectingSink a, b, c;
    CModuleLinker linker;
    Graph()
    {
        source.Initialize("Source", nullptr);
        a.Initialize("A", nullptr);
        b.Initialize("B", nullptr);
        c.Initialize("C", nullptr);
    }
    ~Graph() { linker.UnlinkAll(); }
};

} // namespace

TEST(Module, LinkDeliversToEverySinkInConnectionOrderOnTheSendersThread)
{
    Graph g;
    std::vector<std::string> order;
    auto record = [&](const char* who) { return [&order, who](int, const CSmartPointer<IPacket>&) { order.push_back(who); }; };
    g.b.onData = record("B");
    g.a.onData = record("A");
    g.c.onData = record("C");
    g.linker.Link(&g.source, 1, &g.b, 1);
    g.linker.Link(&g.source, 1, &g.a, 1);
    g.linker.Link(&g.source, 1, &g.c, 1);
    g.linker.Link(&g.source, 1, &g.a, 1); // listed again: moves to the end
    EXPECT_EQ(g.linker.GetLinkCount(), 1u);

    auto packet = MakeTextPacket("frame");
    g.source.Emit(packet);
    EXPECT_EQ(order, (std::vector<std::string>{"B", "C", "A"}));
    ASSERT_EQ(g.a.Count(), 1u);
    EXPECT_EQ(g.a.Deliveries()[0].packet.Get(), packet.Get()) << "receivers share the packet";
    EXPECT_EQ(TextOf(g.a.Deliveries()[0].packet), "frame");
}

TEST(Module, SendOnUnlinkedPortIsSilentAndOnUndeclaredPortThrows)
{
    Graph g;
    g.source.Emit(MakeTextPacket("x"));
    CException e = Caught([&] { g.source.Emit(MakeTextPacket("x"), 7); });
    EXPECT_EQ(e.GetCode(), 0xCEF00000u);
}

TEST(Module, SinkErrorSkipsTheRestAndReachesTheSender)
{
    Graph g;
    g.linker.Link(&g.source, 1, &g.a, 5); // A takes no input on port 5
    g.linker.Link(&g.source, 1, &g.b, 1);
    CException e = Caught([&] { g.source.Emit(MakeTextPacket("x")); });
    EXPECT_EQ(e.GetCode(), 0xCEF10103u);
    EXPECT_EQ(e.GetLine(), 128);
    EXPECT_EQ(g.b.Count(), 0u);
    // The locks were released on the way back.
    g.a.Stop();
    g.source.AddOutputPort(2);
}

TEST(Module, LifecycleRules)
{
    CollectingSink m;
    m.Stop(); // never created: nothing happens
    m.Initialize("M", nullptr);
    EXPECT_TRUE(m.IsInitialized());
    m.AddOutputPort(3);
    EXPECT_EQ(Caught([&] { m.AddOutputPort(3); }).GetCode(), 0xCEF10100u);
    m.Start();
    m.Start();
    EXPECT_EQ(m.starts.load(), 1);
    // A second Initialize starts from an empty port table.
    m.Initialize("M", nullptr);
    EXPECT_EQ(m.stops.load(), 1) << "re-initialising stops the started module";
    m.AddOutputPort(3);
    m.Deinitialize();
    EXPECT_FALSE(m.IsInitialized());
    EXPECT_EQ(m.GetErrorPort(), -1);
    m.Disconnect(1); // before Create: ignored
}

TEST(Module, ConnectOnLinkedPortKeepsTheOldLink)
{
    Graph g;
    g.linker.Link(&g.source, 1, &g.a, 1);
    CMultiLink second;
    second.AddSink(&g.b, 1);
    CException e = Caught([&] { second.Attach(&g.source, 1); });
    EXPECT_EQ(e.GetCode(), 0xCEF10101u);
    EXPECT_FALSE(second.IsAttached());
    g.source.Emit(MakeTextPacket("x"));
    EXPECT_EQ(g.a.Count(), 1u);
    EXPECT_EQ(g.b.Count(), 0u);
}

TEST(Module, ReportErrorIsSilentUnconnectedAndSendsAnErrorChunkOtherwise)
{
    Graph g;
    CCommonException error(0xCEF00001, 84, "StaticErrorView.cpp", "camera gone");
    g.source.ReportError(error); // unconnected: dropped

    g.linker.Link(&g.source, 0, &g.a, 1);
    g.source.ReportError(error);
    ASSERT_EQ(g.a.Count(), 1u);
    CChunkPtr<CChunk> chunk;
    g.a.Deliveries()[0].packet->FindChunk(chunk, GUID_ErrorChunk);
    ASSERT_TRUE(chunk);
    const uint32_t T = static_cast<uint32_t>(error.GetDescription().size() + error.GetFile().size() + 2);
    EXPECT_EQ(chunk.GetLength(), T + 40);
    CErrorChunkContent content = ReadErrorChunk(chunk);
    EXPECT_EQ(content.description, "camera gone");
    EXPECT_EQ(content.file, "StaticErrorView.cpp");
    EXPECT_EQ(content.code, 0xCEF00001u);
    EXPECT_EQ(content.line, 84u);

    // Byte layout: strings, code, line, count 2, T, trailer.
    const unsigned char* start = chunk.GetChunk()->GetChunkStart();
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(start)), "camera gone");
    EXPECT_EQ(LoadU32(start + T), 0xCEF00001u);
    EXPECT_EQ(LoadU32(start + T + 4), 84u);
    EXPECT_EQ(LoadU32(start + T + 8), 2u);
    EXPECT_EQ(LoadU32(start + T + 12), T);
}

TEST(Module, RegisterRequestsRunInPlace)
{
    CollectingSink m;
    m.Initialize("M", nullptr);
    TestRegisters regs;
    uint32_t value = 0x11223344;
    auto write = CRegisterRequest::Write(0x100000004ull, &value, 4);
    m.HandleRegisterRequests(regs, write.GetPacket());
    auto read = CRegisterRequest::Read(0x100000004ull, 4);
    m.HandleRegisterRequests(regs, read.GetPacket());
    EXPECT_EQ(read.GetValue<uint32_t>(), 0x11223344u);
    EXPECT_EQ(regs.calls, (std::vector<std::string>{"write 4294967300 4", "read 4294967300 4"}));

    // Several requests in one packet run in enumeration order.
    CSmartPointer<IPacket> both = CPacket::Create();
    both->AddChunkBuffer(CRegisterRequest::MakeBuffer(8, RegisterRead, 1, 1, nullptr));
    both->AddChunkBuffer(CRegisterRequest::MakeBuffer(9, RegisterRead, 1, 1, nullptr));
    regs.calls.clear();
    m.HandleRegisterRequests(regs, both);
    EXPECT_EQ(regs.calls.size(), 2u);
}

TEST(Module, MalformedRegisterRequestsAreRejected)
{
    CollectingSink m;
    m.Initialize("M", nullptr);
    TestRegisters regs;
    auto expect = [&](const CRegisterRequest& r, uint32_t code, int line) {
        CException e = Caught([&] { m.HandleRegisterRequests(regs, r.GetPacket()); });
        EXPECT_EQ(e.GetCode(), code);
        EXPECT_EQ(e.GetLine(), line);
    };
    expect(CRegisterRequest::Make(0, RegisterRead, 4, 0, nullptr), 0xCEF00006u, 163); // 40-byte chunk
    expect(CRegisterRequest::Make(0, RegisterWrite, 4, 0, nullptr), 0xCEF00006u, 171);
    expect(CRegisterRequest::Make(0, RegisterRead, 8, 4, nullptr), 0xCEF00006u, 163); // area too small
    expect(CRegisterRequest::Make(0, 2, 4, 4, nullptr), 0xCEF00004u, 177);
    CException none = Caught([&] { m.HandleRegisterRequests(regs, MakeTextPacket("no requests")); });
    EXPECT_EQ(none.GetCode(), 0xCEF10104u);
    EXPECT_EQ(none.GetLine(), 139);
    EXPECT_TRUE(regs.calls.empty());
}

TEST(Module, DeliveryHoldsTheSendersPortLockTheLinkAndTheReceiversSinkLock)
{
    Graph g;
    g.linker.Link(&g.source, 1, &g.a, 1);
    Event inside(true, false), release(true, false);
    g.a.onData = [&](int, const CSmartPointer<IPacket>&) {
        inside.Set();
        WaitForSingleObject(release, Infinite);
    };
    Thread sender;
    ASSERT_TRUE(sender.Start([&] { g.source.Emit(MakeTextPacket("x")); }));
    ASSERT_EQ(WaitForSingleObject(inside, 5000), WaitObject0);

    // Each of these needs one of the three locks exclusively.
    Event portChanged(true, false), sinksChanged(true, false), stopped(true, false);
    Thread t1, t2, t3;
    ASSERT_TRUE(t1.Start([&] { g.source.AddOutputPort(9); portChanged.Set(); }));
    ASSERT_TRUE(t2.Start([&] {
        static_cast<CMultiLink*>(g.linker.FindLink(&g.source, 1))->AddSink(&g.b, 1);
        sinksChanged.Set();
    }));
    ASSERT_TRUE(t3.Start([&] { g.a.Stop(); stopped.Set(); }));
    EXPECT_EQ(WaitForSingleObject(portChanged, 30), WaitTimedOut);
    EXPECT_EQ(WaitForSingleObject(sinksChanged, 0), WaitTimedOut);
    EXPECT_EQ(WaitForSingleObject(stopped, 0), WaitTimedOut);
    release.Set();
    for (Event* e : {&portChanged, &sinksChanged, &stopped})
        EXPECT_EQ(WaitForSingleObject(*e, 5000), WaitObject0);
    for (Thread* t : {&sender, &t1, &t2, &t3})
        EXPECT_TRUE(t->Join(5000));
}

TEST(Module, StopWaitsForADeliveryAndHoldsOffNewOnes)
{
    Graph g;
    g.linker.Link(&g.source, 1, &g.a, 1);
    g.a.Start();
    std::vector<std::string> order;
    std::mutex orderMutex;
    auto note = [&](const std::string& s) {
        std::lock_guard<std::mutex> l(orderMutex);
        order.push_back(s);
    };
    Event inside(true, false), release(true, false);
    std::atomic<int> calls{0};
    g.a.onData = [&](int, const CSmartPointer<IPacket>& p) {
        if (calls++ == 0) {
            inside.Set();
            WaitForSingleObject(release, Infinite);
        }
        note("deliver " + TextOf(p));
    };
    Thread first, stopper, second;
    ASSERT_TRUE(first.Start([&] { g.source.Emit(MakeTextPacket("1")); }));
    ASSERT_EQ(WaitForSingleObject(inside, 5000), WaitObject0);
    // Recorded inside OnStop, so the order shows what the lock let through.
    g.a.onStop = [&] { note("stopped"); };
    ASSERT_TRUE(stopper.Start([&] { g.a.Stop(); }));
    // The stopper must be queued as exclusive waiter before the second delivery.
    Event never(true, false);
    for (int i = 0; i < 5000 && g.a.SinkLockWriters() == 0; ++i)
        WaitForSingleObject(never, 1);
    ASSERT_EQ(g.a.SinkLockWriters(), 1);
    ASSERT_TRUE(second.Start([&] { g.source.Emit(MakeTextPacket("2")); }));
    EXPECT_EQ(WaitForSingleObject(never, 30), WaitTimedOut);
    release.Set();
    for (Thread* t : {&first, &stopper, &second})
        EXPECT_TRUE(t->Join(5000));
    ASSERT_EQ(order.size(), 3u);
    EXPECT_EQ(order[0], "deliver 1");
    EXPECT_EQ(order[1], "stopped");
    EXPECT_EQ(order[2], "deliver 2");
}

TEST(Module, ProducersPushWhileAnotherThreadStartsAndStops)
{
    Graph g;
    g.linker.Link(&g.source, 1, &g.a, 1);
    g.linker.Link(&g.source, 1, &g.b, 1);
    std::atomic<bool> done{false};
    std::vector<std::unique_ptr<Thread>> producers;
    for (int i = 0; i < 3; ++i) {
        producers.push_back(std::make_unique<Thread>());
        ASSERT_TRUE(producers.back()->Start([&] {
            for (int n = 0; n < 300; ++n)
                g.source.Emit(MakeTextPacket("p"));
        }));
    }
    Thread toggler;
    ASSERT_TRUE(toggler.Start([&] {
        while (!done) {
            g.a.Start();
            g.a.Stop();
        }
    }));
    for (auto& p : producers)
        ASSERT_TRUE(p->Join(60000));
    done = true;
    ASSERT_TRUE(toggler.Join(60000));
    EXPECT_EQ(g.a.Count(), 900u);
    EXPECT_EQ(g.b.Count(), 900u);
    EXPECT_EQ(g.a.starts.load(), g.a.stops.load());
}

TEST(Module, ReportErrorWithoutErrorPortNeverUsesTheAuxiliaryPort)
{
    struct AuxiliaryOnly : public CModuleBase {
        void OnInitialize() override
        {
            CModuleBase::OnInitialize();
            SetAuxiliaryPort(-1);
        }
    } module;
    module.Initialize("AuxiliaryOnly", nullptr);
    CollectingSink sink;
    sink.Initialize("Sink", nullptr);
    CModuleLinker linker;
    linker.Link(&module, -1, &sink, 1);
    module.ReportError(CCommonException(0xCEF00001, 1, "x.cpp", "lost"));
    EXPECT_EQ(sink.Count(), 0u);
    linker.UnlinkAll();
}
