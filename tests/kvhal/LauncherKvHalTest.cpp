// The GenICam plug-in inside the launcher: a graph from a connection file,
// "-kvhal" on the command line, Aravis' fake camera, and the configuration
// GUI's register traffic coming from a thread of its own.
#include "KvHalSupport.h"

#include "Launcher.h"

#include "Core/DeviceDescriptor.h"
#include "Platform/MessageBox.h"
#include "support/TestPaths.h"

#include <arv.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>

using namespace Tav;
using namespace TavTest;

namespace {

// Stands in for the configurator: the GUI's register ports, and the device
// states it is sent.
class GuiPorts : public CModuleBase {
public:
    void OnInitialize() override
    {
        CModuleBase::OnInitialize();
        SetErrorPort(0);
        SetAuxiliaryPort(-1);
        for (int port : {1, 1024, 1025, 1026, 2048})
            AddOutputPort(port);
    }
    void OnData(int, const CSmartPointer<IPacket>& packet) override { Record(*recording, 2, packet); }
    void Request(int port, const CSmartPointer<IPacket>& packet) { Send(port, packet); }
    Recording* recording = nullptr;
};

// A module name per recording sink: port 1 images (after the HDR filter),
// port 0 errors.
class RecordingSink : public CModuleBase {
public:
    RecordingSink(Recording& recording, int as) : recording(recording), as(as) {}
    void OnInitialize() override
    {
        CModuleBase::OnInitialize();
        SetErrorPort(0);
        SetAuxiliaryPort(-1);
    }
    void OnData(int, const CSmartPointer<IPacket>& packet) override { Record(recording, as, packet); }

private:
    Recording& recording;
    int as;
};

const char* const graph = R"(<?xml version="1.0"?>
<Launcher>
  <Modules>
    <Module name="DeviceController"/>
    <Module name="DroppedFramesChecker"/>
    <Module name="Decoupler"/>
    <Module name="HDRFilter"/>
    <Module name="Images"/>
    <Module name="Errors"/>
    <Module name="Configurator"/>
  </Modules>
  <Connections>
    <Connection srcModule="DeviceController" srcPort="1" dstModule="DroppedFramesChecker" dstPort="1"/>
    <Connection srcModule="DroppedFramesChecker" srcPort="1" dstModule="Decoupler" dstPort="1"/>
    <Connection srcModule="Decoupler" srcPort="1" dstModule="HDRFilter" dstPort="1"/>
    <Connection srcModule="HDRFilter" srcPort="1" dstModule="Images" dstPort="1"/>
    <Connection srcModule="HDRFilter" srcPort="3" dstModule="DeviceController" dstPort="1025"/>
    <Connection srcModule="Configurator" srcPort="1" dstModule="DeviceController" dstPort="1"/>
    <Connection srcModule="Configurator" srcPort="1024" dstModule="DeviceController" dstPort="1024"/>
    <Connection srcModule="Configurator" srcPort="1025" dstModule="DeviceController" dstPort="1025"/>
    <Connection srcModule="Configurator" srcPort="1026" dstModule="DeviceController" dstPort="1026"/>
    <Connection srcModule="DeviceController" srcPort="2" dstModule="Configurator" dstPort="1"/>
    <Connection srcModule="DeviceController" srcPort="0" dstModule="Errors" dstPort="1"/>
    <Connection srcModule="Decoupler" srcPort="0" dstModule="Errors" dstPort="1"/>
    <Connection srcModule="HDRFilter" srcPort="0" dstModule="Errors" dstPort="1"/>
  </Connections>
</Launcher>
)";

// What the GUI reads on a refresh: acquisition state, the camera pages
// (IIDC addresses on 1024 that a GenICam camera refuses), the features.
const std::pair<int, uint64_t> refreshedRegisters[] = {
    {1, 0},    {1, 1},    {1, 2},    {1025, 0}, {1025, 1},    {1025, 2},           {1025, 4},
    {1025, 5}, {1025, 6}, {1025, 18}, {1025, 14}, {1024, 0xFFFFF0F00100ull}, {1024, 0xFFFFF0F00800ull},
    {1024, 0xFFFFF0F00830ull}, {1024, 0x100},
};

class LauncherWithKvHal : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        arv_disable_interface("GigEVision");
        arv_disable_interface("USB3Vision");
        arv_enable_interface("Fake");
    }

    void SetUp() override
    {
        previousHost = Platform::SetMessageBoxHost(&LauncherWithKvHal::Box, this, &previousContext);
        // The command line takes no '-' inside an option's value.
        char pattern[] = "/tmp/tavkvhalXXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        directory = pattern;
        WriteFile(directory + "/graph.xml", graph);
        launcher = std::make_unique<CLauncher>(CCommandLine("Launcher -kvhal -connections " + directory + "/graph.xml"),
                                               [this] {
                                                   gui = new GuiPorts;
                                                   gui->recording = &recording;
                                                   return gui;
                                               });
        ASSERT_STREQ(halPluginName, "KvHal.dll");
        CObjectFactory& factory = launcher->GetFactory();
        factory.Register("Images", new RecordingSink(recording, 1));
        factory.Register("Errors", new RecordingSink(recording, 0));
        ASSERT_TRUE(launcher->Initialize()) << Boxes();
        controller = dynamic_cast<CDeviceController*>(factory.GetObject("DeviceController"));
        ASSERT_NE(controller, nullptr);

        const std::vector<CDeviceDescriptor> devices = EnumerateWith(halPluginName);
        ASSERT_FALSE(devices.empty());
        camera = devices.front();
    }

    void TearDown() override
    {
        StopRefreshing();
        launcher.reset();
        std::remove((directory + "/graph.xml").c_str());
        std::remove(directory.c_str());
        halPluginName = nullptr;
        Platform::SetMessageBoxHost(previousHost, previousContext);
    }

    static Platform::MessageBoxAnswer Box(const Platform::MessageBoxRequest& request, void* context)
    {
        auto* self = static_cast<LauncherWithKvHal*>(context);
        std::lock_guard<std::mutex> guard(self->boxMutex);
        self->boxes += std::string(request.text ? request.text : "") + "\n";
        return Platform::SafeAnswer(request.buttons);
    }

    // The GUI's own thread: writes and reads through the configurator's ports.
    void Control(uint64_t address, uint8_t value)
    {
        std::thread writer([&] { gui->Request(1, CRegisterRequest::Write(address, &value, 1).GetPacket()); });
        writer.join();
    }

    // Reads what a GUI refresh reads, over and over, until stopped; refused
    // registers are fine, anything else thrown is counted.
    void StartRefreshing()
    {
        refresher = std::thread([this] {
            while (!stopRefreshing) {
                for (const auto& [port, address] : refreshedRegisters) {
                    try {
                        gui->Request(port, CRegisterRequest::Read(address, 4).GetPacket());
                        ++reads;
                    } catch (const CException&) {
                        ++refusals;
                    } catch (...) {
                        ++oddFailures;
                    }
                }
            }
        });
    }
    void StopRefreshing()
    {
        stopRefreshing = true;
        if (refresher.joinable())
            refresher.join();
    }

    size_t ImagesSeen() { return recording.FrameCount(); }
    std::string Boxes()
    {
        std::lock_guard<std::mutex> guard(boxMutex);
        return boxes;
    }

    Recording recording;
    std::mutex boxMutex;
    std::string boxes;
    std::string directory;
    std::unique_ptr<CLauncher> launcher;
    GuiPorts* gui = nullptr;
    CDeviceController* controller = nullptr;
    CDeviceDescriptor camera{"", ""};
    std::thread refresher;
    std::atomic<bool> stopRefreshing{false};
    std::atomic<int> reads{0}, refusals{0}, oddFailures{0};
    Platform::MessageBoxHost previousHost = nullptr;
    void* previousContext = nullptr;
};

bool LastStateIs(Recording& recording, int state)
{
    return recording.WaitFor([&](Recording& r) { return !r.states.empty() && r.states.back() == state; });
}

} // namespace

TEST_F(LauncherWithKvHal, ContinuousGrabReachesTheEndOfTheGraphWhileTheGuiRefreshes)
{
    controller->OpenDevice(camera);
    ASSERT_TRUE(LastStateIs(recording, 1));
    StartRefreshing();

    Control(0, 1);
    ASSERT_TRUE(recording.WaitFor([](Recording& r) { return r.frames.size() >= 30; }))
        << ImagesSeen() << " images, state " << controller->GetState() << "\n" << Boxes();
    Control(0, 0);
    ASSERT_TRUE(LastStateIs(recording, 1));
    const size_t afterStop = ImagesSeen();

    // A second run after the stop delivers again.
    Control(0, 1);
    ASSERT_TRUE(recording.WaitFor([&](Recording& r) { return r.frames.size() >= afterStop + 10; }));
    // Stop (register 2) ends it as well.
    Control(2, 1);
    ASSERT_TRUE(LastStateIs(recording, 1));
    StopRefreshing();

    EXPECT_GT(reads.load(), 0);
    EXPECT_GT(refusals.load(), 0);
    EXPECT_EQ(oddFailures.load(), 0);
    std::lock_guard<std::mutex> guard(recording.mutex);
    EXPECT_TRUE(recording.errors.empty()) << recording.errors.size() << " errors, first 0x" << std::hex
                                          << recording.errors.front();
    EXPECT_EQ(recording.frames.front().header.width, 512);
    EXPECT_EQ(recording.frames.front().header.pixelType, PixelTypeMono8);
}

TEST_F(LauncherWithKvHal, SingleShotsThenDisconnectWhileGrabbing)
{
    controller->OpenDevice(camera);
    ASSERT_TRUE(LastStateIs(recording, 1));
    StartRefreshing();
    for (size_t shot = 1; shot <= 3; ++shot) {
        Control(1, 1);
        ASSERT_TRUE(recording.WaitFor([&](Recording& r) { return r.frames.size() >= shot; })) << "shot " << shot;
        ASSERT_TRUE(LastStateIs(recording, 1));
    }
    EXPECT_EQ(ImagesSeen(), 3u);

    Control(0, 1);
    ASSERT_TRUE(recording.WaitFor([](Recording& r) { return r.frames.size() >= 10; }));
    launcher->Disconnect();
    ASSERT_TRUE(LastStateIs(recording, 0));
    EXPECT_EQ(Boxes(), "");

    // And connects again.
    controller->OpenDevice(camera);
    ASSERT_TRUE(LastStateIs(recording, 1));
    const size_t before = ImagesSeen();
    Control(0, 1);
    ASSERT_TRUE(recording.WaitFor([&](Recording& r) { return r.frames.size() >= before + 10; }));
}
