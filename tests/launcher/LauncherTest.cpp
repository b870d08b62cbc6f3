#include "Launcher.h"
#include "XmlHelper.h"

#include "Core/DeviceController.h"
#include "Core/DeviceDescriptor.h"
#include "Core/FactoryBase.h"
#include "Core/ISource.h"
#include "Core/RegisterRequest.h"
#include "Platform/MessageBox.h"

#include "support/TestDevice.h"
#include "support/TestModules.h"
#include "support/TestPaths.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>

using namespace Tav;
using namespace TavTest;

namespace {

// Takes the configurator's place in the graph: its ports, no Java.
class FakeConfigurator : public CModuleBase {
public:
    void OnInitialize() override
    {
        CModuleBase::OnInitialize();
        SetErrorPort(0);
        SetAuxiliaryPort(-1);
        for (int port : {1024, 1, 1025, 1026, 2048, 2049, 2050})
            AddOutputPort(port);
    }
    void OnData(int, const CSmartPointer<IPacket>&) override {}
};

// Any name is a kind: a module with every port the shipped graphs use.
class AnyModule : public CModuleBase {
public:
    void OnInitialize() override
    {
        CModuleBase::OnInitialize();
        SetErrorPort(0);
        SetAuxiliaryPort(-1);
        for (int port : {1, 2, 3, 1024, 1025, 1026, 2048, 2049, 2050})
            AddOutputPort(port);
    }
    void OnData(int, const CSmartPointer<IPacket>&) override {}
};

class AnyFactory : public CFactoryBase {
public:
    ~AnyFactory() override { ReleaseAll(); }
    IComponent* CreateObject(const std::string&) override { return new AnyModule; }
};

struct Boxes {
    std::mutex mutex;
    std::vector<std::string> texts;

    static Platform::MessageBoxAnswer Show(const Platform::MessageBoxRequest& request, void* context)
    {
        auto* self = static_cast<Boxes*>(context);
        std::lock_guard<std::mutex> guard(self->mutex);
        self->texts.push_back(request.text);
        return Platform::SafeAnswer(request.buttons);
    }
    std::string All()
    {
        std::lock_guard<std::mutex> guard(mutex);
        std::string all;
        for (const auto& text : texts)
            all += text + "\n";
        return all;
    }
    size_t Count()
    {
        std::lock_guard<std::mutex> guard(mutex);
        return texts.size();
    }
};

template <typename F>
CException Caught(F f)
{
    try {
        f();
    } catch (const CException& e) {
        return e;
    }
    ADD_FAILURE() << "no CException";
    return CException();
}

std::string Graph(const std::string& modules, const std::string& connections)
{
    return "<?xml version=\"1.0\"?>\n<Graph>\n<Modules>\n" + modules + "</Modules>\n<Connections>\n" +
           connections + "</Connections>\n</Graph>\n";
}

class LauncherTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        previous = Platform::SetMessageBoxHost(&Boxes::Show, &boxes, &previousContext);
        // A "-" anywhere in an option's value makes the value empty.
        char pattern[] = "/tmp/tavlauncherXXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        directory = pattern;
        file = directory + "/graph.xml";
    }
    void TearDown() override
    {
        launcher.reset();
        Platform::SetMessageBoxHost(previous, previousContext);
        std::remove(file.c_str());
        std::remove(directory.c_str());
    }

    CLauncher& Make(const std::string& content)
    {
        WriteFile(file, content);
        launcher = std::make_unique<CLauncher>(CCommandLine("Launcher -connections " + file),
                                               [this] {
                                                   ++configuratorsCreated;
                                                   return new FakeConfigurator;
                                               });
        return *launcher;
    }

    // AssembleGraph over `content` with the permissive factory.
    CException AssembleFails(const std::string& content)
    {
        AnyFactory factory;
        CModuleLinker linker;
        auto document = LoadXmlDocumentFromBuffer(content.data(), content.size(), "test.xml");
        CException e = Caught([&] { CLauncher::AssembleGraph(*document, factory, linker); });
        linker.UnlinkAll();
        return e;
    }

    ISource* Source(const char* name) { return dynamic_cast<ISource*>(launcher->GetFactory().GetObject(name)); }

    Boxes boxes;
    Platform::MessageBoxHost previous = nullptr;
    void* previousContext = nullptr;
    std::string directory;
    std::string file;
    int configuratorsCreated = 0;
    std::unique_ptr<CLauncher> launcher;
};

TEST_F(LauncherTest, EmptyListsBuildAnEmptyGraph)
{
    CLauncher& l = Make(Graph("", ""));
    ASSERT_TRUE(l.Initialize()) << boxes.All();
    EXPECT_TRUE(l.IsInitialised());
    EXPECT_EQ(l.GetLinker().GetLinkCount(), 0u);
    // Only the configurator, registered before the file is read.
    ASSERT_EQ(l.GetFactory().GetObjects().size(), 1u);
    EXPECT_TRUE(l.GetFactory().Contains("Configurator"));
    EXPECT_EQ(boxes.Count(), 0u);
}

TEST_F(LauncherTest, AliasesNamesAndNestedLists)
{
    // The lists sit deeper in the document; items below them at any depth.
    CLauncher& l = Make("<Root><Outer><Modules><Group>"
                        "<Module name=\"DroppedFramesChecker\"/>"
                        "<Module name=\"Decoupler\" alias=\"A\"/>"
                        "<Module name=\"Decoupler\" alias=\"B\"/></Group>"
                        "<Module name=\"ErrorViewer\"/></Modules></Outer>"
                        "<Connections><Connection srcModule=\"DroppedFramesChecker\" srcPort=\"1\" dstModule=\"A\" "
                        "dstPort=\"1\"/><Deeper><Connection srcModule=\"B\" srcPort=\" 0 \" dstModule=\"ErrorViewer\" "
                        "dstPort=\"+1\"/></Deeper></Connections></Root>");
    ASSERT_TRUE(l.Initialize()) << boxes.All();
    // A and B are the one Decoupler.
    EXPECT_EQ(l.GetFactory().GetObjects().size(), 4u);
    EXPECT_NE(l.GetLinker().FindLink(Source("DroppedFramesChecker"), 1), nullptr);
    EXPECT_NE(l.GetLinker().FindLink(Source("Decoupler"), 0), nullptr);
    EXPECT_EQ(l.GetLinker().GetLinkCount(), 2u);
}

TEST_F(LauncherTest, DuplicateAliasFailsWithTheAlias)
{
    const std::string content = Graph("<Module name=\"Decoupler\" alias=\"Same\"/>\n"
                                      "<Module name=\"ErrorViewer\" alias=\"Same\"/>\n",
                                      "");
    CException e = AssembleFails(content);
    EXPECT_EQ(e.GetCode(), 0xCEF00001u);
    EXPECT_EQ(e.GetLine(), 117);
    EXPECT_EQ(e.GetFile(), "Launcher.cpp");
    EXPECT_NE(e.GetDescription().find("'Same'"), std::string::npos) << e.GetDescription();

    CLauncher& l = Make(content);
    EXPECT_FALSE(l.Initialize());
    EXPECT_FALSE(l.IsInitialised());
    EXPECT_NE(boxes.All().find("'Same'"), std::string::npos) << boxes.All();
    // What was created before the fault stays.
    EXPECT_TRUE(l.GetFactory().Contains("Decoupler"));
}

TEST_F(LauncherTest, UnknownKindFailsWithTheFactoryError)
{
    CLauncher& l = Make(Graph("<Module name=\"decoupler\"/>", ""));
    EXPECT_FALSE(l.Initialize());
    ASSERT_EQ(boxes.Count(), 1u);
    EXPECT_NE(boxes.All().find("decoupler"), std::string::npos);

    CFactoryBase* factory = &l.GetFactory();
    CModuleLinker linker;
    const std::string content = Graph("<Module name=\"NoSuchKind\"/>", "");
    auto document = LoadXmlDocumentFromBuffer(content.data(), content.size(), "x");
    CException e = Caught([&] { CLauncher::AssembleGraph(*document, *factory, linker); });
    EXPECT_EQ(e.GetCode(), 0xCEF10200u);
    EXPECT_EQ(e.GetFile(), "FactoryBase.cpp");
}

TEST_F(LauncherTest, PortsMustBeDecimalNumbers)
{
    const std::string modules = "<Module name=\"Decoupler\"/><Module name=\"ErrorViewer\"/>";
    for (const char* port : {"one", "", "1x", "0x10", "1 2", "--1"}) {
        const std::string content = Graph(
            modules, std::string("<Connection srcModule=\"Decoupler\" srcPort=\"") + port +
                         "\" dstModule=\"ErrorViewer\" dstPort=\"1\"/>");
        AnyFactory factory;
        CModuleLinker linker;
        auto document = LoadXmlDocumentFromBuffer(content.data(), content.size(), "x");
        try {
            CLauncher::AssembleGraph(*document, factory, linker);
            ADD_FAILURE() << "accepted port '" << port << "'";
        } catch (const CComError& e) {
            EXPECT_EQ(e.GetCode(), 0x80020005u) << port;
        }
        EXPECT_EQ(linker.GetLinkCount(), 0u);
    }
    EXPECT_EQ(ToInteger("-2147483648"), INT32_MIN);
    EXPECT_EQ(ToInteger("2147483647"), INT32_MAX);
    EXPECT_THROW(ToInteger("2147483648"), CComError);
    EXPECT_THROW(ToInteger("99999999999999999999999"), CComError);

    CLauncher& l = Make(Graph(modules, "<Connection srcModule=\"Decoupler\" srcPort=\"one\" "
                                       "dstModule=\"ErrorViewer\" dstPort=\"1\"/>"));
    EXPECT_FALSE(l.Initialize());
    EXPECT_NE(boxes.All().find("Type mismatch."), std::string::npos) << boxes.All();
}

TEST_F(LauncherTest, EveryStructuralFaultHasItsLine)
{
    const std::string two = "<Module name=\"S\"/><Module name=\"D\"/>";
    struct Case {
        std::string content;
        int line;
        const char* mentions;
    } cases[] = {
        {"<G><Connections/></G>", 99, "'Modules'"},
        {Graph("<Module alias=\"x\"/>", ""), 109, "name attribute"},
        {"<G><Modules/></G>", 129, "'Connections'"},
        {Graph(two, "<Connection srcPort=\"1\" dstModule=\"D\" dstPort=\"1\"/>"), 138, "'srcModule'"},
        {Graph(two, "<Connection srcModule=\"S\" dstModule=\"D\" dstPort=\"1\"/>"), 143, "'srcPort'"},
        {Graph(two, "<Connection srcModule=\"S\" srcPort=\"1\" dstPort=\"1\"/>"), 148, "'dstModule'"},
        {Graph(two, "<Connection srcModule=\"S\" srcPort=\"1\" dstModule=\"D\"/>"), 153, "'dstPort'"},
        // Attributes are checked in order, before any module is looked up.
        {Graph(two, "<Connection srcModule=\"nobody\" dstModule=\"D\"/>"), 143, "'srcPort'"},
        {Graph(two, "<Connection srcModule=\"s\" srcPort=\"1\" dstModule=\"D\" dstPort=\"1\"/>"), 161, "'s'"},
        {Graph(two, "<Connection srcModule=\"S\" srcPort=\"1\" dstModule=\"X\" dstPort=\"1\"/>"), 175, "'X'"},
    };
    for (const Case& c : cases) {
        CException e = AssembleFails(c.content);
        EXPECT_EQ(e.GetCode(), 0xCEF00001u) << c.line;
        EXPECT_EQ(e.GetLine(), c.line);
        EXPECT_EQ(e.GetFile(), "Launcher.cpp");
        EXPECT_NE(e.GetDescription().find(c.mentions), std::string::npos) << e.GetDescription();
    }
    // A missing name is told apart from an empty one, which is a kind lookup.
    AnyFactory factory;
    CModuleLinker linker;
    const std::string empty = Graph("<Module name=\"\"/>", "");
    auto document = LoadXmlDocumentFromBuffer(empty.data(), empty.size(), "x");
    EXPECT_NO_THROW(CLauncher::AssembleGraph(*document, factory, linker));
    EXPECT_TRUE(factory.Contains(""));
}

TEST(XmlHelper, ParseErrorsGiveReasonLineAndText)
{
    const std::string text = "<Graph>\n  <Modules>\n  <Module name=\"a\"\n  </Modules>\n</Graph>\n";
    CException e = Caught([&] { LoadXmlDocumentFromBuffer(text.data(), text.size(), "bad.xml"); });
    EXPECT_EQ(e.GetCode(), 0xCEF00001u);
    EXPECT_EQ(e.GetLine(), 33);
    EXPECT_EQ(e.GetFile(), "XmlHelper.cpp");
    const std::string& d = e.GetDescription();
    EXPECT_NE(d.find("bad.xml"), std::string::npos) << d;
    EXPECT_NE(d.find("line 4 (  </Modules>)"), std::string::npos) << d;

    // Not XML at all, and an empty file: still the parser's report.
    for (std::string bytes : {std::string("PK\x03\x04 binary \x01\x02", 14), std::string()}) {
        CException n = Caught([&] { LoadXmlDocumentFromBuffer(bytes.data(), bytes.size(), "x.bin"); });
        EXPECT_EQ(n.GetLine(), 33);
        EXPECT_NE(n.GetDescription().find("line 1"), std::string::npos) << n.GetDescription();
    }
}

TEST(XmlHelper, UnreadableFilesAndQueries)
{
    CException missing = Caught([] { LoadXmlDocument("/nonexistent/graph.xml"); });
    EXPECT_EQ(missing.GetLine(), 43);
    EXPECT_NE(missing.GetDescription().find("/nonexistent/graph.xml"), std::string::npos);
    EXPECT_NE(missing.GetDescription().find("cannot find"), std::string::npos) << missing.GetDescription();
    EXPECT_EQ(Caught([] { LoadXmlDocument("/tmp"); }).GetLine(), 43);

    const std::string text = "<a x=\"\"><b/><c><b y=\"2\"/></c><b/></a>";
    auto document = LoadXmlDocumentFromBuffer(text.data(), text.size(), "t");
    pugi::xml_node root = GetRootElement(*document);
    EXPECT_STREQ(root.name(), "a");
    std::string value = "untouched";
    EXPECT_TRUE(GetAttribute(root, "x", value));
    EXPECT_EQ(value, "");
    value = "untouched";
    EXPECT_FALSE(GetAttribute(root, "y", value));
    EXPECT_EQ(value, "untouched");
    auto bs = GetElementsByTagName(root, "b");
    ASSERT_EQ(bs.size(), 3u);
    EXPECT_TRUE(GetAttribute(bs[1], "y", value)); // document order
    EXPECT_TRUE(GetElementsByTagName(bs[0], "b").empty());
    EXPECT_EQ(Caught([&] { SelectSingleNode(root, "//["); }).GetLine(), 66);
    EXPECT_STREQ(SelectSingleNode(root, "//c").name(), "c");
}

TEST_F(LauncherTest, ShippedGraphsAssemble)
{
    for (const char* name : {"config/DefaultConnections.xml", "examples/CoreModules.xml", "examples/MinimalViewer.xml",
                             "examples/Statistics.xml", "examples/HDR.xml"}) {
        AnyFactory factory;
        CModuleLinker linker;
        auto document = LoadXmlDocument(std::string(TAV_SOURCE_DIR) + "/" + name);
        EXPECT_NO_THROW(CLauncher::AssembleGraph(*document, factory, linker)) << name;
        EXPECT_GT(linker.GetLinkCount(), 0u) << name;
        linker.UnlinkAll();
    }
    // The viewer-less graph runs with the kinds of this build.
    launcher = std::make_unique<CLauncher>(
        CCommandLine(std::string("Launcher -connections ") + TAV_SOURCE_DIR + "/examples/CoreModules.xml"),
        [] { return new FakeConfigurator; });
    EXPECT_TRUE(launcher->Initialize()) << boxes.All();
    EXPECT_EQ(launcher->GetFactory().GetObjects().size(), 5u);
}

TEST_F(LauncherTest, DefaultsPointAtInstalledFiles)
{
    CLauncher l(CCommandLine("Launcher"), [] { return nullptr; });
    EXPECT_EQ(l.GetClassName(), "zel/gui/ZEL");
    EXPECT_EQ(l.GetConfigFile(), "/zel/cfg/tav.xml");
    // The tests run in the build's bin folder, where both are installed.
    EXPECT_NE(l.GetConnectionFile().find("DefaultConnections.xml"), std::string::npos);
    EXPECT_TRUE(std::ifstream(l.GetConnectionFile()).good()) << l.GetConnectionFile();
    EXPECT_NE(l.GetClassPath().find("zel.jar"), std::string::npos);
    // Given options are used as they stand.
    CLauncher o(CCommandLine("Launcher -connections my.xml -classpath a.jar;b.jar"), [] { return nullptr; });
    EXPECT_EQ(o.GetConnectionFile(), "my.xml");
    EXPECT_EQ(o.GetClassPath(), "a.jar;b.jar");
}

TEST_F(LauncherTest, FailedConfiguratorStopsInitialize)
{
    WriteFile(file, Graph("<Module name=\"Decoupler\"/>", ""));
    CLauncher l(CCommandLine("Launcher -connections " + file), [] { return nullptr; });
    EXPECT_FALSE(l.Initialize());
    EXPECT_FALSE(l.GetFactory().Contains("Decoupler")); // the file was not read
}

TEST_F(LauncherTest, RetryAfterAFailedStartKeepsTheConfigurator)
{
    CLauncher& l = Make("<not xml");
    EXPECT_FALSE(l.Initialize());
    WriteFile(file, Graph("<Module name=\"Decoupler\"/><Module name=\"ErrorViewer\"/>",
                          "<Connection srcModule=\"Decoupler\" srcPort=\"0\" dstModule=\"ErrorViewer\" dstPort=\"1\"/>"));
    EXPECT_TRUE(l.Initialize()) << boxes.All();
    EXPECT_EQ(configuratorsCreated, 1);
    EXPECT_EQ(l.GetLinker().GetLinkCount(), 1u);
}

class ConnectTest : public LauncherTest {
protected:
    CDeviceController* Controller()
    {
        auto* controller = dynamic_cast<CDeviceController*>(launcher->GetFactory().GetObject("DeviceController"));
        controller->SetBuiltInDevice(&TestDevice::OpenTestDevice);
        return controller;
    }
    // The device reports its close later, from its own thread.
    static bool Closed(CDeviceController* controller)
    {
        if (!TestDevice::last)
            return false;
        TestDevice::last->WaitIdle();
        const auto calls = TestDevice::last->Calls();
        return controller->GetState() == 0 && std::find(calls.begin(), calls.end(), "Close") != calls.end();
    }
    void Open(CDeviceController* controller)
    {
        TestDevice::last = nullptr;
        controller->OpenDevice(CDeviceDescriptor("camera-1", "Test camera"));
        ASSERT_NE(TestDevice::last, nullptr);
        TestDevice::last->WaitIdle();
    }
    const std::string graph = Graph("<Module name=\"DeviceController\"/><Module name=\"ErrorViewer\"/>",
                                    "<Connection srcModule=\"DeviceController\" srcPort=\"0\" "
                                    "dstModule=\"ErrorViewer\" dstPort=\"1\"/>");
};

TEST_F(ConnectTest, ConnectDoesNotReadTheFileAgain)
{
    CLauncher& l = Make(graph);
    ASSERT_TRUE(l.Initialize());
    Controller();
    WriteFile(file, "<broken");
    // The stand-in is no CConfigurator: the device is opened, then closed.
    TestDevice::last = nullptr;
    EXPECT_FALSE(l.Connect(CDeviceDescriptor("camera-1", "Test camera")));
    EXPECT_EQ(boxes.Count(), 0u) << boxes.All();
    EXPECT_FALSE(l.IsConnected());
    ASSERT_NE(TestDevice::last, nullptr);
    TestDevice::last->WaitIdle();
    const auto calls = TestDevice::last->Calls();
    EXPECT_NE(std::find(calls.begin(), calls.end(), "Open camera-1"), calls.end());
}

TEST_F(ConnectTest, ConnectInitialisesFirstAndStopsOnItsFailure)
{
    CLauncher& l = Make("<broken");
    EXPECT_FALSE(l.Connect(CDeviceDescriptor("camera-1", "")));
    EXPECT_EQ(boxes.Count(), 1u);
    EXPECT_FALSE(l.GetFactory().Contains("DeviceController"));
}

TEST_F(ConnectTest, OpenFailureIsShown)
{
    CLauncher& l = Make(graph);
    // No camera layer in this build without a plug-in: OpenDevice raises.
    EXPECT_FALSE(l.Connect(CDeviceDescriptor("camera-1", "")));
    EXPECT_TRUE(l.IsInitialised());
    EXPECT_EQ(boxes.Count(), 1u);
}

TEST_F(ConnectTest, DisconnectClosesTheDeviceRepeatedly)
{
    CLauncher& l = Make(graph);
    ASSERT_TRUE(l.Initialize());
    CDeviceController* controller = Controller();
    for (int i = 0; i < 50; ++i) {
        Open(controller);
        ASSERT_TRUE(controller->HasDevice());
        l.Disconnect();
        EXPECT_TRUE(Closed(controller)) << i;
        EXPECT_FALSE(l.IsDisconnecting());
        EXPECT_FALSE(l.IsConnected());
    }
    EXPECT_EQ(boxes.Count(), 0u) << boxes.All();
    EXPECT_EQ(l.GetLinker().GetLinkCount(), 1u);
}

TEST_F(ConnectTest, DisconnectWhileGrabbingStopsFirst)
{
    CLauncher& l = Make(graph);
    ASSERT_TRUE(l.Initialize());
    CDeviceController* controller = Controller();
    Open(controller);
    TestDevice* device = TestDevice::last;
    uint8_t start = 1;
    controller->Push(1, CRegisterRequest::Write(0, &start, 1).GetPacket());
    device->WaitIdle();
    ASSERT_EQ(controller->GetState(), 2);
    l.Disconnect();
    EXPECT_TRUE(Closed(controller));
    const auto calls = device->Calls();
    EXPECT_NE(std::find(calls.begin(), calls.end(), "StopContinuousGrab"), calls.end());
    EXPECT_EQ(boxes.Count(), 0u) << boxes.All();
}

TEST_F(ConnectTest, DisconnectShowsACloseFailure)
{
    CLauncher& l = Make(graph);
    ASSERT_TRUE(l.Initialize());
    CDeviceController* controller = Controller();
    Open(controller);
    TestDevice::last->FailNext("Close");
    l.Disconnect();
    EXPECT_EQ(boxes.Count(), 1u);
    EXPECT_FALSE(l.IsDisconnecting());
}

// Disconnect on the GUI thread of a Qt application: it keeps dispatching
// events while the disconnector works, and a quit request ends the wait.
class QtDisconnectTest : public ConnectTest {
protected:
    void SetUp() override
    {
        ConnectTest::SetUp();
        application = std::make_unique<QCoreApplication>(argc, argv);
    }
    void TearDown() override
    {
        ConnectTest::TearDown();
        application.reset();
    }
    // A grabbing device whose reports wait: the disconnector's stop cannot
    // finish until the device is resumed.
    TestDevice* GrabbingHeldDevice(CLauncher& l)
    {
        EXPECT_TRUE(l.Initialize()) << boxes.All();
        CDeviceController* controller = Controller();
        Open(controller);
        TestDevice* device = TestDevice::last;
        uint8_t start = 1;
        controller->Push(1, CRegisterRequest::Write(0, &start, 1).GetPacket());
        device->WaitIdle();
        EXPECT_EQ(controller->GetState(), 2);
        device->Hold();
        return device;
    }

    int argc = 1;
    char name[8] = "tests";
    char* argv[2] = {name, nullptr};
    std::unique_ptr<QCoreApplication> application;
};

TEST_F(QtDisconnectTest, EventsAreDispatchedWhileTheDisconnectorWaits)
{
    CLauncher& l = Make(graph);
    TestDevice* device = GrabbingHeldDevice(l);
    bool dispatched = false;
    QTimer::singleShot(0, [&] {
        dispatched = true;
        EXPECT_TRUE(l.IsDisconnecting());
        // Only now can the stop, and with it the disconnector, finish.
        device->Resume();
    });
    l.Disconnect();
    EXPECT_TRUE(dispatched);
    EXPECT_FALSE(l.IsDisconnecting());
    CDeviceController* controller = Controller();
    EXPECT_TRUE(Closed(controller));
    EXPECT_EQ(boxes.Count(), 0u) << boxes.All();
}

TEST_F(QtDisconnectTest, AQuitRequestEndsTheWait)
{
    CLauncher& l = Make(graph);
    TestDevice* device = GrabbingHeldDevice(l);
    bool returned = false;
    QTimer::singleShot(0, [&] {
        QTimer::singleShot(0, [] { QCoreApplication::quit(); });
        l.Disconnect();
        returned = true;
        // The disconnector is still waiting for the held device.
        const auto calls = device->Calls();
        EXPECT_EQ(std::find(calls.begin(), calls.end(), "Close"), calls.end());
        EXPECT_FALSE(l.IsDisconnecting());
        EXPECT_FALSE(l.IsConnected());
    });
    QCoreApplication::exec();
    EXPECT_TRUE(returned);
    // The abandoned disconnector finishes its close once the device goes on;
    // the launcher waits for it before releasing the components.
    device->Resume();
    launcher.reset();
    EXPECT_EQ(boxes.Count(), 0u) << boxes.All();
}

} // namespace
