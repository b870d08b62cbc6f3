#include "Common/Exception.h"
#include "Core/ComponentBase.h"
#include "Core/CoreFactory.h"
#include "ObjectFactory.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace Tav;

namespace {

// Journal of what the test components went through, in order.
std::vector<std::string> journal;

class Recorder : public CComponentBase {
public:
    void OnInitialize() override
    {
        ++initialisations;
        journal.push_back("init " + name);
        if (failInitialize)
            throw CCommonException(0xCEF00001, 1, "Recorder.cpp", "cannot initialise");
    }
    void OnDeinitialize() override { journal.push_back("deinit " + name); }
    ~Recorder() override { journal.push_back("delete " + name); }

    int initialisations = 0;
    static inline bool failInitialize = false;
};

// A factory whose kinds are test components.
class TestFactory : public CCoreFactory {
public:
    ~TestFactory() override { ReleaseAll(); }
    IComponent* CreateObject(const std::string& kind) override
    {
        static const Kind kinds[] = {
            {"FpsViewer", &Create<Recorder>},
            {"Decoupler", &Create<Recorder>},
            {"ImageViewer", &Create<Recorder>},
            {"NotBuilt", nullptr},
        };
        if (IComponent* c = CreateFromTable(kinds, std::size(kinds), kind))
            return c;
        return CCoreFactory::CreateObject(kind);
    }
};

uint32_t CodeOf(const std::function<void()>& f, std::string* description = nullptr, int* line = nullptr)
{
    try {
        f();
    } catch (const CException& e) {
        if (description)
            *description = e.GetDescription();
        if (line)
            *line = e.GetLine();
        return e.GetCode();
    }
    return 0;
}

class FactoryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        journal.clear();
        Recorder::failInitialize = false;
    }
};

} // namespace

TEST_F(FactoryTest, GetObjectCreatesOnceAndInitialisesOnce)
{
    TestFactory f;
    IComponent* a = f.GetObject("ImageViewer");
    IComponent* b = f.GetObject("ImageViewer");
    EXPECT_EQ(a, b);
    EXPECT_EQ(static_cast<Recorder*>(a)->initialisations, 1);
    EXPECT_STREQ(a->GetName(), "ImageViewer");
    EXPECT_EQ(static_cast<Recorder*>(a)->GetFactory(), &f);
    EXPECT_TRUE(f.Contains("ImageViewer"));
}

TEST_F(FactoryTest, UnknownAndUnbuiltKindsAreRejectedWithTheName)
{
    TestFactory f;
    std::string text;
    int line = 0;
    EXPECT_EQ(CodeOf([&] { f.GetObject("imageviewer"); }, &text, &line), 0xCEF10200u);
    EXPECT_EQ(line, 47);
    EXPECT_EQ(CodeOf([&] { f.GetObject("Configurator"); }, &text), 0xCEF10200u);
    EXPECT_NE(text.find("Configurator"), std::string::npos) << text;
    EXPECT_EQ(CodeOf([&] { f.GetObject("NotBuilt"); }), 0xCEF10200u);
    EXPECT_TRUE(f.GetObjects().empty());
}

TEST_F(FactoryTest, RegisterRejectsTakenNamesAndDoubleRegistration)
{
    TestFactory f;
    auto* c = new Recorder;
    f.Register("Configurator", c);
    EXPECT_STREQ(c->GetName(), "Configurator");
    int line = 0;
    auto* other = new Recorder;
    EXPECT_EQ(CodeOf([&] { f.Register("Configurator", other); }, nullptr, &line), 0xCEF10201u);
    EXPECT_EQ(line, 84);
    delete other;
    EXPECT_EQ(CodeOf([&] { f.Register("Second", c); }, nullptr, &line), 0xCEF10202u);
    EXPECT_EQ(line, 89);
    EXPECT_EQ(f.GetObjects().size(), 1u);
}

TEST_F(FactoryTest, GetObjectsIsInNameOrder)
{
    TestFactory f;
    f.GetObject("FpsViewer");
    f.GetObject("Decoupler");
    f.GetObject("ImageViewer");
    std::vector<std::string> names;
    for (IComponent* c : f.GetObjects())
        names.push_back(c->GetName());
    EXPECT_EQ(names, (std::vector<std::string>{"Decoupler", "FpsViewer", "ImageViewer"}));
}

TEST_F(FactoryTest, ReleaseAllDeinitialisesEveryComponentBeforeDeletingTheFirst)
{
    TestFactory f;
    f.ReleaseAll(); // empty: nothing happens
    f.GetObject("ImageViewer");
    f.GetObject("Decoupler");
    journal.clear();
    f.ReleaseAll();
    EXPECT_EQ(journal, (std::vector<std::string>{"deinit Decoupler", "deinit ImageViewer", "delete Decoupler",
                                                 "delete ImageViewer"}));
    EXPECT_FALSE(f.Contains("Decoupler"));
    // Fresh components afterwards.
    auto* again = static_cast<Recorder*>(f.GetObject("Decoupler"));
    EXPECT_EQ(again->initialisations, 1);
}

TEST_F(FactoryTest, ComponentFailingInitialisationStaysRegisteredAndIsReleased)
{
    {
        TestFactory f;
        Recorder::failInitialize = true;
        EXPECT_EQ(CodeOf([&] { f.GetObject("FpsViewer"); }), 0xCEF00001u);
        Recorder::failInitialize = false;
        EXPECT_TRUE(f.Contains("FpsViewer"));
    }
    EXPECT_EQ(journal.back(), "delete FpsViewer");
}

TEST_F(FactoryTest, ObjectFactoryRejectsNamesThatAreNoKind)
{
    CObjectFactory f;
    for (const char* kind : {"Nonsense", "", "decoupler", "Configurator"})
        EXPECT_EQ(CodeOf([&] { f.GetObject(kind); }), 0xCEF10200u) << kind;
}
