#include "Core/ComponentBase.h"
#include "Core/ModuleLinker.h"
#include "Core/MultiLink.h"

#include "support/TestModules.h"

#include <gtest/gtest.h>

using namespace Tav;
using namespace TavTest;

namespace {

class NotAModule : public CComponentBase {};

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

struct Modules {
    TestSource source;
    CollectingSink sink;
    Modules()
    {
        source.Initialize("Source", nullptr);
        sink.Initialize("Sink", nullptr);
    }
};

} // namespace

TEST(ModuleLinker, SameConnectionTwiceGivesOneSink)
{
    Modules m;
    CModuleLinker linker;
    linker.Link(&m.source, 1, &m.sink, 1);
    linker.Link(&m.source, 1, &m.sink, 1);
    auto* link = static_cast<CMultiLink*>(linker.FindLink(&m.source, 1));
    ASSERT_NE(link, nullptr);
    EXPECT_EQ(link->GetSinkCount(), 1);
    m.source.Emit(MakeTextPacket("x"));
    EXPECT_EQ(m.sink.Count(), 1u);
}

TEST(ModuleLinker, ComponentsWithoutPortFacesAreRejected)
{
    Modules m;
    NotAModule enumerator;
    CModuleLinker linker;
    CException e = Caught([&] { linker.Link(&enumerator, 1, &m.sink, 1); });
    EXPECT_EQ(e.GetCode(), 0xCEF00000u);
    EXPECT_EQ(e.GetLine(), 42);
    e = Caught([&] { linker.Link(&m.source, 1, &enumerator, 1); });
    EXPECT_EQ(e.GetCode(), 0xCEF00000u);
    EXPECT_EQ(e.GetLine(), 52);
    EXPECT_EQ(linker.GetLinkCount(), 0u);
}

TEST(ModuleLinker, UndeclaredSourcePortLeavesNoLink)
{
    Modules m;
    CModuleLinker linker;
    CException e = Caught([&] { linker.Link(&m.source, 42, &m.sink, 1); });
    EXPECT_EQ(e.GetCode(), 0xCEF10102u);
    EXPECT_EQ(linker.GetLinkCount(), 0u);
    EXPECT_FALSE(m.source.IsConnected(42));
}

TEST(ModuleLinker, UnlinkAllDisconnectsEverythingAndCanBeRefilled)
{
    Modules m;
    CModuleLinker linker;
    linker.UnlinkAll(); // empty: nothing happens
    linker.Link(&m.source, 1, &m.sink, 1);
    linker.Link(&m.source, 0, &m.sink, 1);
    EXPECT_EQ(linker.GetLinkCount(), 2u);
    linker.UnlinkAll();
    EXPECT_EQ(linker.GetLinkCount(), 0u);
    EXPECT_FALSE(m.source.IsConnected(1));
    EXPECT_FALSE(m.source.IsConnected(0));
    m.source.Emit(MakeTextPacket("x"));
    EXPECT_EQ(m.sink.Count(), 0u);
    linker.Link(&m.source, 1, &m.sink, 1);
    m.source.Emit(MakeTextPacket("x"));
    EXPECT_EQ(m.sink.Count(), 1u);
}

TEST(MultiLink, SinkListRules)
{
    Modules m;
    CollectingSink other;
    other.Initialize("Other", nullptr);
    CMultiLink link;
    EXPECT_THROW(link.Push(MakeTextPacket("detached")), CException);
    link.Attach(&m.source, 1);
    m.source.Emit(MakeTextPacket("nobody")); // empty list: returns at once
    link.Detach();
    link.AddSink(&m.sink, 1);
    link.AddSink(&other, 1);
    EXPECT_EQ(link.RemoveSink(&m.sink, 2), 2) << "a pair that is not listed changes nothing";
    EXPECT_EQ(link.RemoveSink(&m.sink, 1), 1);
    link.Attach(&m.source, 1);
    m.source.Emit(MakeTextPacket("x"));
    EXPECT_EQ(other.Count(), 1u);
    link.Detach();
    link.Detach();
    EXPECT_FALSE(m.source.IsConnected(1));
    EXPECT_EQ(link.GetSinkCount(), 0);
}
