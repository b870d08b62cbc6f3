// The launcher with its real Java VM and configurator, against the test GUI.
// One VM per process: every test of this program shares the one launcher.

#include "Launcher.h"

#include "Core/Configurator.h"
#include "Core/DeviceController.h"
#include "Core/DeviceDescriptor.h"
#include "Platform/MessageBox.h"

#include "support/TestDevice.h"
#include "support/TestPaths.h"

#include <gtest/gtest.h>

#include <jni.h>

using namespace Tav;
using namespace TavTest;

// The VM takes SIGSEGV for its own checks and keeps its memory to the end:
// AddressSanitizer must leave both alone in this program.
extern "C" const char* __asan_default_options()
{
    return "handle_segv=0:allow_user_segv_handler=1:detect_leaks=0";
}

namespace {

const char* const graphFile = "LauncherJvmTestGraph.xml";

CLauncher& Launcher()
{
    static CLauncher* launcher = [] {
        setenv("TAV_UNATTENDED", "1", 1);
        WriteFile(graphFile, "<Graph><Modules><Module name=\"DeviceController\"/><Module name=\"Configurator\"/>"
                             "<Module name=\"ErrorViewer\"/></Modules><Connections>"
                             "<Connection srcModule=\"DeviceController\" srcPort=\"2\" dstModule=\"Configurator\" "
                             "dstPort=\"1\"/><Connection srcModule=\"Configurator\" srcPort=\"1\" "
                             "dstModule=\"DeviceController\" dstPort=\"1\"/><Connection "
                             "srcModule=\"DeviceController\" srcPort=\"0\" dstModule=\"ErrorViewer\" "
                             "dstPort=\"1\"/></Connections></Graph>");
        // Kept to the end of the process: the VM cannot be created twice.
        return new CLauncher(CCommandLine(std::string("Launcher -classpath ") + TAV_TEST_JAR +
                                          " -classname tavtest.TestGui -configfile camera.xml -connections " +
                                          graphFile));
    }();
    return *launcher;
}

std::string GuiCalls(CConfigurator& configurator)
{
    JNIEnv* env = configurator.GetEnv();
    jclass gui = env->FindClass("tavtest/TestGui");
    auto text = static_cast<jstring>(
        env->CallStaticObjectMethod(gui, env->GetStaticMethodID(gui, "calls", "()Ljava/lang/String;")));
    const char* chars = env->GetStringUTFChars(text, nullptr);
    std::string result(chars);
    env->ReleaseStringUTFChars(text, chars);
    return result;
}

size_t Occurrences(const std::string& text, const std::string& part)
{
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

} // namespace

TEST(LauncherJvm, InitializeConnectDisconnect)
{
    CLauncher& launcher = Launcher();
    ASSERT_TRUE(launcher.Initialize());
    auto* controller = dynamic_cast<CDeviceController*>(launcher.GetFactory().GetObject("DeviceController"));
    ASSERT_NE(controller, nullptr);
    controller->SetBuiltInDevice(&TestDevice::OpenTestDevice);

    for (int i = 0; i < 50; ++i) {
        ASSERT_TRUE(launcher.Connect(CDeviceDescriptor("camera-1", "Test camera"))) << i;
        EXPECT_TRUE(launcher.IsConnected());
        EXPECT_TRUE(controller->HasDevice());
        TestDevice::last->WaitIdle(); // the device reports itself open later
        EXPECT_EQ(controller->GetState(), 1);
        launcher.Disconnect();
        EXPECT_FALSE(launcher.IsConnected());
        TestDevice::last->WaitIdle(); // the close is reported from the device's thread
        EXPECT_EQ(controller->GetState(), 0);
    }
    auto* configurator = dynamic_cast<CConfigurator*>(launcher.GetFactory().GetObject("Configurator"));
    ASSERT_NE(configurator, nullptr);
    const std::string calls = GuiCalls(*configurator);
    EXPECT_EQ(Occurrences(calls, "Attach camera.xml\n"), 50u) << calls;
    EXPECT_EQ(Occurrences(calls, "Detach\n"), 50u) << calls;
    EXPECT_LT(calls.find("Attach camera.xml"), calls.find("Detach"));
}
