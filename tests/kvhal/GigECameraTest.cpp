// The GenICam plug-in against Aravis' GigE Vision camera simulator, run on
// 127.0.0.1 inside a private network namespace so that discovery never
// leaves this process's own loopback.
//
// GigE.InPrivateNetworkNamespace runs this program again under
// "unshare -rn" with the GigEInside tests; they skip anywhere else.
#include "KvHalSupport.h"

#include <arv.h>

#include <net/if.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

extern char** environ;

using namespace Tav;
using namespace TavTest;

namespace {

const char* const plugIn = "KvHal.dll";
const char* const insideVariable = "TAV_KVHAL_NETNS";

bool InsidePrivateNetwork()
{
    const char* value = std::getenv(insideVariable);
    return value && std::string(value) == "1";
}

std::string ExecutablePath()
{
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, size_t(n)) : std::string();
}

// Runs `arguments` with stdout and stderr into `output`; the exit status,
// or -1 when it could not run.
int RunProgram(const std::vector<std::string>& arguments, std::string& output)
{
    char outputName[] = "/tmp/tav-kvhal-XXXXXX";
    const int file = mkstemp(outputName);
    if (file < 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, file, 1);
    posix_spawn_file_actions_adddup2(&actions, file, 2);
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t child = 0;
    int status = -1;
    if (posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ) == 0 &&
        waitpid(child, &status, 0) == child)
        status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    else
        status = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(file);
    std::ifstream in(outputName);
    output.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    std::remove(outputName);
    return status;
}

bool BringLoopbackUp()
{
    const int s = socket(AF_INET, SOCK_DGRAM, 0);
    if (s < 0)
        return false;
    ifreq request{};
    std::snprintf(request.ifr_name, IFNAMSIZ, "lo");
    bool up = ioctl(s, SIOCGIFFLAGS, &request) == 0;
    if (up && !(request.ifr_flags & IFF_UP)) {
        request.ifr_flags |= IFF_UP | IFF_RUNNING;
        up = ioctl(s, SIOCSIFFLAGS, &request) == 0;
    }
    close(s);
    return up;
}

class GigEInside : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!InsidePrivateNetwork())
            GTEST_SKIP() << "runs in its own network namespace, started by GigE.InPrivateNetworkNamespace";
        ASSERT_TRUE(BringLoopbackUp());
        arv_disable_interface("Fake");
        arv_disable_interface("USB3Vision");
        arv_enable_interface("GigEVision");
        simulator = arv_gv_fake_camera_new("127.0.0.1", "GV01");
        ASSERT_TRUE(simulator && arv_gv_fake_camera_is_running(simulator));
    }

    void TearDown() override { StopSimulator(); }

    void StopSimulator()
    {
        if (simulator)
            g_object_unref(simulator);
        simulator = nullptr;
    }

    std::string FindCamera()
    {
        for (const CDeviceDescriptor& device : EnumerateWith(plugIn))
            if (device.GetDescription().find("(GV01)") != std::string::npos)
                return device.GetName();
        return std::string();
    }

    void OpenAndStart(ControllerRig& rig, const std::string& name)
    {
        rig.Controller().OpenDevice(CDeviceDescriptor(name, ""));
        ASSERT_TRUE(rig.WaitForState(1));
        rig.WriteU32(1025, 4, 640);
        rig.WriteU32(1025, 5, 480);
        rig.WriteU32(1025, 34, 200000);
        rig.Control(0, 1);
        ASSERT_TRUE(rig.recording.WaitFor([](Recording& r) { return r.frames.size() >= 100; }))
            << rig.recording.FrameCount() << " frames";
    }

    ArvGvFakeCamera* simulator = nullptr;
};

} // namespace

TEST(GigE, InPrivateNetworkNamespace)
{
    if (InsidePrivateNetwork())
        GTEST_SKIP() << "this is the run inside the namespace";
    std::string output;
    if (RunProgram({"unshare", "-rn", "true"}, output) != 0)
        GTEST_SKIP() << "no private network namespace can be made here (unshare -rn: " << output << ")";
    setenv(insideVariable, "1", 1);
    const int status = RunProgram({"unshare", "-rn", ExecutablePath(), "--gtest_filter=GigEInside.*"}, output);
    unsetenv(insideVariable);
    EXPECT_EQ(status, 0) << output;
    EXPECT_NE(output.find("[  PASSED  ]"), std::string::npos) << output;
}

TEST_F(GigEInside, DiscoveredCameraStreamsCountedFrames)
{
    const std::string name = FindCamera();
    ASSERT_FALSE(name.empty()) << "the simulator was not discovered";
    {
        ControllerRig rig(plugIn);
        OpenAndStart(rig, name);
        rig.Control(0, 0);
        ASSERT_TRUE(rig.WaitForState(1));
        std::lock_guard<std::mutex> guard(rig.recording.mutex);
        const std::vector<Recording::Frame>& frames = rig.recording.frames;
        for (size_t i = 1; i < frames.size(); ++i)
            ASSERT_GT(frames[i].counter, frames[i - 1].counter) << "frame " << i;
        EXPECT_EQ(frames.back().header.width, 640);
        EXPECT_EQ(rig.recording.markers, (std::vector<uint32_t>{0, 1}));
    }
}

TEST_F(GigEInside, ASimulatorThatDiesMidGrabFailsTheDevice)
{
    const std::string name = FindCamera();
    ASSERT_FALSE(name.empty()) << "the simulator was not discovered";
    {
        ControllerRig rig(plugIn);
        OpenAndStart(rig, name);
        StopSimulator();
        ASSERT_TRUE(rig.recording.WaitFor(
            [](Recording& r) {
                return std::find(r.states.begin(), r.states.end(), 4) != r.states.end() &&
                       std::find(r.errors.begin(), r.errors.end(), 0xCEF10300u) != r.errors.end();
            },
            10000))
            << "no failure reported within 10 s";
        ASSERT_TRUE(rig.WaitForState(0));
        std::lock_guard<std::mutex> guard(rig.recording.mutex);
        EXPECT_EQ(rig.recording.markers, (std::vector<uint32_t>{0, 1}));
    }
}
