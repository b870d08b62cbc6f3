// The test hook that writes what the windows show.
#include "UiProbe.h"
#include "mainframe/QtTestApp.h"

#include "support/TestPaths.h"

#include <QCheckBox>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QPushButton>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <unistd.h>

using namespace Tav;
using namespace TavTest;

namespace {

std::string ReadAll(const std::string& name)
{
    std::ifstream file(name);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

bool HasLineStartingWith(const std::string& text, const std::string& start)
{
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind(start, 0) == 0)
            return true;
    }
    return false;
}

} // namespace

TEST(UiProbeTest, SnapshotListsVisibleWindowsTheirControlsAndMenuItems)
{
    App();
    QMainWindow window;
    window.setObjectName("probeWindow");
    window.setWindowTitle("Probe title");
    window.menuBar()->addMenu("&File");
    auto* central = new QWidget(&window);
    window.setCentralWidget(central);
    auto* label = new QLabel("two\nlines \\ back", central);
    label->setObjectName("status");
    label->setGeometry(10, 10, 100, 30);
    auto* box = new QCheckBox("Grab", central);
    box->setGeometry(10, 50, 100, 20);
    box->setChecked(true);
    auto* button = new QPushButton("&Go", central);
    button->setObjectName("goButton");
    button->setGeometry(10, 80, 60, 20);
    button->setEnabled(false);
    auto* hidden = new QLabel("hidden", central);
    hidden->setObjectName("hiddenLabel");
    hidden->hide();
    QWidget invisible;
    invisible.setObjectName("notShown");
    window.setGeometry(100, 120, 300, 200);
    window.show();

    const std::string text = CUiProbe::Snapshot();
    EXPECT_TRUE(HasLineStartingWith(text, "window probeWindow QMainWindow ")) << text;
    EXPECT_NE(text.find(" Probe title\n"), std::string::npos) << text;
    EXPECT_NE(text.find("widget status QLabel "), std::string::npos) << text;
    EXPECT_NE(text.find(" two\\nlines \\\\ back\n"), std::string::npos) << text;
    EXPECT_NE(text.find("widget - QCheckBox "), std::string::npos) << text;
    EXPECT_NE(text.find(" 1 1 Grab\n"), std::string::npos) << text;
    EXPECT_NE(text.find("widget goButton QPushButton "), std::string::npos) << text;
    EXPECT_NE(text.find(" 0 0 &Go\n"), std::string::npos) << text;
    EXPECT_NE(text.find(" &File\n"), std::string::npos) << text;
    EXPECT_TRUE(HasLineStartingWith(text, "action - ")) << text;
    EXPECT_EQ(text.find("hiddenLabel"), std::string::npos) << text;
    EXPECT_EQ(text.find("notShown"), std::string::npos) << text;

    // Geometry is on the screen: the label sits inside the window.
    const QPoint origin = label->mapToGlobal(QPoint(0, 0));
    std::ostringstream expected;
    expected << "widget status QLabel " << origin.x() << ' ' << origin.y() << " 100 30 1 0 ";
    EXPECT_NE(text.find(expected.str()), std::string::npos) << expected.str() << "\n" << text;
}

TEST(UiProbeTest, FilesAreReplacedWholeAndTheVariableTurnsItOn)
{
    App();
    char pattern[] = "/tmp/tavprobeXXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string directory = pattern;
    const std::string file = directory + "/probe.txt";

    ASSERT_TRUE(CUiProbe::WriteFileAtomically(file, "first, longer text\n"));
    ASSERT_TRUE(CUiProbe::WriteFileAtomically(file, "second\n"));
    EXPECT_EQ(ReadAll(file), "second\n");
    EXPECT_NE(access((file + ".tmp").c_str(), F_OK), 0);
    EXPECT_FALSE(CUiProbe::WriteFileAtomically(directory + "/missing/probe.txt", "x"));

    unsetenv(CUiProbe::Variable);
    EXPECT_EQ(CUiProbe::FromEnvironment(), nullptr);
    setenv(CUiProbe::Variable, file.c_str(), 1);
    auto probe = CUiProbe::FromEnvironment();
    unsetenv(CUiProbe::Variable);
    ASSERT_NE(probe, nullptr);
    QWidget window;
    window.setObjectName("probedNow");
    window.show();
    ASSERT_TRUE(probe->WriteNow());
    EXPECT_NE(ReadAll(file).find("window probedNow QWidget "), std::string::npos);
    probe.reset();
    std::system(("rm -rf '" + directory + "'").c_str());
}
