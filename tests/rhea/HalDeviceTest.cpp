#include "Device.h"
#include "SimFixture.h"

#include "Core/DeviceController.h"
#include "Core/DeviceDescriptor.h"
#include "Core/ErrorChunk.h"
#include "Core/FactoryBase.h"
#include "Core/ModuleLinker.h"
#include "Core/RegisterRequest.h"
#include "DataBuffer/ChunkBuffer.h"
#include "DataBuffer/Guid.h"
#include <cstdio>
#include <string>
#include "DataBuffer/ImageChunk.h"
#include "DataBuffer/ValueChunk.h"
#include "Platform/SystemError.h"

#include "support/TestModules.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <cstdlib>
#include <set>
#include <thread>
#include <vector>

using namespace Tav;
using TavTest::CollectingSink;
using Tav::Sim1394::Simulator;

namespace {

const char* cameras = R"(
[camera]
vendor = Quarlo
model = QX-Mono
chip_id = 11
max_width = 64
max_height = 48
coding = Mono8
image_header = on
check_word = on
frame_rate = 1000

[camera]
vendor = Sim
model = Colour
chip_id = 12
max_width = 64
max_height = 48
coding = YUV422
frame_rate = 1000

[camera]
vendor = Sim
model = Odd
chip_id = 13
max_width = 65
max_height = 63
unit_width = 1
unit_height = 1
coding = Mono8
packet_increment = 4
frame_rate = 100
)";

constexpr int patience = 10000;

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

struct Image {
    int width, height, pixelType, pitch;
    int64_t counter; // -1: no frame-counter chunk
    const void* block;
    uint32_t size;
};

class TestFactory : public CFactoryBase {
public:
    ~TestFactory() override { ReleaseAll(); }
    IComponent* CreateObject(const std::string& kind) override
    {
        if (kind == "DeviceController") {
            auto* controller = new CDeviceController;
            controller->SetBuiltInDevice(&Hal::Rhea::OpenDevice);
            return controller;
        }
        return new CollectingSink;
    }
};

// The device controller on the built-in device, with recording sinks on
// its image, state and error ports. The sinks keep no packets, so blocks
// circulate unless a test holds one.
struct Rig {
    TestFactory factory;
    CModuleLinker linker;
    CDeviceController* controller;
    CollectingSink* images;
    CollectingSink* states;
    CollectingSink* errors;

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Image> frames;
    std::vector<int> stateList;
    std::vector<uint32_t> errorCodes;
    std::vector<CSmartPointer<IPacket>> held; // packets kept on purpose
    size_t holdNext = 0;                      // keep this many of the next images
    size_t seenStates = 0;

    Rig()
    {
        controller = dynamic_cast<CDeviceController*>(factory.GetObject("DeviceController"));
        images = dynamic_cast<CollectingSink*>(factory.GetObject("Images"));
        states = dynamic_cast<CollectingSink*>(factory.GetObject("States"));
        errors = dynamic_cast<CollectingSink*>(factory.GetObject("Errors"));
        for (CollectingSink* sink : {images, states, errors})
            sink->keepPackets = false;
        images->onData = [this](int, const CSmartPointer<IPacket>& packet) { OnImage(packet); };
        states->onData = [this](int, const CSmartPointer<IPacket>& packet) {
            CChunkPtr<CChunk> chunk;
            packet->FindChunk(chunk, GUID_DeviceStateChunk);
            Record([&] { stateList.push_back(int(ReadChunkValue(chunk))); });
        };
        errors->onData = [this](int, const CSmartPointer<IPacket>& packet) {
            CChunkPtr<CChunk> chunk;
            packet->FindChunk(chunk, GUID_ErrorChunk);
            Record([&] { errorCodes.push_back(ReadErrorChunk(chunk).code); });
        };
        linker.Link(controller, 1, images, 1);
        linker.Link(controller, 2, states, 1);
        linker.Link(controller, 0, errors, 1);
    }
    ~Rig() { Shutdown(); }

    void Shutdown()
    {
        if (!controller)
            return;
        {
            std::lock_guard<std::mutex> guard(mutex);
            held.clear();
        }
        controller->Deinitialize();
        linker.UnlinkAll();
        controller = nullptr;
    }

    template <typename F>
    void Record(F f)
    {
        {
            std::lock_guard<std::mutex> guard(mutex);
            f();
        }
        changed.notify_all();
    }

    void OnImage(const CSmartPointer<IPacket>& packet)
    {
        CChunkPtr<CImageChunk> chunk = FindTypedChunk<CImageChunk>(*packet, GUID_ImageChunk);
        if (!chunk)
            return;
        CChunkPtr<CChunk> counter;
        packet->FindChunk(counter, GUID_FrameCounterChunk);
        int size = 0;
        const void* data = chunk.LockData(&size);
        chunk.UnlockData();
        Image image{chunk->width, chunk->height, chunk->pixelType, chunk->pitch,
                    counter ? int64_t(ReadChunkValue(counter)) : -1, data, uint32_t(size)};
        Record([&] {
            frames.push_back(image);
            if (holdNext) {
                --holdNext;
                held.push_back(packet);
            }
        });
    }

    template <typename P>
    bool WaitFor(P predicate)
    {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::milliseconds(patience), predicate);
    }
    bool WaitForFrames(size_t count)
    {
        return WaitFor([&] { return frames.size() >= count; });
    }
    // Waits for `state` among the states reported since the last wait.
    bool WaitForState(int state)
    {
        return WaitFor([&] {
            for (size_t i = seenStates; i < stateList.size(); ++i)
                if (stateList[i] == state) {
                    seenStates = i + 1;
                    return true;
                }
            return false;
        });
    }
    size_t FrameCount()
    {
        std::lock_guard<std::mutex> guard(mutex);
        return frames.size();
    }
    std::vector<Image> Frames()
    {
        std::lock_guard<std::mutex> guard(mutex);
        return frames;
    }

    void Open(int id)
    {
        controller->OpenDevice(CDeviceDescriptor(Simulator::Instance().DeviceName(id), "camera under test"));
        ASSERT_TRUE(WaitForState(1));
    }
    void Control(uint64_t address, uint8_t value)
    {
        controller->Push(1, CRegisterRequest::Write(address, &value, 1).GetPacket());
    }
    void WriteDriverRegister(uint32_t index, uint32_t value)
    {
        controller->Push(1025, CRegisterRequest::Write(index, &value, 4).GetPacket());
    }
};

class HalDevice : public ::testing::Test {
protected:
    void SetUp() override
    {
        RheaTest::LoadCameras(cameras);
        ids = sim.Cameras();
        ASSERT_EQ(ids.size(), 3u);
        createdBefore = Hal::Rhea::CDevice::CreatedBlocks();
        ASSERT_EQ(Hal::Rhea::CDevice::LiveBlocks(), 0);
    }
    uint64_t Created() const { return Hal::Rhea::CDevice::CreatedBlocks() - createdBefore; }

    Simulator& sim = Simulator::Instance();
    std::vector<int> ids;
    uint64_t createdBefore = 0;
};

} // namespace

TEST_F(HalDevice, ContinuousGrabCirculatesSevenBlocksWithCameraHeaderAndCheckWord)
{
    Rig rig;
    rig.Open(ids[0]);
    rig.Control(0, 1);
    ASSERT_TRUE(rig.WaitForState(2));
    ASSERT_TRUE(rig.WaitForFrames(40));
    rig.Control(0, 0);
    ASSERT_TRUE(rig.WaitForState(1));

    const std::vector<Image> frames = rig.Frames();
    std::set<const void*> blocks;
    for (size_t i = 0; i < frames.size(); ++i) {
        const Image& f = frames[i];
        ASSERT_EQ(f.width, 64);
        ASSERT_EQ(f.height, 48);
        ASSERT_EQ(f.pixelType, PixelTypeMono8);
        ASSERT_EQ(f.size, 64u * 48);
        ASSERT_GE(f.counter, 0) << "no camera frame counter in frame " << i;
        // The sinks release every packet at once, so no frame is missed.
        if (i > 0) {
            EXPECT_EQ(f.counter, frames[i - 1].counter + 1) << i;
        }
        blocks.insert(f.block);
    }
    EXPECT_EQ(blocks.size(), 7u);
    EXPECT_EQ(Created(), 7u);
    {
        std::lock_guard<std::mutex> guard(rig.mutex);
        std::string codes;
        for (uint32_t code : rig.errorCodes) {
            char text[16];
            std::snprintf(text, sizeof text, " %08x", code);
            codes += text;
        }
        EXPECT_EQ(rig.errorCodes.size(), 0u) << "error codes:" << codes;
    }
    rig.Shutdown();
    EXPECT_EQ(Hal::Rhea::CDevice::LiveBlocks(), 0);
    EXPECT_EQ(rig.stateList.back(), 0);
}

TEST_F(HalDevice, IncompleteAndAbortedBuffersGoBackToTheDriverWhileGrabbing)
{
    Rig rig;
    rig.Open(ids[0]);
    rig.Control(0, 1);
    ASSERT_TRUE(rig.WaitForState(2));
    ASSERT_TRUE(rig.WaitForFrames(3));
    // More aborts than there are blocks: the grab only goes on if every
    // aborted block is queued again.
    sim.FailBuffers(ids[0], Platform::ErrorOperationAborted, 9);
    sim.FailBuffers(ids[0], Sim1394::IncompleteFrameStatus, 2);
    const size_t before = rig.FrameCount();
    ASSERT_TRUE(rig.WaitForFrames(before + 10));
    rig.Control(0, 0);
    ASSERT_TRUE(rig.WaitForState(1));

    // The failed buffers are missing frames, not errors.
    const std::vector<Image> frames = rig.Frames();
    int64_t missing = 0;
    for (size_t i = 1; i < frames.size(); ++i)
        missing += frames[i].counter - frames[i - 1].counter - 1;
    const Sim1394::CameraStatistics statistics = sim.Statistics(ids[0]);
    EXPECT_EQ(statistics.buffersFailed, 11u);
    EXPECT_GE(missing, 11);
    EXPECT_LE(missing, int64_t(11 + statistics.framesDropped));
    EXPECT_EQ(Created(), 7u);
    {
        std::lock_guard<std::mutex> guard(rig.mutex);
        EXPECT_EQ(rig.errorCodes.size(), 0u);
    }
    rig.Shutdown();
    EXPECT_EQ(Hal::Rhea::CDevice::LiveBlocks(), 0);
}

TEST_F(HalDevice, SingleShotUsesOneBlockThatDeletesItself)
{
    Rig rig;
    rig.Open(ids[0]);
    rig.Control(1, 1);
    ASSERT_TRUE(rig.WaitForState(3));
    ASSERT_TRUE(rig.WaitForState(1));
    EXPECT_EQ(rig.FrameCount(), 1u);
    EXPECT_EQ(Created(), 1u);
    EXPECT_EQ(Hal::Rhea::CDevice::LiveBlocks(), 0);
    EXPECT_EQ(sim.Statistics(ids[0]).buffersQueued, 0u);
}

TEST_F(HalDevice, BlocksOfAnEarlierGrabAreDeletedNotQueuedAfterARestartWithAnotherSize)
{
    Rig rig;
    rig.Open(ids[0]);
    rig.holdNext = 2;
    rig.Control(0, 1);
    ASSERT_TRUE(rig.WaitForFrames(10));
    rig.Control(0, 0);
    ASSERT_TRUE(rig.WaitForState(1));

    rig.WriteDriverRegister(4, 32);
    rig.WriteDriverRegister(5, 16);
    const size_t before = rig.FrameCount();
    rig.Control(0, 1);
    ASSERT_TRUE(rig.WaitForFrames(before + 5));
    // Two blocks of the first grab are still held downstream.
    EXPECT_EQ(Hal::Rhea::CDevice::LiveBlocks(), 9);
    {
        std::lock_guard<std::mutex> guard(rig.mutex);
        rig.held.clear();
    }
    // Completions are handled in order: frames filled after the release
    // come after the handed-back blocks.
    const size_t released = rig.FrameCount();
    ASSERT_TRUE(rig.WaitForFrames(released + 10));
    EXPECT_EQ(Hal::Rhea::CDevice::LiveBlocks(), 7);
    const std::vector<Image> frames = rig.Frames();
    for (size_t i = before; i < frames.size(); ++i) {
        const Image& f = frames[i];
        EXPECT_EQ(f.width, 32);
        EXPECT_EQ(f.height, 16);
        EXPECT_EQ(f.size, 32u * 16);
    }
    EXPECT_EQ(Created(), 14u);
    rig.Shutdown();
    EXPECT_EQ(Hal::Rhea::CDevice::LiveBlocks(), 0);
}

TEST_F(HalDevice, RemovalDuringAGrabFailsTheDeviceAndClosesIt)
{
    Rig rig;
    rig.Open(ids[0]);
    rig.holdNext = 1; // a packet still held downstream when the camera goes
    rig.Control(0, 1);
    ASSERT_TRUE(rig.WaitForFrames(5));
    ASSERT_TRUE(sim.RemoveCamera(ids[0]));
    ASSERT_TRUE(rig.WaitForState(4));
    ASSERT_TRUE(rig.WaitForState(0));
    {
        std::lock_guard<std::mutex> guard(rig.mutex);
        ASSERT_FALSE(rig.errorCodes.empty());
        EXPECT_EQ(rig.errorCodes.front(), 0xCEF10300u);
    }
    EXPECT_EQ(rig.controller->GetState(), 0);
    rig.Shutdown(); // joins the pumper, releases the held packet
    EXPECT_EQ(Hal::Rhea::CDevice::LiveBlocks(), 0);
}

TEST_F(HalDevice, OtherVendorsGetTheHeaderWrittenAndNoFeatureTests)
{
    // Every quadlet request fails: a feature test would fail the grab.
    sim.FailRequests(ids[1], 0x80103FC0, 1, 1000);
    sim.FailRequests(ids[1], 0x80103FC4, 1, 1000);
    Rig rig;
    rig.Open(ids[1]);
    rig.Control(0, 1);
    ASSERT_TRUE(rig.WaitForFrames(3));
    rig.Control(0, 0);
    ASSERT_TRUE(rig.WaitForState(1));
    for (const Image& f : rig.Frames()) {
        EXPECT_EQ(f.width, 64);
        EXPECT_EQ(f.height, 48);
        EXPECT_EQ(f.pixelType, PixelTypeYuv422);
        EXPECT_EQ(f.pitch, 128);
        EXPECT_EQ(f.counter, -1);
        EXPECT_EQ(f.size, 64u * 48 * 2);
    }
    std::lock_guard<std::mutex> guard(rig.mutex);
    EXPECT_TRUE(rig.errorCodes.empty());
}

namespace {

// A sink for using the device without a controller.
struct StateSink : CDeviceController::IChunkBufferSink {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<int> states;
    void OnChunkBuffer(IMemBlock*) override {}
    void OnStateChanged(int state) override
    {
        {
            std::lock_guard<std::mutex> guard(mutex);
            states.push_back(state);
        }
        changed.notify_all();
    }
    void OnError(Tav::CException&) override {}
    bool WaitFor(int state)
    {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::milliseconds(patience),
                                [&] { return !states.empty() && states.back() == state; });
    }
};

uint32_t ReadU32(IRegisterSet& set, uint64_t address)
{
    uint32_t value = 0;
    set.Read(address, &value, 4);
    return value;
}

} // namespace

TEST_F(HalDevice, DriverRegistersWorkOnTheFormat7Mode)
{
    StateSink sink;
    const CDeviceDescriptor descriptor(sim.DeviceName(ids[2]), "Odd camera");
    std::unique_ptr<CDeviceController::IDevice> device(Hal::Rhea::OpenDevice(&descriptor, &sink));
    ASSERT_TRUE(sink.WaitFor(1));
    EXPECT_FALSE(device->HasCheckWord());
    EXPECT_EQ(device->GetRegisterSet(1027), nullptr);
    IRegisterSet& regs = *device->GetRegisterSet(1025);

    char text[64];
    regs.Read(0, text, sizeof text);
    EXPECT_STREQ(text, "Odd camera");
    regs.Read(0, text, 4); // truncated, still terminated
    EXPECT_STREQ(text, "Odd");
    regs.Read(1, text, sizeof text);
    EXPECT_STREQ(text, "1.0");

    EXPECT_EQ(ReadU32(regs, 2), 1u);
    EXPECT_EQ(ReadU32(regs, 3), 0u);
    EXPECT_EQ(ReadU32(regs, 4), 65u);
    EXPECT_EQ(ReadU32(regs, 5), 63u);
    EXPECT_EQ(ReadU32(regs, 6), 65u);
    EXPECT_EQ(ReadU32(regs, 7), 63u);
    EXPECT_EQ(ReadU32(regs, 17), 4u);
    // 4095 bytes a frame fit one packet of 1 byte, raised to the increment.
    EXPECT_EQ(ReadU32(regs, 15), 4u);
    EXPECT_EQ(ReadU32(regs, 18), 0u);
    uint8_t codings[32] = {};
    regs.Read(20, codings, sizeof codings);
    EXPECT_NE(codings[0] | codings[1] | codings[2] | codings[3], 0);

    const uint32_t width = 40;
    regs.Write(4, &width, 4);
    EXPECT_EQ(ReadU32(regs, 4), 40u);
    EXPECT_EQ(ReadU32(regs, 5), 63u);

    auto code = [&](auto f) { return Caught(f).GetCode(); };
    uint32_t value = 1;
    EXPECT_EQ(code([&] { regs.Read(19, &value, 4); }), 0xCEF30003u);
    EXPECT_EQ(code([&] { regs.Read(21, &value, 4); }), 0xCEF30003u);
    EXPECT_EQ(code([&] { regs.Read(uint64_t(1) << 32 | 4, &value, 4); }), 0xCEF30003u);
    EXPECT_EQ(code([&] { regs.Write(15, &value, 4); }), 0xCEF30003u);
    EXPECT_EQ(code([&] { regs.Write(6, &value, 4); }), 0xCEF30004u);
    Tav::CException shortWrite = Caught([&] { regs.Write(4, &value, 2); });
    EXPECT_EQ(shortWrite.GetCode(), 0xCEF00006u);
    EXPECT_EQ(shortWrite.GetLine(), 1188);
    Tav::CException shortRead = Caught([&] { regs.Read(20, codings, 31); });
    EXPECT_EQ(shortRead.GetCode(), 0xCEF00006u);
    EXPECT_EQ(shortRead.GetLine(), 962);
    EXPECT_EQ(Caught([&] { regs.Read(4, nullptr, 4); }).GetLine(), 980);

    IRegisterSet& camera = *device->GetRegisterSet(1024);
    EXPECT_EQ(ReadU32(camera, 0xFFFFF0F00608ull) >> 29, 7u); // current format
    Tav::CException cameraLength = Caught([&] { camera.Read(0xFFFFF0F00608ull, &value, 3); });
    EXPECT_EQ(cameraLength.GetCode(), 0xCEF00006u);
    EXPECT_EQ(cameraLength.GetLine(), 809);

    device->Close();
    ASSERT_TRUE(sink.WaitFor(0));
}

TEST_F(HalDevice, FeatureProbeFindsTheMakersFeaturesOnly)
{
    for (int which : {0, 1}) {
        StateSink sink;
        const CDeviceDescriptor descriptor(sim.DeviceName(ids[which]), "");
        std::unique_ptr<CDeviceController::IDevice> device(Hal::Rhea::OpenDevice(&descriptor, &sink));
        ASSERT_TRUE(sink.WaitFor(1));
        IRegisterSet& probe = *device->GetRegisterSet(1026);
        probe.Write(0, &Hal::Rhea::FeatureCheckWord, 16);
        uint64_t address = 0;
        probe.Read(1, &address, 8);
        if (which == 0) {
            EXPECT_NE(address, 0u);
            // The feature register: present and on.
            const uint32_t feature = ReadU32(*device->GetRegisterSet(1024), address);
            EXPECT_EQ(feature & 0x80000001u, 0x80000001u);
        } else {
            EXPECT_EQ(address, 0u);
        }
        Tav::CException wrongAddress = Caught([&] { probe.Read(2, &address, 8); });
        EXPECT_EQ(wrongAddress.GetCode(), 0xCEF30005u);
        EXPECT_EQ(wrongAddress.GetLine(), 901);
        EXPECT_EQ(Caught([&] { probe.Write(1, &Hal::Rhea::FeatureCheckWord, 16); }).GetLine(), 933);
        EXPECT_EQ(Caught([&] { probe.Write(0, &Hal::Rhea::FeatureCheckWord, 8); }).GetLine(), 929);
        EXPECT_EQ(Caught([&] { probe.Read(1, &address, 4); }).GetLine(), 890);
        device->Close();
        ASSERT_TRUE(sink.WaitFor(0));
    }
}

TEST_F(HalDevice, OpeningAnUnknownCameraFailsWithTheDriverError)
{
    StateSink sink;
    const CDeviceDescriptor descriptor("1394#nobody&nothing#0000000000000000", "");
    Tav::CException error = Caught([&] { delete Hal::Rhea::OpenDevice(&descriptor, &sink); });
    EXPECT_EQ(error.GetCode(), 0xCEF30000u);
    EXPECT_EQ(error.GetLine(), 197);
    EXPECT_EQ(error.GetFile(), "RheaHal.cpp");
    EXPECT_TRUE(sink.states.empty());
}

TEST_F(HalDevice, AfterRemovalRegistersAndGrabsFailWithRemoved)
{
    StateSink sink;
    const CDeviceDescriptor descriptor(sim.DeviceName(ids[1]), "");
    std::unique_ptr<CDeviceController::IDevice> device(Hal::Rhea::OpenDevice(&descriptor, &sink));
    ASSERT_TRUE(sink.WaitFor(1));
    ASSERT_TRUE(sim.RemoveCamera(ids[1]));
    ASSERT_TRUE(sink.WaitFor(4));
    uint32_t value = 0;
    EXPECT_EQ(Caught([&] { device->GetRegisterSet(1025)->Read(4, &value, 4); }).GetCode(), 0xCEF30002u);
    EXPECT_EQ(Caught([&] { device->GetRegisterSet(1026)->Read(1, &value, 8); }).GetCode(), 0xCEF30002u);
    Tav::CException grab = Caught([&] { device->StartContinuousGrab(); });
    EXPECT_EQ(grab.GetCode(), 0xCEF30002u);
    EXPECT_EQ(grab.GetLine(), 376);
    device->Close();
    ASSERT_TRUE(sink.WaitFor(0));
}

// Grabbing, stopping, changing the size, single shots and removal in a loop,
// with packets released late from another thread. Runs for
// TAV_RHEAHAL_STRESS_SECONDS (default 2; the thread-sanitizer run uses 30).
TEST_F(HalDevice, GrabStopResizeAndRemoveInALoop)
{
    const char* setting = std::getenv("TAV_RHEAHAL_STRESS_SECONDS");
    const double seconds = setting ? std::atof(setting) : 2.0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    int rounds = 0;
    while (std::chrono::steady_clock::now() < end || rounds < 3) {
        RheaTest::LoadCameras(cameras);
        const int id = sim.Cameras().front();
        Rig rig;
        rig.Open(id);
        rig.holdNext = 3;
        std::thread releaser;
        for (int step = 0; step < 4; ++step) {
            rig.Control(0, 1);
            ASSERT_TRUE(rig.WaitForFrames(rig.FrameCount() + 3));
            if (step == 1) {
                // Packets held downstream go back from another thread while
                // the grab goes on.
                releaser = std::thread([&rig] {
                    std::vector<CSmartPointer<IPacket>> packets;
                    {
                        std::lock_guard<std::mutex> guard(rig.mutex);
                        packets.swap(rig.held);
                    }
                    packets.clear();
                });
            }
            if (rounds % 3 == 1 && step == 2) {
                ASSERT_TRUE(sim.RemoveCamera(id));
                ASSERT_TRUE(rig.WaitForState(4));
                ASSERT_TRUE(rig.WaitForState(0));
                break;
            }
            rig.Control(0, 0);
            ASSERT_TRUE(rig.WaitForState(1));
            rig.WriteDriverRegister(4, step % 2 ? 64 : 32);
            rig.WriteDriverRegister(5, step % 2 ? 48 : 16);
            rig.Control(1, 1);
            ASSERT_TRUE(rig.WaitForState(1));
        }
        if (releaser.joinable())
            releaser.join();
        rig.Shutdown();
        ASSERT_EQ(Hal::Rhea::CDevice::LiveBlocks(), 0) << "round " << rounds;
        ++rounds;
    }
}
