#include "graph/LauncherRig.h"

#include "Core/DeviceDescriptor.h"
#include "Core/ErrorChunk.h"
#include "Core/RegisterRequest.h"
#include "DataBuffer/Guid.h"
#include "DataBuffer/ImageChunk.h"
#include "DataBuffer/ValueChunk.h"

#include "support/TestPaths.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <dirent.h>

namespace TavTest {

using namespace Tav;

namespace {

const char* const graph = R"(<?xml version="1.0"?>
<Graph>
  <Modules>
    <Module name="DeviceController"/>
    <Module name="DroppedFramesChecker"/>
    <Module name="Decoupler"/>
    <Module name="Frames"/>
    <Module name="Sink"/>
    <Module name="Errors"/>
    <Module name="Configurator"/>
  </Modules>
  <Connections>
    <Connection srcModule="DeviceController" srcPort="1" dstModule="DroppedFramesChecker" dstPort="1"/>
    <Connection srcModule="DroppedFramesChecker" srcPort="1" dstModule="Decoupler" dstPort="1"/>
    <Connection srcModule="DroppedFramesChecker" srcPort="1" dstModule="Frames" dstPort="1"/>
    <Connection srcModule="Decoupler" srcPort="1" dstModule="Sink" dstPort="1"/>
    <Connection srcModule="DeviceController" srcPort="2" dstModule="Sink" dstPort="2"/>
    <Connection srcModule="Configurator" srcPort="1" dstModule="DeviceController" dstPort="1"/>
    <Connection srcModule="Configurator" srcPort="1025" dstModule="DeviceController" dstPort="1025"/>
    <Connection srcModule="DeviceController" srcPort="0" dstModule="Errors" dstPort="1"/>
    <Connection srcModule="DroppedFramesChecker" srcPort="0" dstModule="Errors" dstPort="1"/>
    <Connection srcModule="Decoupler" srcPort="0" dstModule="Errors" dstPort="1"/>
    <Connection srcModule="Configurator" srcPort="0" dstModule="Errors" dstPort="1"/>
  </Connections>
</Graph>
)";

} // namespace

// ---- Recorder ---------------------------------------------------------------

void Recorder::OnInitialize()
{
    CModuleBase::OnInitialize();
    SetErrorPort(0);
    SetAuxiliaryPort(-1);
}

void Recorder::OnData(int, const CSmartPointer<IPacket>& packet)
{
    {
        std::lock_guard<std::mutex> guard(mutex);
        CChunkPtr<CChunk> chunk;
        if (CChunkPtr<CImageChunk> image = FindTypedChunk<CImageChunk>(*packet, GUID_ImageChunk)) {
            ++images;
            lastWidth = image->width;
            lastHeight = image->height;
        } else if (packet->FindChunk(chunk, GUID_AcquisitionMarkerChunk), chunk) {
            ++markers;
        } else if (packet->FindChunk(chunk, GUID_DeviceStateChunk), chunk) {
            states.push_back(int(ReadChunkValue(chunk)));
        } else if (packet->FindChunk(chunk, GUID_ErrorChunk), chunk) {
            CErrorChunkContent error = ReadErrorChunk(chunk);
            ++errors[error.code];
            char line[64];
            std::snprintf(line, sizeof line, "%08X %s:%u ", error.code, error.file.c_str(), error.line);
            errorLog += line + error.description + "\n";
        }
    }
    changed.notify_all();
}

uint64_t Recorder::Images()
{
    std::lock_guard<std::mutex> guard(mutex);
    return images;
}

uint64_t Recorder::Markers()
{
    std::lock_guard<std::mutex> guard(mutex);
    return markers;
}

std::vector<int> Recorder::States()
{
    std::lock_guard<std::mutex> guard(mutex);
    return states;
}

uint32_t Recorder::LastWidth()
{
    std::lock_guard<std::mutex> guard(mutex);
    return lastWidth;
}

uint32_t Recorder::LastHeight()
{
    std::lock_guard<std::mutex> guard(mutex);
    return lastHeight;
}

std::map<uint32_t, uint64_t> Recorder::Errors()
{
    std::lock_guard<std::mutex> guard(mutex);
    return errors;
}

uint64_t Recorder::ErrorCount(uint32_t code)
{
    std::lock_guard<std::mutex> guard(mutex);
    auto found = errors.find(code);
    return found == errors.end() ? 0 : found->second;
}

std::string Recorder::ErrorLog()
{
    std::lock_guard<std::mutex> guard(mutex);
    return errorLog;
}

// ---- HostStandIn --------------------------------------------------------------

void HostStandIn::OnInitialize()
{
    CModuleBase::OnInitialize();
    SetErrorPort(0);
    SetAuxiliaryPort(-1);
    for (int port : {1024, 1, 1025, 1026})
        AddOutputPort(port);
}

void HostStandIn::Attach(const std::string&)
{
    ++attached;
}

void HostStandIn::Detach()
{
    ++detached;
}

void HostStandIn::Write(int port, uint64_t address, const void* data, uint32_t length)
{
    Send(port, CRegisterRequest::Write(address, data, length).GetPacket());
}

// ---- LauncherRig --------------------------------------------------------------

Sim1394::CameraDescription SoakCamera(uint64_t chipId, double frameRate)
{
    Sim1394::CameraDescription camera;
    camera.vendor = "Quarlo";
    camera.model = "Soak";
    camera.chipId = chipId;
    camera.maxWidth = 64;
    camera.maxHeight = 48;
    camera.imageHeader = true;
    camera.checkWord = true;
    camera.frameRate = frameRate;
    return camera;
}

LauncherRig::LauncherRig(const Sim1394::CameraDescription& description) : camera(description)
{
    previousHost = Platform::SetMessageBoxHost(&RecordBox, this, &previousContext);
    Sim1394::Install();
    Sim1394::Simulator& sim = Sim1394::Simulator::Instance();
    sim.RemoveAllCameras();
    cameraId = sim.AddCamera(camera);

    // A '-' in an option's value would empty it: no MakeTempDirectory here.
    char pattern[] = "/tmp/tavgraphXXXXXX";
    directory = mkdtemp(pattern) ? pattern : "/tmp";
    graphFile = directory + "/graph.xml";
    WriteFile(graphFile, graph);
    launcher = std::make_unique<CLauncher>(CCommandLine("Launcher -connections " + graphFile), [this] {
        host = new HostStandIn;
        return host;
    });
    CObjectFactory& factory = launcher->GetFactory();
    frames = new Recorder;
    factory.Register("Frames", frames);
    sink = new Recorder;
    factory.Register("Sink", sink);
    errors = new Recorder;
    factory.Register("Errors", errors);
    EXPECT_TRUE(launcher->Initialize());
    controller = dynamic_cast<CDeviceController*>(factory.GetObject("DeviceController"));
    checker = dynamic_cast<CDroppedFramesChecker*>(factory.GetObject("DroppedFramesChecker"));
    EXPECT_NE(controller, nullptr);
    EXPECT_NE(checker, nullptr);
}

LauncherRig::~LauncherRig()
{
    launcher.reset();
    Sim1394::Simulator::Instance().RemoveAllCameras();
    Platform::SetMessageBoxHost(previousHost, previousContext);
    std::remove(graphFile.c_str());
    std::remove(directory.c_str());
}

Platform::MessageBoxAnswer LauncherRig::RecordBox(const Platform::MessageBoxRequest& request, void* context)
{
    auto* self = static_cast<LauncherRig*>(context);
    std::lock_guard<std::mutex> guard(self->boxMutex);
    self->boxes.push_back(request.text);
    return Platform::SafeAnswer(request.buttons);
}

std::vector<std::string> LauncherRig::Boxes()
{
    std::lock_guard<std::mutex> guard(boxMutex);
    return boxes;
}

bool LauncherRig::Connect()
{
    const Sim1394::Simulator& sim = Sim1394::Simulator::Instance();
    return launcher->Connect(CDeviceDescriptor(sim.DeviceName(cameraId), "simulated camera"));
}

std::chrono::milliseconds LauncherRig::Disconnect()
{
    const auto start = std::chrono::steady_clock::now();
    launcher->Disconnect();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
}

void LauncherRig::Control(uint64_t address, uint8_t value)
{
    host->Write(1, address, &value, 1);
}

void LauncherRig::DriverRegister(uint32_t index, uint32_t value)
{
    host->Write(1025, index, &value, 4);
}

bool LauncherRig::WaitForState(int state, int milliseconds)
{
    return sink->WaitFor(
        [&] {
            for (size_t i = seenStates; i < sink->states.size(); ++i)
                if (sink->states[i] == state) {
                    seenStates = i + 1;
                    return true;
                }
            return false;
        },
        milliseconds);
}

bool LauncherRig::WaitForImages(uint64_t count, int milliseconds)
{
    const uint64_t target = frames->Images() + count;
    return frames->WaitFor([&] { return frames->images >= target; }, milliseconds);
}

bool LauncherRig::RemoveCamera()
{
    return Sim1394::Simulator::Instance().RemoveCamera(cameraId, true);
}

void LauncherRig::AddCameraAgain()
{
    cameraId = Sim1394::Simulator::Instance().AddCamera(camera);
}

int ThreadCount()
{
    int count = 0;
    if (DIR* tasks = opendir("/proc/self/task")) {
        while (dirent* entry = readdir(tasks))
            count += entry->d_name[0] != '.';
        closedir(tasks);
    }
    return count;
}

} // namespace TavTest
