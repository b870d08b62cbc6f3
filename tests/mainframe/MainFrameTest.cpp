#include "AboutDlg.h"
#include "FpsViewer.h"
#include "ImageViewer.h"
#include "LauncherMessageLoop.h"
#include "LauncherView.h"
#include "MainFrame.h"
#include "QtTestApp.h"
#include "SettingsKey.h"

#include "Core/HalPlugin.h"
#include "Core/IViewer.h"
#include "Core/ModuleBase.h"

#include "support/TestPaths.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sys/stat.h>

using namespace Tav;
using namespace TavTest;

// Fontconfig keeps caches it never frees; they are not ours to report.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}

// Qt's raster engine works on threads of its own pool, synchronised with
// primitives the thread sanitizer cannot see (Qt is not instrumented).
extern "C" const char* __tsan_default_suppressions()
{
    return "race:libQt6Gui.so.6\n"
           "race:QRunnable::create\n"
           "race:QThreadPoolPrivate\n"
           "called_from_lib:libQt6Core.so.6\n";
}

namespace {

// The configuration GUI's stand-in: a viewer with a flag for a window.
class FakeConfigurator : public CModuleBase, public IViewer {
public:
    void OnInitialize() override
    {
        CModuleBase::OnInitialize();
        SetErrorPort(0);
        SetAuxiliaryPort(-1);
        for (int port : {1, 1024, 1025, 1026})
            AddOutputPort(port);
    }
    void OnData(int, const CSmartPointer<IPacket>&) override {}
    void Show() override
    {
        if (failShow)
            throw CCommonException(0xCEF00001, __LINE__, "MainFrameTest.cpp", "no window");
        visible = true;
    }
    void Hide() override { visible = false; }
    bool IsVisible() const override { return visible; }

    // Show fails while set.
    static inline bool failShow = false;

private:
    bool visible = false;
};

// A configurator that is no viewer.
class PlainConfigurator : public CModuleBase {
public:
    void OnInitialize() override
    {
        CModuleBase::OnInitialize();
        SetErrorPort(0);
    }
};

std::string Graph(const std::string& modules, const std::string& connections = "")
{
    return "<?xml version=\"1.0\"?>\n<Graph><Modules>" + modules + "</Modules><Connections>" + connections +
           "</Connections></Graph>\n";
}

const std::string viewerGraph = Graph("<Module name=\"DeviceController\"/><Module name=\"Decoupler\"/>"
                                      "<Module name=\"ImageViewer\"/><Module name=\"FpsViewer\"/>"
                                      "<Module name=\"Configurator\"/>",
                                      "<Connection srcModule=\"DeviceController\" srcPort=\"1\" "
                                      "dstModule=\"Decoupler\" dstPort=\"1\"/>"
                                      "<Connection srcModule=\"Decoupler\" srcPort=\"1\" dstModule=\"FpsViewer\" "
                                      "dstPort=\"1\"/>");

class MainFrameTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        App();
        ClearSettings();
        char pattern[] = "/tmp/tavmainframeXXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        directory = pattern;
        graphFile = directory + "/graph.xml";
        WriteFile(graphFile, viewerGraph);
        AddMessageLoop(&loop);
    }
    void TearDown() override
    {
        frame.reset();
        RemoveMessageLoop();
        halPluginName = nullptr;
        FakeConfigurator::failShow = false;
        std::remove(graphFile.c_str());
        ::rmdir(directory.c_str());
    }

    // A frame over `graphFile`, created (and shown when that worked).
    bool Start(const std::string& options = "", bool viewerConfigurator = true)
    {
        frame = std::make_unique<CMainFrame>(CCommandLine("Launcher -connections " + graphFile + " " + options),
                                             [viewerConfigurator]() -> IComponent* {
                                                 if (viewerConfigurator)
                                                     return new FakeConfigurator;
                                                 return new PlainConfigurator;
                                             });
        if (!frame->Create())
            return false;
        frame->show();
        Pump();
        return true;
    }
    // Closes the frame as the user does and releases it.
    void Close()
    {
        frame->close();
        frame.reset();
    }
    IViewer* Viewer(int id) { return frame->GetViewer(id); }
    bool Checked(int id) { return frame->Action(id)->isChecked(); }

    RecordedBoxes boxes;
    CLauncherMessageLoop loop;
    std::string directory;
    std::string graphFile;
    std::unique_ptr<CMainFrame> frame;
};

} // namespace

TEST_F(MainFrameTest, WithoutSettingsOpensAtTheCreationRectangleWithEveryViewer)
{
    ASSERT_TRUE(Start()) << boxes.AllTexts();
    EXPECT_EQ(frame->windowTitle(), "Launcher");
    EXPECT_EQ(frame->size(), QSize(271, 112));
    for (int id : {CMainFrame::IdImageViewer, CMainFrame::IdConfigurator, CMainFrame::IdFpsViewer}) {
        ASSERT_NE(Viewer(id), nullptr) << id;
        EXPECT_TRUE(Viewer(id)->IsVisible()) << id;
        EXPECT_TRUE(Checked(id)) << id;
    }
    EXPECT_NE(dynamic_cast<CImageViewer*>(Viewer(CMainFrame::IdImageViewer)), nullptr);
    EXPECT_NE(dynamic_cast<FakeConfigurator*>(Viewer(CMainFrame::IdConfigurator)), nullptr);
    EXPECT_NE(dynamic_cast<CFpsViewer*>(Viewer(CMainFrame::IdFpsViewer)), nullptr);
    EXPECT_TRUE(boxes.Taken().empty()) << boxes.AllTexts();
}

TEST_F(MainFrameTest, MenusCarryTheirTextsAndCommands)
{
    ASSERT_TRUE(Start());
    struct Item {
        const char* name;
        int id;
        const char* text;
    };
    for (const Item& item : {Item{"actionExit", 57665, "E&xit"}, Item{"actionConfigurator", 202, "&Configurator"},
                             Item{"actionImageViewer", 201, "&Image Viewer"}, Item{"actionFpsViewer", 203, "&FPS Viewer"},
                             Item{"actionHelp", 57670, "&Help Topics\tF1"},
                             Item{"actionAbout", 57664, "&About Launcher..."}}) {
        auto* action = frame->findChild<QAction*>(item.name);
        ASSERT_NE(action, nullptr) << item.name;
        EXPECT_EQ(action->data().toInt(), item.id) << item.name;
        EXPECT_EQ(action->text(), item.text) << item.name;
    }
    QStringList menus;
    for (QAction* menu : frame->menuBar()->actions())
        menus << menu->text();
    EXPECT_EQ(menus, (QStringList{"&File", "&View", "&Help"}));
    QStringList viewItems;
    for (QAction* item : frame->findChild<QMenu*>("menuView")->actions())
        viewItems << item->text();
    EXPECT_EQ(viewItems, (QStringList{"&Configurator", "&Image Viewer", "&FPS Viewer"}));
}

TEST_F(MainFrameTest, StoredHiddenFpsViewerStaysHiddenAndUnchecked)
{
    CSettingsKey(ComponentKeyPath("FpsViewer")).WriteDword("isVisible", 0);
    ASSERT_TRUE(Start());
    EXPECT_FALSE(Viewer(CMainFrame::IdFpsViewer)->IsVisible());
    EXPECT_FALSE(Checked(CMainFrame::IdFpsViewer));
    EXPECT_TRUE(Viewer(CMainFrame::IdImageViewer)->IsVisible());
}

TEST_F(MainFrameTest, ChoosingFpsViewerTwiceTogglesItAndItsCheckMark)
{
    ASSERT_TRUE(Start());
    QAction* item = frame->findChild<QAction*>("actionFpsViewer");
    item->trigger();
    EXPECT_FALSE(Viewer(CMainFrame::IdFpsViewer)->IsVisible());
    EXPECT_FALSE(item->isChecked());
    item->trigger();
    EXPECT_TRUE(Viewer(CMainFrame::IdFpsViewer)->IsVisible());
    EXPECT_TRUE(item->isChecked());
}

TEST_F(MainFrameTest, IdleTimeFollowsViewersClosedOnTheirOwn)
{
    ASSERT_TRUE(Start());
    auto* fps = dynamic_cast<CFpsViewer*>(Viewer(CMainFrame::IdFpsViewer));
    ASSERT_NE(fps, nullptr);
    fps->GetDialog().close();
    EXPECT_TRUE(Checked(CMainFrame::IdFpsViewer)); // not before the idle pass
    loop.OnIdle(0);
    EXPECT_FALSE(Checked(CMainFrame::IdFpsViewer));
}

TEST_F(MainFrameTest, CloseStoresVisibilityAndPlacementAndMaximisedSurvivesARestart)
{
    ASSERT_TRUE(Start());
    frame->findChild<QAction*>("actionImageViewer")->trigger(); // hidden
    frame->setGeometry(QRect(40, 50, 300, 120));
    Pump();
    const QRect normal = frame->normalGeometry();
    frame->showMaximized();
    Pump();
    ASSERT_TRUE(frame->isMaximized());
    Close();

    CSettingsKey key(CMainFrame::PlacementKey);
    EXPECT_EQ(key.ReadDword("showCmd"), 3u);
    EXPECT_EQ(key.ReadDword("left"), uint32_t(normal.left()));
    EXPECT_EQ(key.ReadDword("right"), uint32_t(normal.left() + normal.width()));
    EXPECT_EQ(CSettingsKey(ComponentKeyPath("ImageViewer")).ReadDword("isVisible"), 0u);
    EXPECT_EQ(CSettingsKey(ComponentKeyPath("FpsViewer")).ReadDword("isVisible"), 1u);
    EXPECT_EQ(CSettingsKey(ComponentKeyPath("Configurator")).ReadDword("isVisible"), 1u);

    ASSERT_TRUE(Start());
    EXPECT_TRUE(frame->isMaximized());
    EXPECT_EQ(frame->normalGeometry(), normal);
    EXPECT_FALSE(Viewer(CMainFrame::IdImageViewer)->IsVisible());
}

TEST_F(MainFrameTest, ExitEndsTheLoopWithOne)
{
    ASSERT_TRUE(Start());
    QTimer::singleShot(0, frame.get(), [this] { frame->findChild<QAction*>("actionExit")->trigger(); });
    EXPECT_EQ(loop.Run(), 1);
    EXPECT_FALSE(frame->isVisible());
    EXPECT_EQ(CSettingsKey(CMainFrame::PlacementKey).ReadDword("showCmd"), 1u);
}

TEST_F(MainFrameTest, AGraphWithoutFpsViewerStillGetsOne)
{
    WriteFile(graphFile, Graph("<Module name=\"Decoupler\"/>"));
    ASSERT_TRUE(Start()) << boxes.AllTexts();
    EXPECT_TRUE(frame->GetLauncher().GetFactory().Contains("FpsViewer"));
    EXPECT_NE(dynamic_cast<CFpsViewer*>(Viewer(CMainFrame::IdFpsViewer)), nullptr);
}

TEST_F(MainFrameTest, FailuresOfTheStartAreShownAndKeepTheWindowUncreated)
{
    WriteFile(graphFile, "<not xml");
    EXPECT_FALSE(Start());
    ASSERT_EQ(boxes.Taken().size(), 1u);
    EXPECT_FALSE(frame->isVisible());
    // Nothing was stored for a window that never opened.
    frame.reset();
    EXPECT_FALSE(CSettingsKey(CMainFrame::PlacementKey).ReadDword("left").has_value());

    WriteFile(graphFile, viewerGraph);
    EXPECT_FALSE(Start("", false));
    ASSERT_EQ(boxes.Taken().size(), 2u);
    EXPECT_NE(boxes.Taken()[1].text.find("The component 'Configurator' is not a valid viewer"), std::string::npos)
        << boxes.AllTexts();
}

TEST_F(MainFrameTest, AViewerThatCannotBeShownIsAnError)
{
    // From the View menu: shown, the window goes on.
    CSettingsKey(ComponentKeyPath("Configurator")).WriteDword("isVisible", 0);
    ASSERT_TRUE(Start());
    FakeConfigurator::failShow = true;
    frame->findChild<QAction*>("actionConfigurator")->trigger();
    ASSERT_EQ(boxes.Taken().size(), 1u);
    EXPECT_NE(boxes.Taken()[0].text.find("no window"), std::string::npos) << boxes.AllTexts();
    EXPECT_FALSE(Checked(CMainFrame::IdConfigurator));
    Close();
    // At the start: the window is not created.
    CSettingsKey(ComponentKeyPath("Configurator")).WriteDword("isVisible", 1);
    EXPECT_FALSE(Start());
    EXPECT_EQ(boxes.Taken().size(), 2u);
}

TEST_F(MainFrameTest, SaperaListsExactlyOneFrameGrabber)
{
    ASSERT_TRUE(Start("-saperahal"));
    ASSERT_STREQ(halPluginName, "SaperaHal.dll");
    CLauncherView* view = frame->GetView();
    ASSERT_EQ(view->DeviceList()->count(), 1);
    EXPECT_EQ(view->DeviceList()->itemText(0), "X64 - 1");
    EXPECT_EQ(view->DeviceList()->currentIndex(), 0);
    ASSERT_EQ(view->GetDevices().size(), 1u);
    EXPECT_EQ(view->GetDevices()[0].GetDescription(), "X64 - 1");
}

TEST_F(MainFrameTest, APluginListsItsDevicesAndAMissingOneIsShown)
{
    frame = std::make_unique<CMainFrame>(CCommandLine("Launcher -kvhal -connections " + graphFile),
                                         [] { return new FakeConfigurator; });
    ASSERT_STREQ(halPluginName, "KvHal.dll");
    ASSERT_TRUE(frame->Create());
    // No such library here: the load error, an empty list, no Connect.
    EXPECT_EQ(frame->GetView()->DeviceList()->count(), 0);
    ASSERT_EQ(boxes.Taken().size(), 1u);
    EXPECT_FALSE(frame->GetView()->ConnectButton()->isEnabled());

    halPluginName = "TestHalGood.dll";
    frame->GetView()->RescanButton()->click();
    ASSERT_EQ(frame->GetView()->DeviceList()->count(), 2);
    EXPECT_EQ(frame->GetView()->DeviceList()->itemText(0), "First plug-in camera");
    EXPECT_EQ(frame->GetView()->DeviceList()->itemText(1), "Second plug-in camera");
    EXPECT_EQ(frame->GetView()->GetDevices()[1].GetName(), "plugin-1");
}

TEST(MainFrameHelp, FoundNextToTheProgramFirstThenInTheDataFolder)
{
    char pattern[] = "/tmp/tavhelpXXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string bin = std::string(pattern) + "/bin";
    const std::string data = std::string(pattern) + "/share/tav";
    ASSERT_EQ(::mkdir(bin.c_str(), 0700), 0);
    ASSERT_EQ(::mkdir((std::string(pattern) + "/share").c_str(), 0700), 0);
    ASSERT_EQ(::mkdir(data.c_str(), 0700), 0);
    EXPECT_EQ(CMainFrame::FindHelpFile(bin), "");
    WriteFile(data + "/Launcher_Help.html", "<html></html>");
    EXPECT_EQ(CMainFrame::FindHelpFile(bin), bin + "/../share/tav/Launcher_Help.html");
    WriteFile(bin + "/Launcher_Help.html", "<html></html>");
    EXPECT_EQ(CMainFrame::FindHelpFile(bin), bin + "/Launcher_Help.html");
    // A folder of that name is no help page.
    std::remove((bin + "/Launcher_Help.html").c_str());
    ASSERT_EQ(::mkdir((bin + "/Launcher_Help.html").c_str(), 0700), 0);
    EXPECT_EQ(CMainFrame::FindHelpFile(bin), bin + "/../share/tav/Launcher_Help.html");
    ::rmdir((bin + "/Launcher_Help.html").c_str());
    std::remove((data + "/Launcher_Help.html").c_str());
    ::rmdir(data.c_str());
    ::rmdir((std::string(pattern) + "/share").c_str());
    ::rmdir(bin.c_str());
    ::rmdir(pattern);
}

TEST_F(MainFrameTest, HelpThatCannotBeOpenedIsAWarning)
{
    ASSERT_TRUE(Start());
    std::vector<QUrl> opened;
    frame->openUrl = [&](const QUrl& url) {
        opened.push_back(url);
        return false;
    };
    frame->findChild<QAction*>("actionHelp")->trigger();
    ASSERT_EQ(boxes.Taken().size(), 1u);
    EXPECT_EQ(boxes.Taken()[0].text, "Cannot find help file 'Launcher_Help.html'");
    EXPECT_EQ(boxes.Taken()[0].caption, "Error");
    EXPECT_EQ(boxes.Taken()[0].icon, Platform::MessageBoxIcon::Warning);
    for (const QUrl& url : opened)
        EXPECT_TRUE(url.isLocalFile() && url.toLocalFile().endsWith("/Launcher_Help.html")) << url.toString().toStdString();
}

TEST(AboutBox, ShowsTheVersionAndEndsWithOkOrCancel)
{
    App();
    CAboutDlg about(nullptr);
    EXPECT_EQ(about.windowTitle(), "About");
    EXPECT_EQ(about.GetVersionText(), "01.01.0237");
    EXPECT_EQ(about.findChild<QLabel*>("version")->text(), "01.01.0237");
    EXPECT_EQ(about.findChild<QLabel*>("applicationName")->text(), "Launcher Application");
    QTimer::singleShot(0, &about, [&] { about.findChild<QPushButton*>("okButton")->click(); });
    EXPECT_EQ(about.exec(), 1);
    QTimer::singleShot(0, &about, [&] { about.reject(); });
    EXPECT_EQ(about.exec(), 2);
}
