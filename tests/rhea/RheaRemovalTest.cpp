#include "Rhea.h"
#include "SimFixture.h"

#include "Platform/Event.h"
#include "Platform/SystemError.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using namespace Rhea;
using Tav::Platform::Event;
using Tav::Platform::WaitForSingleObject;
using Tav::Platform::WaitObject0;
using Tav::Sim1394::Simulator;

namespace {

struct Observer {
    std::atomic<int> queryRemoves{0};
    std::atomic<int> removeCompletes{0};
    std::atomic<bool> openAtQueryRemove{false};
    std::thread::id callbackThread;
    Event removed{true, false};

    static void OnQueryRemove(CRhea* rhea, uintptr_t user)
    {
        auto* self = reinterpret_cast<Observer*>(user);
        self->openAtQueryRemove = rhea->IsOpen();
        self->callbackThread = std::this_thread::get_id();
        ++self->queryRemoves;
    }

    static void OnRemoveComplete(CRhea*, uintptr_t user)
    {
        auto* self = reinterpret_cast<Observer*>(user);
        ++self->removeCompletes;
        self->removed.Set();
    }
};

class RheaRemoval : public ::testing::Test {
protected:
    void SetUp() override
    {
        RheaTest::LoadCameras("[camera]\nmodel = Removable\nmax_width = 32\nmax_height = 8\nframe_rate = 500\n");
        id = RheaTest::OnlyCamera();
        rhea.Open(sim.DeviceName(id));
        rhea.SetOnQueryRemove(&Observer::OnQueryRemove, reinterpret_cast<uintptr_t>(&observer));
        rhea.SetOnRemoveComplete(&Observer::OnRemoveComplete, reinterpret_cast<uintptr_t>(&observer));
    }

    Simulator& sim = Simulator::Instance();
    int id = -1;
    Observer observer;
    CRhea rhea;
};

} // namespace

TEST_F(RheaRemoval, QueryRemoveThenRemoveCompleteCloseTheClientOnTheNotificationThread)
{
    const uint32_t bytes = rhea.formatSeven[0].BytePerFrame();
    std::vector<uint8_t> buffer(bytes);
    rhea.AllocateResources(1, bytes);
    rhea.GrabImageAsync(buffer.data(), bytes, 5, false);

    ASSERT_TRUE(sim.RemoveCamera(id));
    // Both notifications were sent synchronously: the removal is over here.
    EXPECT_EQ(observer.queryRemoves, 1);
    EXPECT_TRUE(observer.openAtQueryRemove);
    EXPECT_NE(observer.callbackThread, std::this_thread::get_id());
    EXPECT_EQ(observer.removeCompletes, 1);
    EXPECT_FALSE(rhea.IsOpen());
    EXPECT_TRUE(CRhea::DeviceNames().empty());

    // The buffer that was queued comes back aborted.
    uint32_t kind = 0, error = 0;
    uintptr_t context = 0;
    rhea.GetCompletion(kind, error, context, 10000);
    EXPECT_EQ(kind, KindImageBuffer);
    EXPECT_EQ(context, 5u);
    EXPECT_EQ(error, Tav::Platform::ErrorOperationAborted);
    EXPECT_RHEA_ERROR(rhea.info.ModelName(), 0xCFF00004);
}

TEST_F(RheaRemoval, SurpriseRemovalStillReportsTheQueryRemove)
{
    ASSERT_TRUE(sim.RemoveCamera(id, false));
    EXPECT_EQ(WaitForSingleObject(observer.removed, 10000), WaitObject0);
    EXPECT_EQ(observer.queryRemoves, 1);
    EXPECT_TRUE(observer.openAtQueryRemove);
    EXPECT_FALSE(rhea.IsOpen());
}

TEST_F(RheaRemoval, AFailedQueryRemoveReopensTheDevice)
{
    ASSERT_TRUE(sim.AbortRemoval(id));
    EXPECT_EQ(observer.queryRemoves, 1);
    EXPECT_EQ(observer.removeCompletes, 0);
    ASSERT_TRUE(rhea.IsOpen());
    EXPECT_EQ(rhea.info.ModelName(), "Removable");
    // The new handle has its own registration: a later removal still arrives.
    ASSERT_TRUE(sim.RemoveCamera(id));
    EXPECT_EQ(observer.queryRemoves, 2);
    EXPECT_EQ(observer.removeCompletes, 1);
    EXPECT_FALSE(rhea.IsOpen());
}

TEST_F(RheaRemoval, AClosedClientHearsNothing)
{
    rhea.Close();
    ASSERT_TRUE(sim.RemoveCamera(id));
    EXPECT_EQ(observer.queryRemoves, 0);
    EXPECT_EQ(observer.removeCompletes, 0);
}

TEST_F(RheaRemoval, ClientRegistrationNeedsAllDevicesClosed)
{
    EXPECT_RHEA_ERROR(CRhea::RegisterClient(1), 0xCFF00002);
    EXPECT_RHEA_ERROR(CRhea::UnregisterClient(), 0xCFF00003);
    rhea.Close();
    // With no device open the client can be unregistered; the next Open registers it again.
    CRhea::UnregisterClient();
    rhea.Open(sim.DeviceName(id));
    ASSERT_TRUE(sim.RemoveCamera(id));
    EXPECT_EQ(observer.removeCompletes, 1);
}

TEST_F(RheaRemoval, AnExtraWindowThatIsNoWindowIsRefused)
{
    rhea.Close();
    const std::string context = EXPECT_RHEA_ERROR(rhea.Open(sim.DeviceName(id), 0x7777), 0xCFF00001);
    EXPECT_EQ(context, "CRhea::RegisterDeviceNotifications()");
    EXPECT_FALSE(rhea.IsOpen()); // and not left half open
    rhea.Open(sim.DeviceName(id));
    EXPECT_TRUE(rhea.IsOpen());
}
