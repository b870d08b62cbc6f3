// The SaperaHal stand-in: opened through the Sapera descriptor of the
// example ini file, it delivers the simulated camera's pattern.
#include "KvHalSupport.h"

#include "SaperaHal/DeviceDescriptor.h"
#include "Sim1394/Sim1394.h"
#include "support/TestPaths.h"

using namespace Tav;
using namespace TavTest;

namespace {

const char* const plugIn = "SaperaHal.dll";

int LiveBlocks()
{
    Platform::LibraryHandle module = Platform::LoadLibrary(plugIn);
    auto count = reinterpret_cast<int (*)()>(Platform::GetProcAddress(module, "SaperaHalLiveBlocks"));
    const int live = count ? count() : -1;
    Platform::FreeLibrary(module);
    return live;
}

} // namespace

TEST(SaperaHal, ListsTheBoardOfTheIniFile)
{
    const std::vector<CDeviceDescriptor> devices = EnumerateWith(plugIn);
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].GetName(), ".\\Q7.ini");
    EXPECT_EQ(devices[0].GetDescription(), "X64 - 1");
    // The launcher's descriptor for it reads the board from the example.
    EXPECT_EQ(Hal::Sapera::CDeviceDescriptor(".\\Q7.ini", "X64 - 1").GetName(), "X64-CL_1");
}

TEST(SaperaHal, GrabsTheSimulatedPatternThroughTheDescriptor)
{
    {
        ControllerRig rig(plugIn);
        rig.Controller().OpenDevice(Hal::Sapera::CDeviceDescriptor(".\\Q7.ini", "X64 - 1"));
        ASSERT_TRUE(rig.WaitForState(1));
        EXPECT_EQ(rig.ReadText(1025, 0), "X64-CL_1");
        EXPECT_EQ(rig.ReadU32(1025, 4), 640u);
        EXPECT_EQ(rig.ReadU32(1025, 18), uint32_t(PixelTypeMono8));
        EXPECT_EQ(ErrorCode([&] { rig.WriteU32(1025, 4, 320); }), 0xCEF30004u);
        EXPECT_EQ(ErrorCode([&] { rig.ReadU32(1025, 6); }), 0xCEF30003u);
        rig.Control(0, 1);
        ASSERT_TRUE(rig.recording.WaitFor([](Recording& r) { return r.frames.size() >= 5; }));
        rig.Control(0, 0);
        ASSERT_TRUE(rig.WaitForState(1));
        rig.Control(1, 1);
        ASSERT_TRUE(rig.recording.WaitFor([](Recording& r) { return r.states.size() >= 5; }));

        std::lock_guard<std::mutex> guard(rig.recording.mutex);
        EXPECT_EQ(rig.recording.states, (std::vector<int>{1, 2, 1, 3, 1}));
        EXPECT_EQ(rig.recording.markers, (std::vector<uint32_t>{0, 1, 0, 1}));
        for (const Recording::Frame& frame : rig.recording.frames) {
            ASSERT_EQ(frame.header.width, 640);
            ASSERT_EQ(frame.header.height, 480);
            ASSERT_EQ(frame.header.pixelType, PixelTypeMono8);
            ASSERT_TRUE(frame.hasCounter);
            ASSERT_EQ(frame.firstLine.size(), 640u);
            for (uint32_t x = 0; x < 640; ++x)
                ASSERT_EQ(frame.firstLine[x], Sim1394::GradientValue(x, 0, frame.counter, 255)) << "x " << x;
        }
        EXPECT_TRUE(rig.recording.errors.empty());
    }
    EXPECT_EQ(LiveBlocks(), 0);
}

TEST(SaperaHal, DeliversTheCodingTheIniFileNames)
{
    const std::string dir = MakeTempDirectory();
    const std::string ini = dir + "/Q7.ini";
    WriteFile(ini, "[Coreco]\nDeviceName=X64-CL_2\n[Camera]\nmax_width=64\nmax_height=8\ncoding=Raw8\nbayer=GBRG\n"
                   "frame_rate=unlimited\n");
    ControllerRig rig(plugIn);
    rig.Controller().OpenDevice(Hal::Sapera::CDeviceDescriptor(ini, ""));
    ASSERT_TRUE(rig.WaitForState(1));
    rig.Control(1, 1);
    ASSERT_TRUE(rig.recording.WaitFor([](Recording& r) { return r.states.size() >= 3; }));
    std::lock_guard<std::mutex> guard(rig.recording.mutex);
    ASSERT_EQ(rig.recording.frames.size(), 1u);
    const Recording::Frame& frame = rig.recording.frames[0];
    EXPECT_EQ(frame.header.pixelType, PixelTypeRaw8);
    EXPECT_EQ(frame.header.filterPattern, FilterPatternGbrg);
    for (uint32_t x = 0; x < 64; ++x)
        ASSERT_EQ(frame.firstLine[x],
                  Sim1394::ChannelValue(Sim1394::BayerChannel(1, x, 0), x, 0, frame.counter, 255));
}

TEST(SaperaHal, RefusesIniFilesWithoutABoardOrWithABadCamera)
{
    const std::string dir = MakeTempDirectory();
    PlugInChoice choice(plugIn);
    CDeviceController controller;
    controller.Initialize("DeviceController", nullptr);
    auto failure = [&](const std::string& content) {
        WriteFile(dir + "/Q7.ini", content);
        try {
            controller.OpenDevice(Hal::Sapera::CDeviceDescriptor(dir + "/Q7.ini", ""));
        } catch (const CException& e) {
            return std::make_pair(e.GetCode(), e.GetLine());
        }
        return std::make_pair(0u, 0);
    };
    EXPECT_EQ(failure("[Camera]\nmax_width=64\n"), std::make_pair(0xCEF00001u, 33));
    EXPECT_EQ(failure("[Coreco]\nDeviceName=\n"), std::make_pair(0xCEF00001u, 37));
    EXPECT_EQ(failure("[Coreco]\nDeviceName=X\n[Camera]\ncoding=Purple\n").first, 0xCEF30020u);
    EXPECT_EQ(failure("[Coreco]\nDeviceName=X\n[Camera]\ncoding=Raw16\n").first, 0xCEF30020u);
    EXPECT_EQ(controller.GetState(), 0);
    controller.Deinitialize();
}
