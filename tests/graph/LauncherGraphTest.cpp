#include "graph/LauncherRig.h"

#include "Device.h"

#include <gtest/gtest.h>

using namespace Tav;
using namespace TavTest;

namespace {

constexpr uint32_t DeviceFailure = 0xCEF10300;

std::string Lines(const std::vector<std::string>& texts)
{
    std::string all;
    for (const auto& text : texts)
        all += text + "\n";
    return all;
}

} // namespace

TEST(LauncherGraph, FiftyConnectsAndDisconnectsLeaveNoThreadBlockOrLinkBehind)
{
    int threadsBefore = 0;
    {
        // The driver's notification thread lives until the process ends:
        // counted once it exists.
        LauncherRig warmUp(SoakCamera(500, 500));
        ASSERT_TRUE(warmUp.Connect());
        warmUp.Disconnect();
    }
    threadsBefore = ThreadCount();
    {
        LauncherRig rig(SoakCamera(501, 500));
        const size_t links = rig.launcher->GetLinker().GetLinkCount();
        for (int i = 0; i < 50; ++i) {
            ASSERT_TRUE(rig.Connect()) << i << "\n" << Lines(rig.Boxes());
            EXPECT_TRUE(rig.launcher->IsConnected());
            switch (i % 3) {
            case 0:
                // Right after Connect: the camera may not have reported
                // that it is open yet.
                break;
            case 1:
                ASSERT_TRUE(rig.WaitForState(1)) << i;
                break;
            case 2: {
                ASSERT_TRUE(rig.WaitForState(1)) << i;
                rig.Control(0, 1);
                ASSERT_TRUE(rig.WaitForImages(3)) << i;
                break;
            }
            }
            const auto took = rig.Disconnect();
            EXPECT_LT(took.count(), 5000) << i;
            EXPECT_FALSE(rig.launcher->IsConnected());
            // Every camera opened is closed again, also one still opening.
            ASSERT_TRUE(rig.WaitForState(0)) << i;
            EXPECT_EQ(rig.controller->GetState(), 0) << i;
        }
        EXPECT_EQ(rig.host->attached, 50);
        EXPECT_EQ(rig.host->detached, 50);
        EXPECT_EQ(rig.launcher->GetLinker().GetLinkCount(), links);
        EXPECT_EQ(rig.errors->Errors().size(), 0u) << rig.errors->ErrorLog();
        EXPECT_EQ(rig.Boxes().size(), 0u) << Lines(rig.Boxes());
    }
    EXPECT_EQ(Hal::Rhea::CDevice::LiveBlocks(), 0);
    EXPECT_EQ(ThreadCount(), threadsBefore);
}

TEST(LauncherGraph, RemovalWhileGrabbingFailsTheDeviceOnceAndDisconnectStillWorks)
{
    LauncherRig rig(SoakCamera(510, 500));
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(rig.Connect()) << Lines(rig.Boxes());
        ASSERT_TRUE(rig.WaitForState(1));
        rig.Control(0, 1);
        ASSERT_TRUE(rig.WaitForImages(3));
        ASSERT_TRUE(rig.RemoveCamera());
        ASSERT_TRUE(rig.WaitForState(4));
        ASSERT_TRUE(rig.WaitForState(0));
        rig.Disconnect();
        rig.AddCameraAgain();
    }
    EXPECT_EQ(rig.errors->ErrorCount(DeviceFailure), 3u) << rig.errors->ErrorLog();
    EXPECT_EQ(rig.errors->Errors().size(), 1u) << rig.errors->ErrorLog();
    EXPECT_EQ(rig.Boxes().size(), 0u) << Lines(rig.Boxes());
}
