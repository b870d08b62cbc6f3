#include "Rhea.h"
#include "SimFixture.h"

#include "Platform/SystemError.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <vector>

using namespace Rhea;
using Tav::Sim1394::Simulator;

namespace {

const char* plainCamera = R"(
[camera]
vendor = Sim
model = Plain
firmware = 0.9
vendor_id = 0x0A0B0C
chip_id = 0x123456789A
max_width = 64
max_height = 48
unit_width = 4
unit_height = 2
unit_left = 2
coding = Mono8
codings = Mono8, Mono16, RGB8, Raw8
format7_modes = 0, 1
fixed_modes = 5/4
frame_rate = 200
)";

class RheaDevice : public ::testing::Test {
protected:
    void SetUp() override
    {
        RheaTest::LoadCameras(plainCamera);
        id = RheaTest::OnlyCamera();
        ASSERT_GT(id, 0);
        name = Simulator::Instance().DeviceName(id);
        rhea.Open(name);
    }

    Simulator& sim = Simulator::Instance();
    int id = -1;
    std::string name;
    CRhea rhea;
};

} // namespace

TEST(RheaEnumeration, NamesOfThePresentCamerasInOrder)
{
    RheaTest::LoadCameras(std::string(plainCamera) + "\n[camera]\nvendor = Quarlo\nmodel = Q 2\nchip_id = 9\n");
    auto ids = Simulator::Instance().Cameras();
    ASSERT_EQ(ids.size(), 2u);
    auto names = CRhea::DeviceNames();
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names[0], Simulator::Instance().DeviceName(ids[0]));
    EXPECT_EQ(names[1], Simulator::Instance().DeviceName(ids[1]));
    EXPECT_EQ(names[0], "Sim&Plain#0A0B0C123456789A");
    EXPECT_EQ(names[1], "Quarlo&Q_2#00A0B00000000009");
    EXPECT_EQ(CRhea::NameToPath(names[1]).substr(0, 9), "\\\\?\\1394#");
}

TEST(RheaEnumeration, NoCameraGivesAnEmptyList)
{
    RheaTest::LoadCameras("# nothing\n");
    EXPECT_TRUE(CRhea::DeviceNames().empty());
    CRhea rhea;
    EXPECT_RHEA_ERROR(rhea.Open("Sim&Plain#0A0B0C123456789A"), Tav::Platform::ErrorFileNotFound);
    EXPECT_FALSE(rhea.IsOpen());
}

TEST_F(RheaDevice, OpensByNameOrFullPathAndRefusesTheSameNameTwice)
{
    EXPECT_TRUE(rhea.IsOpen());
    EXPECT_EQ(rhea.DeviceName(), name);
    EXPECT_EQ(EXPECT_RHEA_ERROR(rhea.Open(name), 0xCFF00016), "CRhea::Open");
    EXPECT_TRUE(rhea.IsOpen());
    EXPECT_EQ(rhea.info.ModelName(), "Plain");

    CRhea second;
    second.Open(sim.DevicePath(id));
    EXPECT_EQ(second.DeviceName(), name);
    EXPECT_NE(second.CompletionKey(), rhea.CompletionKey());
    second.Close();
    EXPECT_FALSE(second.IsOpen());
    EXPECT_EQ(EXPECT_RHEA_ERROR(second.Transmit(0x80102004, nullptr, 0, nullptr, 0), 0xCFF00004), "CRhea::Transmit()");
    EXPECT_EQ(EXPECT_RHEA_ERROR(second.Cancel(), 0xCFF00004), "CRhea::Cancel()");
    second.Close(); // idempotent
}

TEST_F(RheaDevice, InfoTexts)
{
    EXPECT_EQ(rhea.info.NodeId(), "0x0a0b0c-78187493530");
    EXPECT_EQ(rhea.info.VendorName(), "Sim");
    EXPECT_EQ(rhea.info.ModelName(), "Plain");
    EXPECT_EQ(rhea.info.CameraFirmwareVersion(), "0.9");
}

TEST_F(RheaDevice, VideoModes)
{
    uint32_t f = 9, m = 9, r = 9;
    rhea.GetVideoMode(f, m, r);
    EXPECT_EQ(f, 7u);
    EXPECT_EQ(m, 0u);
    EXPECT_TRUE(rhea.IsVideoModeSupported(7));
    EXPECT_TRUE(rhea.IsVideoModeSupported(7, 1));
    EXPECT_FALSE(rhea.IsVideoModeSupported(7, 2));
    EXPECT_TRUE(rhea.IsVideoModeSupported(0, 5, 4));
    EXPECT_FALSE(rhea.IsVideoModeSupported(0, 5, 3));
    EXPECT_FALSE(rhea.IsVideoModeSupported(1));
    EXPECT_FALSE(rhea.IsVideoModeSupported(40));

    rhea.SetVideoMode(0, 5, 4);
    rhea.GetVideoMode(f, m, r);
    EXPECT_EQ(f, 0u);
    EXPECT_EQ(m, 5u);
    EXPECT_EQ(r, 4u);
    EXPECT_EQ(EXPECT_RHEA_ERROR(rhea.SetVideoMode(0, 5, 3), Tav::Platform::ErrorInvalidParameter),
              "CRhea::SetVideoMode()");
    rhea.SetVideoMode(7, 1, uint32_t(-1));
    rhea.GetVideoMode(f, m, r);
    EXPECT_EQ(m, 1u);
}

TEST_F(RheaDevice, FormatSevenGeometryCodingAndPackets)
{
    auto& mode = rhea.formatSeven[0];
    EXPECT_EQ(mode.MaxSize(), CRhea::Pair(64, 48));
    EXPECT_EQ(mode.ImageSize(), CRhea::Pair(64, 48));
    EXPECT_EQ(mode.ImageSize.Inc(), CRhea::Pair(4, 2));
    EXPECT_EQ(mode.ImagePosition.Inc(), CRhea::Pair(2, 2)); // vertical unit 0: the size unit
    mode.ImageSize = {32, 16};
    mode.ImagePosition = {6, 4};
    EXPECT_EQ(mode.ImageSize(), CRhea::Pair(32, 16));
    EXPECT_EQ(mode.ImagePosition(), CRhea::Pair(6, 4));
    EXPECT_RHEA_ERROR(mode.ImageSize = CRhea::Pair(60, 16), Tav::Platform::ErrorInvalidParameter); // past the edge
    EXPECT_RHEA_ERROR(mode.ImagePosition = CRhea::Pair(3, 0), Tav::Platform::ErrorInvalidParameter);

    EXPECT_EQ(mode.ColorCoding(), 0u);
    EXPECT_TRUE(mode.ColorCoding.IsSupported(5));
    EXPECT_FALSE(mode.ColorCoding.IsSupported(2));
    EXPECT_FALSE(mode.ColorCoding.IsSupported(300));
    mode.ColorCoding = 5;
    EXPECT_EQ(mode.ColorCoding(), 5u);
    EXPECT_EQ(rhea.formatSeven[1].ColorCoding(), 0u); // modes keep their own settings

    EXPECT_EQ(mode.BytePerFrame(), 32u * 16 * 2);
    EXPECT_EQ(mode.BytePerPacket.Max(), 4096u);
    EXPECT_EQ(mode.BytePerPacket.Inc(), 4u);
    mode.BytePerPacket = 100;
    EXPECT_EQ(mode.BytePerPacket(), 100u);
    EXPECT_EQ(mode.PacketsPerFrame(), 11u);
    EXPECT_RHEA_ERROR(mode.BytePerPacket = 102, Tav::Platform::ErrorInvalidParameter);

    EXPECT_EQ(EXPECT_RHEA_ERROR(rhea.formatSeven[8], 0xCFF00007), "CRhea::FormatSeven::operator[]");
    EXPECT_RHEA_ERROR(rhea.formatSeven[-1], 0xCFF00007);
    EXPECT_RHEA_ERROR(rhea.formatSeven[3].MaxSize(), Tav::Platform::ErrorInvalidParameter); // mode not offered
}

TEST(RheaPackets, SmallestBytesPerPacketInputs)
{
    // 63 x 65 Mono8 = 4095 bytes per frame with increment 4: the smallest
    // usable packet is ceil(4095 / 4095) raised to 4, and the camera takes it.
    RheaTest::LoadCameras("[camera]\nmax_width = 63\nmax_height = 65\nunit_width = 1\nunit_height = 1\n");
    CRhea rhea;
    rhea.Open(Simulator::Instance().DeviceName(RheaTest::OnlyCamera()));
    auto& mode = rhea.formatSeven[0];
    const uint32_t frame = mode.BytePerFrame(), inc = mode.BytePerPacket.Inc();
    EXPECT_EQ(frame, 4095u);
    EXPECT_EQ(inc, 4u);
    const uint32_t smallest = ((frame + 4094) / 4095 + inc - 1) / inc * inc;
    EXPECT_EQ(smallest, 4u);
    mode.BytePerPacket = smallest;
    EXPECT_EQ(mode.PacketsPerFrame(), 1024u);
    EXPECT_EQ(rhea.AllocateResources(2, frame), 2u);
    EXPECT_EQ(rhea.ResourceExtra(), 1u); // bandwidth: one quadlet per cycle
}

TEST_F(RheaDevice, FixedFormatGrabUsesTheFormatsPacketSize)
{
    rhea.SetVideoMode(0, 5, 4); // 640 x 480 Mono8 at 30 frames/s
    EXPECT_EQ(rhea.AllocateResources(1, 640 * 480), 1u);
    EXPECT_EQ(rhea.ResourceExtra(), 1280u / 4); // 10240 bytes at rate 7, halved three times
    std::vector<uint8_t> frame(640 * 480);
    rhea.GrabImageAsync(frame.data(), uint32_t(frame.size()), 3, false);
    rhea.continuousShot = true;
    uint32_t kind = 0, error = 1;
    uintptr_t context = 0;
    rhea.GetCompletion(kind, error, context, 10000);
    rhea.continuousShot = false;
    EXPECT_EQ(kind, KindImageBuffer);
    EXPECT_EQ(error, 0u);
    EXPECT_EQ(context, 3u);
    for (uint32_t x = 1; x < 640; ++x)
        ASSERT_EQ(frame[479 * 640 + x], uint8_t(frame[479 * 640] + x));
    // Format 7 settings are held while the resources are.
    EXPECT_RHEA_ERROR(rhea.SetVideoMode(7, 0, 0), Tav::Platform::ErrorBusy);
    rhea.FreeResources();
    rhea.SetVideoMode(7, 0, 0);
}
