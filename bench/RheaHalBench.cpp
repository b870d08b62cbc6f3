// Sustained frame rate of the whole camera path: simulated camera with an
// unlimited frame clock, driver client, 1394 device with its pumper, device
// controller, and a sink that counts image packets. Also the CPU time the
// pumper thread spends per frame (device and controller; the pattern is
// generated on the camera's own clock thread and is not included).

#include "Device.h"
#include "Sim1394/Sim1394.h"

#include "Core/DeviceController.h"
#include "Core/DeviceDescriptor.h"
#include "Core/FactoryBase.h"
#include "Core/ModuleBase.h"
#include "Core/ModuleLinker.h"
#include "Core/RegisterRequest.h"
#include "DataBuffer/Guid.h"
#include "DataBuffer/ValueChunk.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <mutex>

namespace {

using namespace Tav;

double ThreadCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

class CountingSink : public CModuleBase {
public:
    void OnInitialize() override
    {
        CModuleBase::OnInitialize();
        SetErrorPort(0);
        SetAuxiliaryPort(-1);
    }
    void OnData(int, const CSmartPointer<IPacket>& packet) override
    {
        CChunkPtr<CChunk> chunk;
        packet->FindChunk(chunk, GUID_DeviceStateChunk);
        if (chunk) {
            std::lock_guard<std::mutex> guard(mutex);
            deviceState = int(ReadChunkValue(chunk));
            reached.notify_all();
            return;
        }
        packet->FindChunk(chunk, GUID_ImageChunk);
        if (!chunk)
            return;
        // Runs on the pumper thread: its CPU clock is the one to read.
        const double cpu = ThreadCpuSeconds();
        std::lock_guard<std::mutex> guard(mutex);
        if (frames == 0)
            firstCpu = cpu;
        lastCpu = cpu;
        ++frames;
        if (frames >= target)
            reached.notify_all();
    }
    // Waits until `count` frames have arrived in all.
    bool WaitFor(uint64_t count)
    {
        std::unique_lock<std::mutex> lock(mutex);
        target = count;
        return reached.wait_for(lock, std::chrono::seconds(30), [&] { return frames >= count; });
    }

    bool WaitForState(int state)
    {
        std::unique_lock<std::mutex> lock(mutex);
        return reached.wait_for(lock, std::chrono::seconds(30), [&] { return deviceState == state; });
    }

    std::mutex mutex;
    std::condition_variable reached;
    int deviceState = 0;
    uint64_t frames = 0;
    uint64_t target = ~uint64_t(0);
    double firstCpu = 0, lastCpu = 0;
};

class Factory : public CFactoryBase {
public:
    ~Factory() override { ReleaseAll(); }
    IComponent* CreateObject(const std::string& kind) override
    {
        if (kind == "DeviceController") {
            auto* controller = new CDeviceController;
            controller->SetBuiltInDevice(&Hal::Rhea::OpenDevice);
            return controller;
        }
        return new CountingSink;
    }
};

void RunPath(benchmark::State& state, const char* description)
{
    using Tav::Sim1394::Simulator;
    Tav::Sim1394::Install();
    std::string error;
    if (!Simulator::Instance().LoadDescription(description, error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    Factory factory;
    CModuleLinker linker;
    auto* controller = dynamic_cast<CDeviceController*>(factory.GetObject("DeviceController"));
    auto* sink = dynamic_cast<CountingSink*>(factory.GetObject("Counter"));
    linker.Link(controller, 1, sink, 1);
    linker.Link(controller, 2, sink, 1);
    controller->OpenDevice(
        CDeviceDescriptor(Simulator::Instance().DeviceName(Simulator::Instance().Cameras().front()), "bench"));
    if (!sink->WaitForState(1)) {
        state.SkipWithError("the device did not open");
        return;
    }
    const uint8_t one = 1;
    controller->Push(1, CRegisterRequest::Write(0, &one, 1).GetPacket());
    if (!sink->WaitFor(20)) {
        state.SkipWithError("no frames");
        return;
    }
    constexpr uint64_t framesPerIteration = 100;
    uint64_t startFrames = 0;
    double startCpu = 0;
    {
        std::lock_guard<std::mutex> guard(sink->mutex);
        startFrames = sink->frames;
        startCpu = sink->lastCpu;
    }
    uint64_t wanted = startFrames;
    bool stalled = false;
    for (auto _ : state) {
        wanted += framesPerIteration;
        if (!sink->WaitFor(wanted)) {
            stalled = true;
            break;
        }
    }
    uint64_t frames = 0;
    double cpu = 0;
    {
        std::lock_guard<std::mutex> guard(sink->mutex);
        frames = sink->frames - startFrames;
        cpu = sink->lastCpu - startCpu;
    }
    const uint8_t zero = 0;
    controller->Push(1, CRegisterRequest::Write(0, &zero, 1).GetPacket());
    controller->Deinitialize();
    linker.UnlinkAll();
    if (stalled) {
        state.SkipWithError("frames stopped");
        return;
    }
    state.SetItemsProcessed(int64_t(frames));
    state.counters["frames_per_s"] = benchmark::Counter(double(frames), benchmark::Counter::kIsRate);
    state.counters["pumper_cpu_us_per_frame"] = frames ? cpu / double(frames) * 1e6 : 0.0;
}

void BM_CameraPath_Mono8_640x480(benchmark::State& state)
{
    RunPath(state, "[camera]\nvendor = Quarlo\nmodel = Bench\nmax_width = 640\nmax_height = 480\n"
                   "coding = Mono8\nimage_header = on\ncheck_word = on\nframe_rate = unlimited\n");
}

void BM_CameraPath_Mono8_640x480_HeaderByDevice(benchmark::State& state)
{
    RunPath(state, "[camera]\nvendor = Sim\nmodel = Bench\nmax_width = 640\nmax_height = 480\n"
                   "coding = Mono8\nframe_rate = unlimited\n");
}

void BM_CameraPath_Mono16_1024x768(benchmark::State& state)
{
    RunPath(state, "[camera]\nvendor = Quarlo\nmodel = Bench HDR\nmax_width = 1024\nmax_height = 768\n"
                   "coding = Mono16\nbit_depth = 12\nimage_header = on\ncheck_word = on\n"
                   "frame_rate = unlimited\n");
}

} // namespace

BENCHMARK(BM_CameraPath_Mono8_640x480)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CameraPath_Mono8_640x480_HeaderByDevice)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CameraPath_Mono16_1024x768)->UseRealTime()->Unit(benchmark::kMillisecond);
