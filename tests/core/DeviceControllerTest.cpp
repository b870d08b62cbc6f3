#include "Core/Crc16.h"
#include "Core/DeviceController.h"
#include "Core/DeviceDescriptor.h"
#include "Core/ErrorChunk.h"
#include "Core/FactoryBase.h"
#include "Core/HalPlugin.h"
#include "Core/ModuleLinker.h"
#include "Core/RegisterRequest.h"
#include "DataBuffer/AllocMemBlock.h"
#include "DataBuffer/Guid.h"
#include "DataBuffer/ImageChunk.h"
#include "DataBuffer/Packet.h"
#include "DataBuffer/RtlHeapAllocator.h"
#include "DataBuffer/ValueChunk.h"
#include "ObjectFactory.h"
#include "TavTiff.h"

#include "support/TestDevice.h"
#include "support/TestModules.h"
#include "support/TestPaths.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <random>
#include <thread>

using namespace Tav;
using namespace TavTest;

namespace {

template <typename F>
CException Caught(F f)
{
    try {
        f();
    } catch (const CException& e) {
        return e;
    }
    return CException();
}

// What a packet from the controller carries, in a form tests can compare.
std::string Describe(const CSmartPointer<IPacket>& packet)
{
    CChunkPtr<CChunk> chunk;
    packet->FindChunk(chunk, GUID_ImageChunk);
    if (chunk)
        return "image";
    packet->FindChunk(chunk, GUID_AcquisitionMarkerChunk);
    if (chunk)
        return "marker " + std::to_string(ReadChunkValue(chunk));
    packet->FindChunk(chunk, GUID_DeviceStateChunk);
    if (chunk)
        return "state " + std::to_string(ReadChunkValue(chunk));
    packet->FindChunk(chunk, GUID_ErrorChunk);
    if (chunk) {
        CErrorChunkContent error = ReadErrorChunk(chunk);
        char text[64];
        std::snprintf(text, sizeof text, "error %08X %s:%u", error.code, error.file.c_str(), error.line);
        return text;
    }
    return "other";
}

std::vector<std::string> Describe(CollectingSink& sink)
{
    std::vector<std::string> list;
    for (const auto& delivery : sink.Deliveries())
        list.push_back(Describe(delivery.packet));
    return list;
}

std::vector<CSmartPointer<IPacket>> Images(CollectingSink& sink)
{
    std::vector<CSmartPointer<IPacket>> list;
    for (const auto& delivery : sink.Deliveries())
        if (Describe(delivery.packet) == "image")
            list.push_back(delivery.packet);
    return list;
}

class TestFactory : public CFactoryBase {
public:
    ~TestFactory() override { ReleaseAll(); }
    IComponent* CreateObject(const std::string& kind) override
    {
        if (kind == "DeviceController") {
            auto* controller = new CDeviceController;
            controller->SetBuiltInDevice(&TestDevice::OpenTestDevice);
            controller->SetImageFileLoader(&LoadTiffAsChunk);
            return controller;
        }
        return new CollectingSink;
    }
};

// A controller in a factory with sinks on its image, state and error ports
// and one more module that is linked to nothing.
struct Rig {
    TestFactory factory;
    CModuleLinker linker;
    CDeviceController* controller;
    CollectingSink* images;
    CollectingSink* states;
    CollectingSink* errors;
    CollectingSink* other;
    TestDevice* device = nullptr;

    Rig()
    {
        controller = dynamic_cast<CDeviceController*>(factory.GetObject("DeviceController"));
        images = dynamic_cast<CollectingSink*>(factory.GetObject("Images"));
        states = dynamic_cast<CollectingSink*>(factory.GetObject("States"));
        errors = dynamic_cast<CollectingSink*>(factory.GetObject("Errors"));
        other = dynamic_cast<CollectingSink*>(factory.GetObject("Other"));
        linker.Link(controller, 1, images, 1);
        linker.Link(controller, 2, states, 1);
        linker.Link(controller, 0, errors, 1);
    }
    ~Rig()
    {
        // Ends the device's thread before the sinks go.
        factory.GetObject("DeviceController")->Deinitialize();
        linker.UnlinkAll();
    }

    void Open(bool checkWord = false)
    {
        TestDevice::nextHasCheckWord = checkWord;
        controller->OpenDevice(CDeviceDescriptor("camera-1", "Test camera"));
        device = TestDevice::last;
        ASSERT_NE(device, nullptr);
        device->WaitIdle();
    }
    void Settle()
    {
        if (device)
            device->WaitIdle();
    }
    void Write(uint64_t address, uint8_t value)
    {
        controller->Push(1, CRegisterRequest::Write(address, &value, 1).GetPacket());
        Settle();
    }
    uint8_t Read(uint64_t address)
    {
        CRegisterRequest request = CRegisterRequest::Read(address, 1);
        controller->Push(1, request.GetPacket());
        return request.GetValue<uint8_t>();
    }
    size_t CallCount(const std::string& call)
    {
        size_t n = 0;
        for (const std::string& c : device->Calls())
            n += c == call;
        return n;
    }
};

} // namespace

TEST(Crc16, MatchesTheXmodemCheckValueAndABitwiseReferenceAtEveryLength)
{
    EXPECT_EQ(Crc16Xmodem("123456789", 9), 0x31C3);
    EXPECT_EQ(Crc16Xmodem("", 0), 0);

    auto reference = [](const unsigned char* p, size_t n) {
        uint16_t crc = 0;
        for (size_t i = 0; i < n; ++i) {
            crc ^= uint16_t(p[i] << 8);
            for (int bit = 0; bit < 8; ++bit)
                crc = uint16_t(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
        }
        return crc;
    };
    std::mt19937 random(7);
    std::vector<unsigned char> data(300);
    for (auto& b : data)
        b = static_cast<unsigned char>(random());
    for (size_t n = 0; n <= data.size(); ++n)
        ASSERT_EQ(Crc16Xmodem(data.data(), n), reference(data.data(), n)) << n;
    // Continuing from a previous value equals one pass over both parts.
    EXPECT_EQ(Crc16Xmodem(data.data() + 13, 200, Crc16Xmodem(data.data(), 13)), reference(data.data(), 213));
}

TEST(DeviceController, DeclaresItsPortsAndRefusesASecondInitialisation)
{
    CDeviceController controller;
    controller.Initialize("DeviceController", nullptr);
    EXPECT_EQ(controller.GetErrorPort(), 0);
    EXPECT_EQ(controller.GetAuxiliaryPort(), -1);
    CException again = Caught([&] { controller.OnInitialize(); });
    EXPECT_EQ(again.GetCode(), 0xCEF00003u);
    EXPECT_EQ(again.GetLine(), 95);
    EXPECT_EQ(controller.GetState(), 0);
}

TEST(DeviceController, StartIsIgnoredUnlessTheDeviceIsIdle)
{
    Rig rig;
    rig.Write(0, 1); // state 0: no device
    EXPECT_EQ(rig.Read(0), 0);

    rig.Open();
    EXPECT_EQ(rig.controller->GetState(), 1);
    rig.Write(0, 1);
    EXPECT_EQ(rig.controller->GetState(), 2);
    EXPECT_EQ(rig.Read(0), 1);
    rig.Write(0, 1); // state 2
    EXPECT_EQ(rig.CallCount("StartContinuousGrab"), 1u);
    rig.Write(1, 1); // arming while grabbing
    EXPECT_EQ(rig.CallCount("InitSingleShot"), 0u);
    rig.Write(2, 1);
    EXPECT_EQ(rig.controller->GetState(), 1);

    rig.Write(1, 1);
    EXPECT_EQ(rig.controller->GetState(), 3);
    rig.Write(0, 1); // state 3
    EXPECT_EQ(rig.CallCount("StartContinuousGrab"), 1u);
    rig.Write(1, 0);
    EXPECT_EQ(rig.controller->GetState(), 1);

    // A failed device whose close fails stays in state 4.
    rig.device->FailNext("Close");
    rig.device->Report(4);
    rig.Settle();
    EXPECT_EQ(rig.controller->GetState(), 4);
    rig.Write(0, 1);
    EXPECT_EQ(rig.CallCount("StartContinuousGrab"), 1u);
    EXPECT_EQ(rig.Read(2), 0);
}

TEST(DeviceController, ASingleShotDeliversOneFrameBetweenMarkersAndReturnsToIdle)
{
    Rig rig;
    rig.Open();
    rig.Write(1, 1);
    EXPECT_EQ(rig.Read(1), 1);
    // Arming restarts the rest of the graph, but not the controller.
    EXPECT_TRUE(rig.other->IsStarted());
    EXPECT_EQ(rig.other->starts, 1);
    EXPECT_FALSE(rig.controller->IsStarted());

    auto frame = MakeMono8Frame(8, 4, CheckWord::None, 5);
    rig.device->Deliver(frame);
    rig.Settle();

    EXPECT_EQ(Describe(*rig.images), (std::vector<std::string>{"marker 0", "image", "marker 1"}));
    EXPECT_EQ(Describe(*rig.states), (std::vector<std::string>{"state 1", "state 3", "state 1"}));
    EXPECT_EQ(rig.CallCount("CancelSingleShot"), 1u);
    EXPECT_EQ(rig.controller->GetState(), 1);
    EXPECT_EQ(rig.Read(1), 0);

    // The packet wraps the device's block itself.
    auto image = Images(*rig.images).at(0);
    CChunkPtr<CImageChunk> chunk = FindTypedChunk<CImageChunk>(*image, GUID_ImageChunk);
    EXPECT_EQ(chunk->width, 8);
    EXPECT_EQ(chunk->height, 4);
    void* data = frame->Lock();
    int size = 0;
    EXPECT_EQ(chunk.LockData(&size), data);
    EXPECT_EQ(size, 32);
    chunk.UnlockData();
    frame->Unlock();
    EXPECT_TRUE(rig.errors->Deliveries().empty());
}

TEST(DeviceController, ImagePacketsCarryConsecutiveProcessWideSequenceNumbers)
{
    Rig rig;
    rig.Open();
    rig.Write(0, 1);
    for (int i = 0; i < 3; ++i)
        rig.device->Deliver(MakeMono8Frame(4, 2, CheckWord::None, uint8_t(i)));
    rig.Settle();
    rig.Write(0, 0);

    EXPECT_EQ(Describe(*rig.images), (std::vector<std::string>{"marker 0", "image", "image", "image", "marker 1"}));
    auto images = Images(*rig.images);
    ASSERT_EQ(images.size(), 3u);
    int64_t first = images[0]->GetSequenceNumber();
    EXPECT_GE(first, 1);
    EXPECT_EQ(images[1]->GetSequenceNumber(), first + 1);
    EXPECT_EQ(images[2]->GetSequenceNumber(), first + 2);
    // The counter is the process's: the next packet anywhere gets the next value.
    EXPECT_EQ(CPacket::NextSequenceNumber(), first + 3);
    // Markers and states are not numbered.
    EXPECT_EQ(rig.images->Deliveries()[0].packet->GetSequenceNumber(), 0);
}

TEST(DeviceController, AFrameWithABadCheckWordIsDroppedAndStopsAcquisition)
{
    Rig rig;
    rig.Open(true);
    rig.Write(0, 1);
    rig.device->Deliver(MakeMono8Frame(16, 3, CheckWord::Good));
    rig.Settle();
    auto images = Images(*rig.images);
    ASSERT_EQ(images.size(), 1u);
    // The check word stays outside the chunk buffer.
    CSmartPointer<IEnumChunkBuffers> buffers;
    images[0]->EnumChunkBuffers(buffers);
    CSmartPointer<IChunkBuffer> buffer;
    ASSERT_TRUE(buffers->Next(buffer));
    EXPECT_EQ(dynamic_cast<CChunkBuffer*>(buffer.Get())->GetSize(), 16u * 3 + 48);

    rig.device->Deliver(MakeMono8Frame(16, 3, CheckWord::Bad));
    rig.Settle();
    EXPECT_EQ(Images(*rig.images).size(), 1u);
    EXPECT_EQ(rig.CallCount("StopContinuousGrab"), 1u);
    EXPECT_EQ(rig.controller->GetState(), 1);
    EXPECT_EQ(Describe(*rig.errors), (std::vector<std::string>{"error CEF10301 DeviceController.cpp:844"}));
}

TEST(DeviceController, AMalformedBufferIsDroppedWithItsValidationError)
{
    Rig rig;
    rig.Open();
    rig.Write(0, 1);
    auto frame = MakeMono8Frame(4, 4, CheckWord::None);
    auto* bytes = static_cast<unsigned char*>(frame->Lock());
    bytes[frame->GetSize() - 1] ^= 0xFF; // complement no longer matches
    frame->Unlock();
    rig.device->Deliver(frame);
    rig.Settle();
    // A block too short to hold a trailer at all.
    rig.Write(0, 1);
    EXPECT_EQ(rig.controller->GetState(), 2);
    rig.device->Deliver(CAllocMemBlock::Create(3, GetDefaultAllocator()));
    rig.Settle();

    EXPECT_TRUE(Images(*rig.images).empty());
    EXPECT_EQ(rig.controller->GetState(), 1);
    auto errors = Describe(*rig.errors);
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0].substr(0, 14), "error CEF20000");
    EXPECT_EQ(errors[1].substr(0, 14), "error CEF20007");
}

TEST(DeviceController, DeviceErrorsAndFailuresReachTheErrorPort)
{
    Rig rig;
    rig.Open();
    rig.device->RaiseError(0xCEF00009);
    rig.Write(0, 1);
    rig.device->Report(4);
    rig.Settle();
    auto errors = Describe(*rig.errors);
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0].substr(0, 14), "error CEF00009");
    EXPECT_EQ(errors[1], "error CEF10300 DeviceController.cpp:646");
    // Failure ends the acquisition with a marker, then the device is closed.
    EXPECT_EQ(Describe(*rig.images), (std::vector<std::string>{"marker 0", "marker 1"}));
    EXPECT_EQ(Describe(*rig.states), (std::vector<std::string>{"state 1", "state 2", "state 4", "state 0"}));
    EXPECT_EQ(rig.CallCount("Close"), 1u);
}

TEST(DeviceController, CloseWhileGrabbingWaitsForIdleBeforeClosing)
{
    Rig rig;
    rig.Open();
    rig.Write(0, 1);
    int stopsBefore = rig.other->stops;

    rig.device->Hold();
    std::atomic<bool> closed{false};
    std::thread closer([&] {
        rig.controller->CloseDevice();
        closed = true;
    });
    ASSERT_TRUE(rig.device->WaitForCall("StopContinuousGrab"));
    // State 1 cannot have been reported while the device is held.
    EXPECT_FALSE(closed);
    EXPECT_EQ(rig.CallCount("Close"), 0u);
    rig.device->Resume();
    closer.join();

    auto calls = rig.device->Calls();
    auto at = [&](const std::string& call) { return std::find(calls.begin(), calls.end(), call) - calls.begin(); };
    ASSERT_LT(at("Close"), static_cast<long>(calls.size()));
    EXPECT_GT(at("Close"), at("StopContinuousGrab"));
    EXPECT_EQ(calls[at("Close") - 1], "reported 1");
    EXPECT_EQ(rig.other->stops, stopsBefore + 1);
    rig.Settle();
    EXPECT_EQ(rig.controller->GetState(), 0);
}

TEST(DeviceController, CloseWaitingForAStopEndsWhenTheDeviceFailsInstead)
{
    Rig rig;
    rig.Open();
    rig.Write(0, 1);
    // The stop never reports 1: the device fails and is closed instead.
    rig.device->MuteNext("StopContinuousGrab");
    std::thread closer([&] { rig.controller->CloseDevice(); });
    ASSERT_TRUE(rig.device->WaitForCall("StopContinuousGrab"));
    rig.device->Report(4);
    closer.join();
    rig.Settle();
    EXPECT_EQ(rig.controller->GetState(), 0);
    EXPECT_EQ(rig.CallCount("Close"), 1u);
}

TEST(DeviceController, CloseRightAfterOpenClosesTheDeviceThatHasNotReportedYet)
{
    Rig rig;
    TestDevice::nextHeld = true;
    rig.controller->OpenDevice(CDeviceDescriptor("camera-1", "Test camera"));
    TestDevice::nextHeld = false;
    rig.device = TestDevice::last;
    ASSERT_NE(rig.device, nullptr);
    ASSERT_EQ(rig.controller->GetState(), 0);

    // A start requested when the late open report arrives must not reach a
    // device that is closing.
    rig.states->onData = [&](int, const CSmartPointer<IPacket>& packet) {
        if (Describe(packet) == "state 1") {
            uint8_t one = 1;
            rig.controller->Push(1, CRegisterRequest::Write(0, &one, 1).GetPacket());
        }
    };
    rig.controller->CloseDevice();
    EXPECT_EQ(rig.CallCount("Close"), 1u);
    rig.device->Resume();
    rig.Settle();
    rig.states->onData = nullptr;

    EXPECT_EQ(Describe(*rig.states), (std::vector<std::string>{"state 1", "state 0"}));
    EXPECT_EQ(rig.CallCount("StartContinuousGrab"), 0u);
    EXPECT_EQ(rig.controller->GetState(), 0);
    // Closed once only, and a new device opens normally.
    rig.controller->CloseDevice();
    EXPECT_EQ(rig.CallCount("Close"), 1u);
    rig.Open();
    EXPECT_EQ(rig.controller->GetState(), 1);
}

TEST(DeviceController, AFailedCloseCanBeRetried)
{
    Rig rig;
    rig.Open();
    rig.device->FailNext("Close");
    EXPECT_EQ(Caught([&] { rig.controller->CloseDevice(); }).GetCode(), 0xCEF00001u);
    rig.controller->CloseDevice();
    rig.Settle();
    EXPECT_EQ(rig.CallCount("Close"), 2u);
    EXPECT_EQ(rig.controller->GetState(), 0);
}

TEST(DeviceController, DeviceRegisterPortsNeedAnOpenDevice)
{
    Rig rig;
    uint32_t value = 0x12345678;
    auto write = CRegisterRequest::Write(0xF0F00600, &value, 4);
    for (int port : {1024, 1025, 1026}) {
        CException e = Caught([&] { rig.controller->Push(port, write.GetPacket()); });
        EXPECT_EQ(e.GetCode(), 0xCEF10103u) << port;
        EXPECT_NE(e.GetDescription().find("port " + std::to_string(port)), std::string::npos);
    }

    rig.Open();
    rig.controller->Push(1025, write.GetPacket());
    EXPECT_EQ(rig.device->registers[1].calls, (std::vector<std::string>{"write 4042262016 4"}));
    auto read = CRegisterRequest::Read(0xF0F00600, 4);
    rig.controller->Push(1025, read.GetPacket());
    EXPECT_EQ(read.GetValue<uint32_t>(), value);
    EXPECT_EQ(Caught([&] { rig.controller->Push(1027, read.GetPacket()); }).GetCode(), 0xCEF10103u);

    rig.controller->CloseDevice();
    rig.Settle();
    EXPECT_EQ(Caught([&] { rig.controller->Push(1024, read.GetPacket()); }).GetCode(), 0xCEF10103u);
}

TEST(DeviceController, MalformedRequestsAndControlRegisterMisuseFailWithTheirLines)
{
    Rig rig;
    rig.Open();
    struct Case {
        uint64_t address;
        uint32_t direction, length, dataSize;
        uint32_t code;
        int line;
    };
    const Case cases[] = {
        {0, 0, 1, 0, 0xCEF00006, 700},          {0, 0, 0, 1, 0xCEF00006, 707},
        {1, 0, 0, 1, 0xCEF00006, 714},          {2, 0, 0, 1, 0xCEF00006, 721},
        {3, 0, 1, 1, 0xCEF00008, 728},          {4, 0, 1, 1, 0xCEF00008, 728},
        {1ull << 32, 0, 1, 1, 0xCEF00008, 728}, {0, 1, 1, 0, 0xCEF00006, 752},
        {0, 1, 2, 2, 0xCEF00006, 759},          {1, 1, 0, 1, 0xCEF00006, 770},
        {2, 1, 2, 2, 0xCEF00006, 781},          {4, 1, 2, 2, 0xCEF00006, 797},
        {5, 1, 1, 1, 0xCEF00008, 808},          {1ull << 32, 1, 1, 1, 0xCEF00008, 808},
        {0, 2, 1, 1, 0xCEF00004, 538},
    };
    for (const Case& c : cases) {
        const uint8_t data[4] = {0, 0, 0, 0};
        auto request = CRegisterRequest::Make(c.address, c.direction, c.length, c.dataSize, data);
        CException e = Caught([&] { rig.controller->Push(1, request.GetPacket()); });
        EXPECT_EQ(e.GetCode(), c.code) << c.address << " " << c.direction << " " << c.length;
        EXPECT_EQ(e.GetLine(), c.line) << c.address << " " << c.direction << " " << c.length;
        EXPECT_EQ(e.GetFile(), "DeviceController.cpp");
    }
    CException empty = Caught([&] { rig.controller->Push(1, MakeTextPacket("no request")); });
    EXPECT_EQ(empty.GetCode(), 0xCEF00004u);
    EXPECT_EQ(empty.GetLine(), 508);
    // A length beyond the data area is refused before the set sees it.
    auto longer = CRegisterRequest::Make(1024, 0, 64, 4, nullptr);
    rig.controller->Push(1024, CRegisterRequest::Make(0, 0, 4, 4, nullptr).GetPacket());
    EXPECT_EQ(Caught([&] { rig.controller->Push(1024, longer.GetPacket()); }).GetCode(), 0xCEF00006u);
    EXPECT_EQ(rig.device->registers[0].calls.size(), 1u);
    EXPECT_EQ(rig.controller->GetState(), 1);
}

TEST(DeviceController, DeviceFailuresOnARegisterWriteReachTheRequester)
{
    Rig rig;
    rig.Open();
    rig.device->FailNext("StartContinuousGrab");
    uint8_t one = 1;
    CException e = Caught([&] { rig.controller->Push(1, CRegisterRequest::Write(0, &one, 1).GetPacket()); });
    EXPECT_EQ(e.GetCode(), 0xCEF00001u);
    EXPECT_EQ(rig.controller->GetState(), 1);
}

TEST(DeviceController, OpeningAgainClosesAndReplacesTheDevice)
{
    Rig rig;
    rig.Open();
    rig.Write(0, 1);
    rig.Open();
    EXPECT_EQ(rig.controller->GetState(), 1);
    EXPECT_EQ(Describe(*rig.states),
              (std::vector<std::string>{"state 1", "state 2", "state 1", "state 0", "state 1"}));
    EXPECT_EQ(rig.device->Calls().front(), "Open camera-1");
}

TEST(DeviceController, WithoutPlugInOrCameraLayerOpeningFailsClearly)
{
    CDeviceController controller;
    controller.Initialize("DeviceController", nullptr);
    CException e = Caught([&] { controller.OpenDevice(CDeviceDescriptor("camera-1", "")); });
    EXPECT_EQ(e.GetCode(), 0xCEF00001u);
    EXPECT_NE(e.GetDescription().find("1394"), std::string::npos) << e.GetDescription();
    EXPECT_FALSE(controller.HasDevice());
}

namespace {

// Selects a HAL plug-in for one test.
struct PlugInChoice {
    explicit PlugInChoice(const char* name) { halPluginName = name; }
    ~PlugInChoice() { halPluginName = nullptr; }
};

} // namespace

TEST(DeviceController, OpensThroughTheChosenPlugIn)
{
    CollectingSink states;
    states.Initialize("States", nullptr);
    CModuleLinker linker;
    {
        CDeviceController controller;
        controller.Initialize("DeviceController", nullptr);
        linker.Link(&controller, 2, &states, 1);
        {
            PlugInChoice choice("NoSuchHal.dll");
            CException e = Caught([&] { controller.OpenDevice(CDeviceDescriptor("plugin-0", "")); });
            EXPECT_EQ(e.GetCode(), 0x8007007Eu);
            EXPECT_EQ(e.GetLine(), 322);
        }
        PlugInChoice choice("TestHalGood.dll");
        EXPECT_EQ(Caught([&] { controller.OpenDevice(CDeviceDescriptor("refuse", "")); }).GetCode(), 0xCEF00001u);
        controller.OpenDevice(CDeviceDescriptor("plugin-0", ""));
        EXPECT_EQ(controller.GetState(), 1);
        uint8_t one = 1;
        controller.Push(1, CRegisterRequest::Write(0, &one, 1).GetPacket());
        EXPECT_EQ(controller.GetState(), 2);
        controller.Deinitialize();
        EXPECT_EQ(controller.GetState(), 0);
        linker.UnlinkAll();
    }
    EXPECT_EQ(Describe(states), (std::vector<std::string>{"state 1", "state 2", "state 1", "state 0"}));
}

TEST(DeviceController, InjectedTiffFilesReachTheImagePort)
{
    const std::string dir = MakeTempDirectory();
    const std::string file = dir + "/frame.tif";
    CChunkPtr<CImageChunk> source = CreateImageChunkBuffer(0, 0, 5, 3, GetDefaultAllocator(), PixelTypeMono16);
    source->bitDepth = 12;
    int size = 0;
    auto* samples = static_cast<uint16_t*>(source.LockData(&size));
    for (int i = 0; i < 15; ++i)
        samples[i] = uint16_t(i * 200);
    source.UnlockData();
    SaveChunkAsTiff(file.c_str(), source);

    PlugInChoice choice("TestHalGood.dll");
    CObjectFactory factory;
    auto* controller = dynamic_cast<CDeviceController*>(factory.GetObject("DeviceController"));
    ASSERT_NE(controller, nullptr);
    auto* images = new CollectingSink;
    factory.Register("Images", images);
    CModuleLinker linker;
    linker.Link(controller, 1, images, 1);

    auto writeName = [&](const std::string& name) {
        controller->Push(1, CRegisterRequest::Write(3, name.c_str(), uint32_t(name.size() + 1)).GetPacket());
    };
    uint8_t one = 1;
    auto inject = CRegisterRequest::Write(4, &one, 1);
    writeName(file);
    controller->Push(1, inject.GetPacket()); // no device yet: nothing happens
    EXPECT_EQ(images->Count(), 0u);

    controller->OpenDevice(CDeviceDescriptor("plugin-0", ""));
    controller->Push(1, inject.GetPacket());
    controller->Push(1, inject.GetPacket());
    ASSERT_EQ(images->Count(), 2u);
    auto packet = images->Deliveries()[0].packet;
    EXPECT_EQ(packet->GetSequenceNumber(), 0);
    CChunkPtr<CImageChunk> chunk = FindTypedChunk<CImageChunk>(*packet, GUID_ImageChunk);
    ASSERT_TRUE(chunk);
    EXPECT_EQ(chunk->width, 5);
    EXPECT_EQ(chunk->height, 3);
    EXPECT_EQ(chunk->pixelType, PixelTypeMono16);
    EXPECT_EQ(chunk->bitDepth, 12);
    auto* loaded = static_cast<uint16_t*>(chunk.LockData(&size));
    EXPECT_EQ(loaded[14], 14 * 200);
    chunk.UnlockData();

    // A name without its NUL is read up to the end of the request only.
    controller->Push(1, CRegisterRequest::Write(3, "/nonexistent.tif", 5).GetPacket());
    CException missing = Caught([&] { controller->Push(1, inject.GetPacket()); });
    EXPECT_EQ(missing.GetCode(), 0xCFD10002u);
    EXPECT_NE(missing.GetDescription().find("/none\n"), std::string::npos) << missing.GetDescription();
    EXPECT_EQ(images->Count(), 2u);
    linker.UnlinkAll();
}

TEST(DeviceController, DeinitialisingWhileGrabbingClosesAndReleasesTheDevice)
{
    auto rig = std::make_unique<Rig>();
    rig->Open();
    rig->Write(0, 1);
    rig->controller->Deinitialize();
    EXPECT_FALSE(rig->controller->HasDevice());
    EXPECT_EQ(rig->controller->GetState(), 0);
}
