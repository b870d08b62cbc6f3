#include "RheaDeviceEnumerator.h"
#include "SaperaHal/DeviceDescriptor.h"
#include "SimFixture.h"

#include "ObjectFactory.h"

#include "Common/Exception.h"

#include "support/TestPaths.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace Tav;
using Tav::Sim1394::Simulator;

namespace {

template <typename F>
Tav::CException Caught(F f)
{
    try {
        f();
    } catch (const Tav::CException& e) {
        return e;
    }
    return Tav::CException();
}

} // namespace

TEST(RheaDeviceEnumerator, DescribesCamerasAsModelAndSerialInDriverOrder)
{
    RheaTest::LoadCameras(R"(
[camera]
vendor = Quarlo
model = QX-1
vendor_id = 0x00A0B0
chip_id = 4242
[camera]
vendor = Sim
model = Second one
chip_id = 7
)");
    CObjectFactory factory;
    auto* enumerator = dynamic_cast<IDeviceEnumerator*>(factory.GetObject("DeviceEnumerator"));
    ASSERT_NE(enumerator, nullptr);
    const std::vector<CDeviceDescriptor> devices = enumerator->EnumDevices();
    ASSERT_EQ(devices.size(), 2u);
    const auto ids = Simulator::Instance().Cameras();
    EXPECT_EQ(devices[0].GetName(), Simulator::Instance().DeviceName(ids[0]));
    EXPECT_EQ(devices[0].GetDescription(), "QX-1 (4242)");
    EXPECT_EQ(devices[1].GetName(), Simulator::Instance().DeviceName(ids[1]));
    EXPECT_EQ(devices[1].GetDescription(), "Second one (7)");
}

TEST(RheaDeviceEnumerator, NoCameraGivesAnEmptyListAndAFailingCameraFailsTheWholeList)
{
    RheaTest::LoadCameras("");
    CRheaDeviceEnumerator enumerator;
    EXPECT_TRUE(enumerator.EnumDevices().empty());

    RheaTest::LoadCameras("[camera]\nchip_id = 1\n[camera]\nchip_id = 2\n");
    const auto ids = Simulator::Instance().Cameras();
    Simulator::Instance().FailRequests(ids[1], 0, 5);
    Tav::CException error = Caught([&] { enumerator.EnumDevices(); });
    EXPECT_EQ(error.GetCode(), 0xCEF00001u);
    EXPECT_EQ(error.GetLine(), 35);
    EXPECT_EQ(error.GetFile(), "RheaDeviceEnumerator.cpp");
    EXPECT_FALSE(error.GetDescription().empty());
}

TEST(SaperaDeviceDescriptor, ReadsTheDeviceNameFromTheIniFile)
{
    const std::string dir = TavTest::MakeTempDirectory();
    const std::string ini = dir + "/Q7.ini";
    TavTest::WriteFile(ini, "; grabber\r\n[Other]\r\nDeviceName=wrong\r\n[coreco]\r\n  devicename =  X64-CL_1 \r\n");
    Hal::Sapera::CDeviceDescriptor descriptor(ini, "X64 - 1");
    EXPECT_EQ(descriptor.GetName(), "X64-CL_1");
    EXPECT_EQ(descriptor.GetDescription(), "X64 - 1");
    // Through the base, as the device controller sees it.
    const CDeviceDescriptor& base = descriptor;
    EXPECT_EQ(base.GetName(), "X64-CL_1");

    auto failure = [&](const std::string& content) {
        TavTest::WriteFile(ini, content);
        Tav::CException e = Caught([&] { descriptor.GetName(); });
        EXPECT_EQ(e.GetCode(), 0xCEF00001u);
        EXPECT_EQ(e.GetFile(), "DeviceDescriptor.cpp");
        return std::make_pair(e.GetLine(), e.GetDescription());
    };
    EXPECT_EQ(failure("[Coreco]\nOther=1\n"), std::make_pair(33, std::string("Device Description not found")));
    EXPECT_EQ(failure("[Sapera]\nDeviceName=x\n"), std::make_pair(33, std::string("Device Description not found")));
    EXPECT_EQ(failure("[Coreco]\nDeviceName=\n"), std::make_pair(37, std::string("'DeviceName' not found")));
    EXPECT_EQ(failure("[Coreco]\nDeviceName=" + std::string(255, 'n') + "\n"),
              std::make_pair(35, std::string("Internal Buffer Overflow")));
    TavTest::WriteFile(ini, "[Coreco]\nDeviceName=" + std::string(254, 'n') + "\n");
    EXPECT_EQ(descriptor.GetName().size(), 254u); // the longest that fits
    std::filesystem::remove_all(dir);
    Hal::Sapera::CDeviceDescriptor absent(dir + "/none.ini", "");
    EXPECT_EQ(Caught([&] { absent.GetName(); }).GetLine(), 33);
}
