// The Launcher executable as a user starts it: offscreen Qt, the Java GUI on
// the display, settings in a private home.
#include "StartUp.h"
#include "mainframe/QtTestApp.h"

#include "Platform/ProcessInfo.h"

#include "support/TestPaths.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <sstream>
#include <thread>

using namespace TavTest;

namespace {

class LauncherProcessTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        App();
        char pattern[] = "/tmp/tavprocessXXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        home = pattern;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HOME", QString::fromStdString(home));
        environment.insert("XDG_CONFIG_HOME", QString::fromStdString(home + "/config"));
        environment.insert("XDG_RUNTIME_DIR", QString::fromStdString(home));
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        environment.insert("TAV_UNATTENDED", "1");
        environment.remove("TAV_SIM1394");
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(QString::fromStdString(home));
        process.setProgram(QString::fromStdString(Tav::Platform::ExecutableDirectory() + "/Launcher"));
    }
    void TearDown() override
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(10000);
        }
        std::system(("rm -rf '" + home + "'").c_str());
    }

    void Start(const QStringList& arguments)
    {
        process.setArguments(arguments);
        process.start();
        ASSERT_TRUE(process.waitForStarted(10000));
    }
    // The exit code, or -1 when the process did not end normally in time.
    int Finish(int timeoutMs = 90000)
    {
        if (!process.waitForFinished(timeoutMs) || process.exitStatus() != QProcess::NormalExit)
            return -1;
        return process.exitCode();
    }
    std::string Errors() { return process.readAllStandardError().toStdString(); }
    bool NeedsDisplay()
    {
        return std::getenv("DISPLAY") != nullptr;
    }
    // True once the process has its own SIGTERM handler (10 s at most).
    // Another process offers no event to wait on: its status is polled.
    bool WaitForSignalHandler()
    {
        const std::string status = "/proc/" + std::to_string(process.processId()) + "/status";
        for (int i = 0; i < 1000; ++i) {
            std::ifstream file(status);
            std::string line;
            while (std::getline(file, line)) {
                if (line.rfind("SigCgt:", 0) == 0) {
                    const unsigned long long caught = std::stoull(line.substr(7), nullptr, 16);
                    if (caught & (1ull << (SIGTERM - 1)))
                        return true;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    std::string home;
    QProcess process;
};

} // namespace

TEST_F(LauncherProcessTest, HelpShowsTheUsageBoxAndEndsWithZero)
{
    const std::string box = "[Help]\n" + Tav::GetUsageText();
    for (const QStringList& arguments : {QStringList{"-h"}, QStringList{"-?"}, QStringList{"-help"},
                                         QStringList{"-h", "-connections", "missing.xml"}}) {
        Start(arguments);
        EXPECT_EQ(Finish(30000), 0) << arguments.join(' ').toStdString();
        const std::string errors = Errors();
        EXPECT_NE(errors.find(box), std::string::npos) << errors;
    }
}

TEST_F(LauncherProcessTest, ABrokenConnectionFileIsShownAndEndsWithZero)
{
    if (!NeedsDisplay())
        GTEST_SKIP() << "the Java GUI needs an X display";
    WriteFile(home + "/broken.xml", "<Launcher><Modules>");
    // -H is no help request: the start goes on and fails on the file.
    Start({"-H", "-connections", "broken.xml"});
    EXPECT_EQ(Finish(), 0);
    const std::string errors = Errors();
    EXPECT_EQ(errors.find("[Help]"), std::string::npos) << errors;
    EXPECT_NE(errors.find("[Error]"), std::string::npos) << errors;
    EXPECT_NE(errors.find("broken.xml"), std::string::npos) << errors;
}

TEST_F(LauncherProcessTest, SigtermClosesAsExitDoesAndKeepsThePlacement)
{
    if (!NeedsDisplay())
        GTEST_SKIP() << "the Java GUI needs an X display";
    Start({});
    ASSERT_TRUE(WaitForSignalHandler());
    ::kill(pid_t(process.processId()), SIGTERM);
    EXPECT_EQ(Finish(), 1) << Errors();

    std::ifstream file(home + "/config/Quarlo/Tav.conf");
    ASSERT_TRUE(file.good());
    std::stringstream settings;
    settings << file.rdbuf();
    const std::string text = settings.str();
    const size_t launcher = text.find("[Launcher]");
    ASSERT_NE(launcher, std::string::npos) << text;
    for (const char* value : {"left=", "top=", "right=", "bottom=", "showCmd=1"})
        EXPECT_NE(text.find(value, launcher), std::string::npos) << value << "\n" << text;
    for (const char* viewer : {"[Configurator]", "[FpsViewer]", "[ImageViewer]"})
        EXPECT_NE(text.find(viewer), std::string::npos) << viewer << "\n" << text;
}
