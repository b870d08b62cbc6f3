// The GenICam plug-in against Aravis' in-process fake camera, through the
// plug-in loader and the device controller.
#include "KvHalSupport.h"

#include "KvHal/PixelFormat.h"

#include <arv.h>

#include <algorithm>

using namespace Tav;
using namespace TavTest;

namespace {

const char* const plugIn = "KvHal.dll";

// Only the fake camera: discovery on real networks costs time and finds
// cameras the tests know nothing of.
class FakeCamera : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        arv_disable_interface("GigEVision");
        arv_disable_interface("USB3Vision");
        arv_enable_interface("Fake");
    }

    void SetUp() override
    {
        const std::vector<CDeviceDescriptor> devices = EnumerateWith(plugIn);
        ASSERT_FALSE(devices.empty()) << "the fake camera is not listed";
        camera = devices.front().GetName();
    }

    // Blocks of the plug-in still alive.
    static int LiveBlocks()
    {
        Platform::LibraryHandle module = Platform::LoadLibrary(plugIn);
        auto count = reinterpret_cast<int (*)()>(Platform::GetProcAddress(module, "KvHalLiveBlocks"));
        const int live = count ? count() : -1;
        Platform::FreeLibrary(module);
        return live;
    }

    // Opens the camera at 640x480 Mono8 and a high frame rate.
    void Open(ControllerRig& rig)
    {
        rig.Controller().OpenDevice(CDeviceDescriptor(camera, ""));
        ASSERT_TRUE(rig.WaitForState(1));
        rig.WriteU32(1025, 4, 640);
        rig.WriteU32(1025, 5, 480);
        rig.WriteU32(1025, 35, ARV_PIXEL_FORMAT_MONO_8);
        rig.WriteU32(1025, 34, 200000);
    }

    std::string camera;
};

} // namespace

TEST_F(FakeCamera, IsListedWithVendorModelAndSerial)
{
    arv_update_device_list();
    ASSERT_GE(arv_get_n_devices(), 1u);
    const std::vector<CDeviceDescriptor> devices = EnumerateWith(plugIn);
    ASSERT_EQ(devices.size(), size_t(arv_get_n_devices()));
    EXPECT_EQ(devices[0].GetName(), arv_get_device_id(0));
    EXPECT_EQ(devices[0].GetDescription(), std::string(arv_get_device_vendor(0)) + " " + arv_get_device_model(0) +
                                               " (" + arv_get_device_serial_nbr(0) + ")");
}

TEST_F(FakeCamera, ContinuousGrabDeliversCountedFramesUntilStopped)
{
    {
        ControllerRig rig(plugIn);
        Open(rig);
        rig.Control(0, 1);
        ASSERT_TRUE(rig.recording.WaitFor([](Recording& r) { return r.frames.size() >= 100; }))
            << rig.recording.frames.size() << " frames";
        rig.Control(0, 0);
        ASSERT_TRUE(rig.WaitForState(1));

        std::lock_guard<std::mutex> guard(rig.recording.mutex);
        const std::vector<Recording::Frame>& frames = rig.recording.frames;
        for (size_t i = 0; i < frames.size(); ++i) {
            const CImageChunk& header = frames[i].header;
            ASSERT_EQ(header.width, 640);
            ASSERT_EQ(header.height, 480);
            ASSERT_EQ(header.pitch, 640);
            ASSERT_EQ(header.pixelType, PixelTypeMono8);
            ASSERT_TRUE(frames[i].hasCounter);
            if (i > 0)
                ASSERT_EQ(frames[i].counter, frames[i - 1].counter + 1) << "frame " << i;
        }
        // The fake camera draws a pattern: the pixels are the camera's.
        const std::vector<uint8_t>& line = frames.back().firstLine;
        EXPECT_NE(std::count(line.begin(), line.end(), line.front()), std::ptrdiff_t(line.size()));
        EXPECT_EQ(rig.recording.markers, (std::vector<uint32_t>{0, 1}));
        EXPECT_EQ(rig.recording.states, (std::vector<int>{1, 2, 1}));
        EXPECT_TRUE(rig.recording.errors.empty());
    }
    EXPECT_EQ(LiveBlocks(), 0);
}

TEST_F(FakeCamera, SingleShotDeliversExactlyOneImage)
{
    ControllerRig rig(plugIn);
    Open(rig);
    for (int shot = 0; shot < 2; ++shot) {
        rig.Control(1, 1);
        const size_t states = 3 + 2 * size_t(shot);
        ASSERT_TRUE(rig.recording.WaitFor([&](Recording& r) { return r.states.size() >= states; }));
    }
    std::lock_guard<std::mutex> guard(rig.recording.mutex);
    EXPECT_EQ(rig.recording.frames.size(), 2u);
    EXPECT_EQ(rig.recording.states, (std::vector<int>{1, 3, 1, 3, 1}));
    EXPECT_EQ(rig.recording.markers, (std::vector<uint32_t>{0, 1, 0, 1}));
}

TEST_F(FakeCamera, BuffersHeldDownstreamOutliveTheDevice)
{
    CSmartPointer<IPacket> kept;
    {
        ControllerRig rig(plugIn);
        Open(rig);
        rig.recording.onImage = [&](const CSmartPointer<IPacket>& packet) {
            if (!kept)
                kept = packet;
        };
        rig.Control(0, 1);
        ASSERT_TRUE(rig.recording.WaitFor([](Recording& r) { return r.frames.size() >= 20; }));
        rig.Control(0, 0);
        ASSERT_TRUE(rig.WaitForState(1));
        rig.Controller().CloseDevice();
        ASSERT_TRUE(rig.WaitForState(0));
    }
    ASSERT_TRUE(kept);
    EXPECT_EQ(LiveBlocks(), 1);
    EXPECT_EQ(FindTypedChunk<CImageChunk>(*kept, GUID_ImageChunk)->width, 640);
    kept = nullptr;
    EXPECT_EQ(LiveBlocks(), 0);
}

TEST_F(FakeCamera, NamedFeaturesReadAndWriteTheCamera)
{
    ControllerRig rig(plugIn);
    rig.Controller().OpenDevice(CDeviceDescriptor(camera, "the fake camera"));
    ASSERT_TRUE(rig.WaitForState(1));

    EXPECT_EQ(rig.ReadText(1025, 0), "the fake camera");
    rig.WriteU32(1025, 4, 320);
    rig.WriteU32(1025, 5, 240);
    EXPECT_EQ(rig.ReadU32(1025, 4), 320u);
    EXPECT_EQ(rig.ReadU32(1025, 5), 240u);
    EXPECT_GE(rig.ReadU32(1025, 6), 320u);
    EXPECT_GE(rig.ReadU32(1025, 8), 1u);
    rig.WriteU32(1025, 10, 16);
    EXPECT_EQ(rig.ReadU32(1025, 10), 16u);
    rig.WriteU32(1025, 35, ARV_PIXEL_FORMAT_MONO_8);
    EXPECT_EQ(rig.ReadU32(1025, 18), uint32_t(PixelTypeMono8));
    EXPECT_EQ(rig.ReadU32(1025, 36), 320u * 240u);
    rig.WriteU32(1025, 32, 5000);
    EXPECT_EQ(rig.ReadU32(1025, 32), 5000u);
    rig.WriteU32(1025, 34, 50000);
    EXPECT_EQ(rig.ReadU32(1025, 34), 50000u);

    // The same register through the camera's own address space.
    const uint32_t widthRegister = 0x100;
    EXPECT_EQ(rig.ReadU32(1024, widthRegister), 320u);
    rig.WriteU32(1024, widthRegister, 512);
    EXPECT_EQ(rig.ReadU32(1025, 4), 512u);
    // The Java GUI's 1394 register page asks for IIDC addresses: refused, not read wild.
    EXPECT_EQ(ErrorCode([&] { rig.ReadU32(1024, 0xFFFFF0F00800ull); }), 0xCEF00008u);
    EXPECT_EQ(ErrorCode([&] { rig.WriteU32(1024, 0xF0F00800ull, 1); }), 0xCEF00008u);
    EXPECT_EQ(ErrorCode([&] { rig.ReadU32(1024, ARV_FAKE_CAMERA_MEMORY_SIZE - 2); }), 0xCEF00008u);

    EXPECT_EQ(ErrorCode([&] { rig.ReadU32(1025, 40); }), 0xCEF30003u);
    EXPECT_EQ(ErrorCode([&] { rig.ReadU32(1025, uint64_t(1) << 32 | 4); }), 0xCEF30003u);
    EXPECT_EQ(ErrorCode([&] { rig.WriteU32(1025, 6, 1); }), 0xCEF30004u);
    EXPECT_EQ(ErrorCode([&] { rig.Controller().Push(1025, CRegisterRequest::Write(4, "ab", 2).GetPacket()); }),
              0xCEF00006u);
    EXPECT_EQ(ErrorCode([&] { rig.Controller().Push(1025, CRegisterRequest::Read(4, 2).GetPacket()); }),
              0xCEF00006u);

    // The frame cannot change under a running grab.
    rig.Control(0, 1);
    ASSERT_TRUE(rig.WaitForState(2));
    EXPECT_EQ(ErrorCode([&] { rig.WriteU32(1025, 4, 256); }), 0xCEF30013u);
    EXPECT_EQ(rig.ReadU32(1025, 4), 512u);
    rig.WriteU32(1025, 32, 4000);
    rig.Control(0, 0);
    ASSERT_TRUE(rig.WaitForState(1));
}

TEST_F(FakeCamera, PixelFormatsFollowTheCamera)
{
    ControllerRig rig(plugIn);
    Open(rig);
    rig.WriteU32(1025, 18, PixelTypeRaw8);
    const uint32_t bayer = rig.ReadU32(1025, 35);
    rig.Control(1, 1);
    ASSERT_TRUE(rig.recording.WaitFor([](Recording& r) { return !r.frames.empty(); }));
    ASSERT_TRUE(rig.WaitForState(1));
    {
        std::lock_guard<std::mutex> guard(rig.recording.mutex);
        const CImageChunk& header = rig.recording.frames.back().header;
        EXPECT_EQ(header.pixelType, PixelTypeRaw8);
        EXPECT_EQ(Hal::Kv::PixelFormatOf(PixelTypeRaw8, header.filterPattern), bayer);
    }
}

TEST_F(FakeCamera, UnknownCamerasAndUncarriedFormatsAreRefused)
{
    ControllerRig rig(plugIn);
    EXPECT_EQ(ErrorCode([&] { rig.Controller().OpenDevice(CDeviceDescriptor("no-such-camera", "")); }), 0xCEF30010u);
    EXPECT_EQ(rig.Controller().GetState(), 0);

    rig.Controller().OpenDevice(CDeviceDescriptor(camera, ""));
    ASSERT_TRUE(rig.WaitForState(1));
    // The fake camera offers only carried formats; its pixel format register
    // takes any code.
    const uint32_t pixelFormatRegister = 0x128;
    rig.WriteU32(1024, pixelFormatRegister, ARV_PIXEL_FORMAT_MONO_12_PACKED);
    EXPECT_EQ(ErrorCode([&] { rig.Control(0, 1); }), 0xCEF30011u);
    EXPECT_EQ(rig.Controller().GetState(), 1);
    EXPECT_EQ(ErrorCode([&] { rig.ReadU32(1025, 18); }), 0xCEF30011u);
}

TEST_F(FakeCamera, AGrabWhoseFramesNoLongerFitSaysSoAndTheNextOneFits)
{
    ControllerRig rig(plugIn);
    Open(rig);
    rig.Control(0, 1);
    ASSERT_TRUE(rig.recording.WaitFor([](Recording& r) { return r.frames.size() >= 5; }));
    // Behind the feature registers' back: the buffers of the running grab
    // are too small for what the camera now sends.
    const uint32_t widthRegister = 0x100, heightRegister = 0x104;
    rig.WriteU32(1024, widthRegister, 1024);
    rig.WriteU32(1024, heightRegister, 1024);
    ASSERT_TRUE(rig.recording.WaitFor([](Recording& r) { return !r.errors.empty(); }))
        << rig.recording.FrameCount() << " frames, no error";
    rig.Control(0, 0);
    ASSERT_TRUE(rig.WaitForState(1));
    size_t before;
    {
        std::lock_guard<std::mutex> guard(rig.recording.mutex);
        EXPECT_EQ(rig.recording.errors, std::vector<uint32_t>{0xCEF30010u});
        before = rig.recording.frames.size();
    }

    rig.Control(0, 1);
    ASSERT_TRUE(rig.recording.WaitFor([&](Recording& r) { return r.frames.size() >= before + 3; }));
    rig.Control(0, 0);
    ASSERT_TRUE(rig.WaitForState(1));
    std::lock_guard<std::mutex> guard(rig.recording.mutex);
    EXPECT_EQ(rig.recording.frames.back().header.width, 1024);
    EXPECT_EQ(rig.recording.errors.size(), 1u);
}
