// Frames per second and CPU time per frame of 640x480 Mono8 frames from
// Aravis' fake camera at its highest frame rate: through the GenICam
// plug-in and the device controller into a counting sink, and with Aravis
// alone (pop a buffer, push it back) as the peer. CPU time is the whole
// process's, so both include the fake camera drawing its frames.
#include "Core/DeviceController.h"
#include "Core/DeviceDescriptor.h"
#include "Core/HalPlugin.h"
#include "Core/ModuleLinker.h"
#include "Core/RegisterRequest.h"
#include "DataBuffer/Guid.h"
#include "DataBuffer/Packet.h"

#include <arv.h>
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

namespace {

using namespace Tav;

constexpr int framesPerRun = 300;
constexpr int width = 640;
constexpr int height = 480;

double ProcessCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

double WallSeconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::string FakeCameraId()
{
    arv_disable_interface("GigEVision");
    arv_disable_interface("USB3Vision");
    arv_enable_interface("Fake");
    arv_update_device_list();
    const char* id = arv_get_n_devices() > 0 ? arv_get_device_id(0) : nullptr;
    return id ? id : "";
}

// 640x480 Mono8 at the camera's highest frame rate.
void Configure(ArvCamera* camera)
{
    GError* error = nullptr;
    arv_camera_set_region(camera, 0, 0, width, height, &error);
    g_clear_error(&error);
    arv_camera_set_pixel_format(camera, ARV_PIXEL_FORMAT_MONO_8, &error);
    g_clear_error(&error);
    double minimum = 0, maximum = 0;
    arv_camera_get_frame_rate_bounds(camera, &minimum, &maximum, &error);
    g_clear_error(&error);
    arv_camera_set_frame_rate(camera, maximum, &error);
    g_clear_error(&error);
}

double HighestFrameRate(const std::string& id)
{
    GError* error = nullptr;
    ArvCamera* camera = arv_camera_new(id.c_str(), &error);
    double minimum = 0, maximum = 0;
    if (camera) {
        arv_camera_get_frame_rate_bounds(camera, &minimum, &maximum, &error);
        g_object_unref(camera);
    }
    g_clear_error(&error);
    return maximum;
}

// Summed over all repetitions, so that the ratio does not hang on one run
// of a busy machine.
struct Figures {
    double frames = 0, wall = 0, cpu = 0;
    double FramesPerSecond() const { return frames / wall; }
    double CpuPerFrameUs() const { return cpu * 1e6 / frames; }
};
Figures bare, ours;

void Report(benchmark::State& state, Figures& figures, int frames, double wall, double cpu)
{
    figures.frames += frames;
    figures.wall += wall;
    figures.cpu += cpu;
    state.counters["fps"] = frames / wall;
    state.counters["cpu_us_per_frame"] = cpu * 1e6 / frames;
}

void BM_BareAravis(benchmark::State& state)
{
    const std::string id = FakeCameraId();
    GError* error = nullptr;
    ArvCamera* camera = arv_camera_new(id.c_str(), &error);
    if (!camera) {
        state.SkipWithError("no fake camera");
        g_clear_error(&error);
        return;
    }
    Configure(camera);
    const guint payload = arv_camera_get_payload(camera, &error);
    ArvStream* stream = arv_camera_create_stream(camera, nullptr, nullptr, &error);
    for (int i = 0; i < 8; ++i)
        arv_stream_push_buffer(stream, arv_buffer_new(payload, nullptr));
    arv_camera_start_acquisition(camera, &error);
    int frames = 0;
    double wall = 0, cpu = 0;
    for (auto _ : state) {
        const double wall0 = WallSeconds(), cpu0 = ProcessCpuSeconds();
        for (int n = 0; n < framesPerRun;) {
            ArvBuffer* buffer = arv_stream_timeout_pop_buffer(stream, 1000000);
            if (!buffer)
                break;
            if (arv_buffer_get_status(buffer) == ARV_BUFFER_STATUS_SUCCESS) {
                size_t size = 0;
                benchmark::DoNotOptimize(arv_buffer_get_data(buffer, &size));
                ++n;
            }
            arv_stream_push_buffer(stream, buffer);
        }
        wall += WallSeconds() - wall0;
        cpu += ProcessCpuSeconds() - cpu0;
        frames += framesPerRun;
    }
    arv_camera_stop_acquisition(camera, &error);
    g_clear_error(&error);
    g_object_unref(stream);
    g_object_unref(camera);
    Report(state, bare, frames, wall, cpu);
}

class CountingSink : public CModuleBase {
public:
    void OnData(int, const CSmartPointer<IPacket>& packet) override
    {
        CChunkPtr<CChunk> image;
        packet->FindChunk(image, GUID_ImageChunk);
        if (!image)
            return;
        std::lock_guard<std::mutex> guard(mutex);
        ++frames;
        changed.notify_all();
    }
    bool WaitFor(int count)
    {
        std::unique_lock<std::mutex> guard(mutex);
        return changed.wait_for(guard, std::chrono::seconds(30), [&] { return frames >= count; });
    }
    std::mutex mutex;
    std::condition_variable changed;
    int frames = 0;
};

class StateSink : public CModuleBase {
public:
    void OnData(int, const CSmartPointer<IPacket>&) override { changed.notify_all(); }
    std::condition_variable changed;
};

void BM_KvHalThroughController(benchmark::State& state)
{
    const std::string id = FakeCameraId();
    halPluginName = "KvHal.dll";
    CountingSink images;
    images.Initialize("Images", nullptr);
    StateSink states;
    states.Initialize("States", nullptr);
    CDeviceController controller;
    controller.Initialize("DeviceController", nullptr);
    CModuleLinker linker;
    linker.Link(&controller, 1, &images, 1);
    linker.Link(&controller, 2, &states, 1);
    auto waitForState = [&](int wanted) {
        std::mutex mutex;
        std::unique_lock<std::mutex> guard(mutex);
        return states.changed.wait_for(guard, std::chrono::seconds(10),
                                       [&] { return controller.GetState() == wanted; });
    };
    try {
        controller.OpenDevice(CDeviceDescriptor(id, ""));
        if (!waitForState(1))
            throw std::runtime_error("not open");
        // The same settings as the peer's, through the named features.
        auto write = [&](uint64_t address, uint32_t value) {
            controller.Push(1025, CRegisterRequest::Write(address, &value, 4).GetPacket());
        };
        write(4, width);
        write(5, height);
        write(35, ARV_PIXEL_FORMAT_MONO_8);
        write(34, uint32_t(HighestFrameRate(id) * 1000));
    } catch (...) {
        state.SkipWithError("the plug-in did not open the fake camera");
        halPluginName = nullptr;
        return;
    }
    const uint8_t one = 1, zero = 0;
    controller.Push(1, CRegisterRequest::Write(0, &one, 1).GetPacket());
    int frames = 0;
    double wall = 0, cpu = 0;
    for (auto _ : state) {
        const int target = images.frames + framesPerRun;
        const double wall0 = WallSeconds(), cpu0 = ProcessCpuSeconds();
        if (!images.WaitFor(target)) {
            state.SkipWithError("frames stopped coming");
            break;
        }
        wall += WallSeconds() - wall0;
        cpu += ProcessCpuSeconds() - cpu0;
        frames += framesPerRun;
    }
    controller.Push(1, CRegisterRequest::Write(0, &zero, 1).GetPacket());
    waitForState(1);
    controller.Deinitialize();
    linker.UnlinkAll();
    halPluginName = nullptr;
    if (frames)
        Report(state, ours, frames, wall, cpu);
}

} // namespace

BENCHMARK(BM_BareAravis)->Unit(benchmark::kMillisecond)->Iterations(5)->Repetitions(3)->UseRealTime();
BENCHMARK(BM_KvHalThroughController)->Unit(benchmark::kMillisecond)->Iterations(5)->Repetitions(3)->UseRealTime();

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (bare.frames > 0 && ours.frames > 0) {
        std::printf("640x480 Mono8, fake camera: bare Aravis %.1f frames/s, %.1f us CPU/frame; "
                    "KvHal + device controller %.1f frames/s, %.1f us CPU/frame\n",
                    bare.FramesPerSecond(), bare.CpuPerFrameUs(), ours.FramesPerSecond(), ours.CpuPerFrameUs());
        std::printf("CPU per frame, KvHal / bare Aravis: %.3f (target at most 1.10), difference %.1f us\n",
                    ours.CpuPerFrameUs() / bare.CpuPerFrameUs(), ours.CpuPerFrameUs() - bare.CpuPerFrameUs());
    }
    return 0;
}
