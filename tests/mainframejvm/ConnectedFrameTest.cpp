// The main window over a real configurator in a Java VM, against the test
// GUI: connecting needs it. One VM for the whole program.
#include "JvmLoader.h"
#include "LauncherMessageLoop.h"
#include "LauncherView.h"
#include "MainFrame.h"
#include "SettingsKey.h"
#include "mainframe/QtTestApp.h"

#include "Core/Configurator.h"
#include "Core/DeviceController.h"

#include "support/TestDevice.h"
#include "support/TestPaths.h"

#include <QComboBox>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace Tav;
using namespace TavTest;

// The VM takes SIGSEGV for its own checks and keeps its memory to the end.
extern "C" const char* __asan_default_options()
{
    return "handle_segv=0:allow_user_segv_handler=1:detect_leaks=0";
}

namespace {

CJvmLoader* Jvm()
{
    static CJvmLoader* loader = [] {
        setenv("TAV_UNATTENDED", "1", 1);
        auto* l = new CJvmLoader;
        return l->CreateJavaVM(std::string(TAV_TEST_JAR) + ";" + TAV_ZEL_JAR) ? l : nullptr;
    }();
    return loader;
}

const char* const graph = "<?xml version=\"1.0\"?>\n<Graph><Modules><Module name=\"DeviceController\"/>"
                          "<Module name=\"Decoupler\"/><Module name=\"FpsViewer\"/><Module name=\"Configurator\"/>"
                          "</Modules><Connections>"
                          "<Connection srcModule=\"DeviceController\" srcPort=\"1\" dstModule=\"Decoupler\" "
                          "dstPort=\"1\"/><Connection srcModule=\"Decoupler\" srcPort=\"1\" "
                          "dstModule=\"FpsViewer\" dstPort=\"1\"/><Connection srcModule=\"Configurator\" "
                          "srcPort=\"1\" dstModule=\"DeviceController\" dstPort=\"1\"/><Connection "
                          "srcModule=\"DeviceController\" srcPort=\"2\" dstModule=\"Configurator\" dstPort=\"1\"/>"
                          "</Connections></Graph>\n";

class ConnectedFrameTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        App();
        ClearSettings();
        if (!std::getenv("DISPLAY"))
            GTEST_SKIP() << "the Java GUI needs an X display";
        ASSERT_NE(Jvm(), nullptr);
        char pattern[] = "/tmp/tavconnectedXXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        directory = pattern;
        graphFile = directory + "/graph.xml";
        WriteFile(graphFile, graph);
        AddMessageLoop(&loop);
        frame = std::make_unique<CMainFrame>(CCommandLine("Launcher -configfile camera.xml -connections " + graphFile),
                                             [] {
                                                 return new CConfigurator(Jvm()->GetJavaVM(), "tavtest/TestGui",
                                                                          Jvm()->GetRuntimeDirectory());
                                             });
        ASSERT_TRUE(frame->Create());
        frame->show();
        Pump();
        controller = dynamic_cast<CDeviceController*>(frame->GetLauncher().GetFactory().GetObject("DeviceController"));
        ASSERT_NE(controller, nullptr);
        controller->SetBuiltInDevice(&TestDevice::OpenTestDevice);
        view = frame->GetView();
    }

    void TearDown() override
    {
        // Releasing the configurator closes the GUI while the loop still
        // belongs to this thread.
        frame.reset();
        RemoveMessageLoop();
        if (!graphFile.empty()) {
            std::remove(graphFile.c_str());
            ::rmdir(directory.c_str());
        }
    }

    RecordedBoxes boxes;
    CLauncherMessageLoop loop;
    std::string directory;
    std::string graphFile;
    std::unique_ptr<CMainFrame> frame;
    CDeviceController* controller = nullptr;
    CLauncherView* view = nullptr;
};

} // namespace


TEST_F(ConnectedFrameTest, ButtonsFollowTheConnection)
{
    // The simulated driver's three cameras, the first one selected.
    ASSERT_EQ(view->GetDevices().size(), 3u);
    EXPECT_EQ(view->DeviceList()->count(), 3);
    EXPECT_EQ(view->DeviceList()->currentIndex(), 0);
    EXPECT_TRUE(view->ConnectButton()->isEnabled());
    EXPECT_FALSE(view->DisconnectButton()->isEnabled());
    EXPECT_TRUE(view->RescanButton()->isEnabled());

    view->DeviceList()->setCurrentIndex(1);
    view->ConnectButton()->click();
    ASSERT_TRUE(frame->GetLauncher().IsConnected()) << boxes.AllTexts();
    ASSERT_NE(TestDevice::last, nullptr);
    EXPECT_TRUE(TestDevice::last->WaitForCall("Open " + view->GetDevices()[1].GetName()));
    EXPECT_FALSE(QApplication::overrideCursor()); // the wait cursor is gone again
    loop.OnIdle(0);
    EXPECT_FALSE(view->ConnectButton()->isEnabled());
    EXPECT_TRUE(view->DisconnectButton()->isEnabled());
    EXPECT_FALSE(view->RescanButton()->isEnabled());
    EXPECT_FALSE(view->DeviceList()->isEnabled());

    view->DisconnectButton()->click();
    EXPECT_FALSE(frame->GetLauncher().IsConnected());
    loop.OnIdle(0);
    EXPECT_TRUE(view->ConnectButton()->isEnabled());
    EXPECT_FALSE(view->DisconnectButton()->isEnabled());
    EXPECT_TRUE(view->RescanButton()->isEnabled());
    EXPECT_TRUE(view->DeviceList()->isEnabled());
}

TEST_F(ConnectedFrameTest, CloseIsSwallowedWhileDisconnecting)
{
    ASSERT_TRUE(frame->GetLauncher().Connect(CDeviceDescriptor("camera-1", "Test camera")));
    TestDevice* device = TestDevice::last;
    device->WaitIdle();
    device->Report(2); // grabbing: closing waits for the stop, which is held
    device->WaitIdle();
    device->Hold();
    bool closed = true, disconnecting = false, viewEnabled = true;
    QTimer::singleShot(0, frame.get(), [&] {
        disconnecting = frame->GetLauncher().IsDisconnecting();
        viewEnabled = view->isEnabled();
        closed = frame->close();
        device->Resume();
    });
    view->Disconnect();
    EXPECT_TRUE(disconnecting);
    EXPECT_FALSE(viewEnabled);
    EXPECT_FALSE(closed);
    EXPECT_TRUE(frame->isVisible());
    EXPECT_TRUE(view->isEnabled());
    EXPECT_FALSE(frame->GetLauncher().IsConnected());
}

TEST_F(ConnectedFrameTest, ASignalledCloseWaitsForTheDisconnect)
{
    ASSERT_TRUE(frame->GetLauncher().Connect(CDeviceDescriptor("camera-1", "Test camera")));
    TestDevice* device = TestDevice::last;
    device->WaitIdle();
    device->Report(2);
    device->WaitIdle();
    device->Hold();
    QTimer::singleShot(0, frame.get(), [&] {
        frame->RequestClose();
        device->Resume();
    });
    view->Disconnect();
    EXPECT_TRUE(frame->isVisible());
    loop.OnIdle(0);
    EXPECT_FALSE(frame->isVisible());
    EXPECT_EQ(CSettingsKey(CMainFrame::PlacementKey).ReadDword("showCmd"), 1u);
}

TEST_F(ConnectedFrameTest, ClosingWhileConnectedDisconnects)
{
    ASSERT_TRUE(frame->GetLauncher().Connect(CDeviceDescriptor("camera-1", "Test camera")));
    TestDevice::last->WaitIdle();
    EXPECT_TRUE(frame->close());
    EXPECT_FALSE(frame->GetLauncher().IsConnected());
    EXPECT_TRUE(TestDevice::last->WaitForCall("Close"));
    TestDevice::last->WaitIdle();
    EXPECT_EQ(controller->GetState(), 0);
}


