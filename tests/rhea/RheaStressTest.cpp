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
using Tav::Sim1394::Simulator;

namespace {

constexpr uint32_t KindRemoved = uint32_t(-4);
constexpr uint32_t KindStop = uint32_t(-5);

// A pumper as the camera layer runs one: re-queues every filled buffer
// until told to stop or the device goes, then waits for the rest.
struct Pumper {
    CRhea& rhea;
    std::vector<std::vector<uint8_t>>& buffers;
    uint32_t bytes;
    Event enoughFrames{true, false};
    int delivered = 0;
    int aborted = 0;
    bool timedOut = false;

    void Run()
    {
        int outstanding = int(buffers.size());
        bool stopping = false;
        while (!(stopping && outstanding == 0)) {
            uint32_t kind = 0, error = 0;
            uintptr_t context = 0;
            rhea.GetCompletion(kind, error, context, 10000);
            if (error == Tav::Platform::WaitTimeout) {
                timedOut = true;
                return;
            }
            if (kind == KindStop) {
                stopping = true;
                try {
                    rhea.continuousShot = false;
                    rhea.Cancel();
                } catch (const RheaException&) {
                }
            } else if (kind == KindRemoved) {
                stopping = true;
            } else if (kind == KindImageBuffer) {
                --outstanding;
                if (error != 0) {
                    ++aborted;
                    continue;
                }
                if (++delivered == 5)
                    enoughFrames.Set();
                if (stopping)
                    continue;
                try {
                    rhea.GrabImageAsync(buffers[context].data(), bytes, context, false);
                    ++outstanding;
                } catch (const RheaException&) {
                    // The device went away under us.
                }
            }
        }
    }
};

void OnQueryRemove(CRhea* rhea, uintptr_t)
{
    rhea->Notify(KindRemoved, 0);
}

} // namespace

TEST(RheaStress, GrabbingCancellingAndRemovingInALoop)
{
    RheaTest::LoadCameras("");
    Simulator& sim = Simulator::Instance();
    Tav::Sim1394::CameraDescription d;
    d.maxWidth = 64;
    d.maxHeight = 16;
    for (int round = 0; round < 24; ++round) {
        d.chipId = 1000 + round;
        d.frameRate = round % 2 ? 0 : 2000; // unlimited every other round
        const int id = sim.AddCamera(d);
        CRhea rhea;
        rhea.Open(sim.DeviceName(id));
        rhea.SetOnQueryRemove(&OnQueryRemove, 0);
        const uint32_t bytes = rhea.formatSeven[0].BytePerFrame();
        std::vector<std::vector<uint8_t>> buffers(3, std::vector<uint8_t>(bytes));
        rhea.AllocateResources(3, bytes);
        for (uintptr_t i = 0; i < 3; ++i)
            rhea.GrabImageAsync(buffers[i].data(), bytes, i, false);

        Pumper pumper{rhea, buffers, bytes};
        std::thread thread([&pumper] { pumper.Run(); });
        rhea.continuousShot = true;
        ASSERT_EQ(Tav::Platform::WaitForSingleObject(pumper.enoughFrames, 10000), Tav::Platform::WaitObject0);

        bool present = true;
        switch (round % 3) {
        case 0: rhea.Notify(KindStop, 0); break;
        case 1: present = !sim.RemoveCamera(id, true); break;
        case 2: present = !sim.RemoveCamera(id, false); break;
        }
        thread.join();
        EXPECT_FALSE(pumper.timedOut) << "round " << round;
        EXPECT_GE(pumper.delivered, 5);
        EXPECT_EQ(present, round % 3 == 0);
        EXPECT_EQ(rhea.IsOpen(), present);
        if (present) {
            rhea.FreeResources();
            rhea.Close();
            EXPECT_TRUE(sim.RemoveCamera(id));
        }
    }
    EXPECT_TRUE(sim.Cameras().empty());
}
