// Frames per second of the simulated driver with an unlimited frame clock,
// through the driver client: queue, complete, re-queue, as the camera
// layer's pumper does it.

#include "Rhea.h"
#include "Sim1394/Sim1394.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

void RunCamera(benchmark::State& state, const char* description, uint32_t bufferCount)
{
    using Tav::Sim1394::Simulator;
    Tav::Sim1394::Install();
    std::string error;
    if (!Simulator::Instance().LoadDescription(description, error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    Rhea::CRhea rhea;
    rhea.Open(Simulator::Instance().DeviceName(Simulator::Instance().Cameras().front()));
    const uint32_t bytes = rhea.formatSeven[0].BytePerFrame();
    std::vector<std::vector<uint8_t>> buffers(bufferCount, std::vector<uint8_t>(bytes));
    rhea.AllocateResources(bufferCount, bytes);
    for (uint32_t i = 0; i < bufferCount; ++i)
        rhea.GrabImageAsync(buffers[i].data(), bytes, i, false);
    rhea.continuousShot = true;

    int64_t failures = 0;
    for (auto _ : state) {
        uint32_t kind = 0, status = 0;
        uintptr_t context = 0;
        rhea.GetCompletion(kind, status, context, 10000);
        if (kind != Rhea::KindImageBuffer || status != 0) {
            ++failures;
            continue;
        }
        benchmark::DoNotOptimize(buffers[context][0]);
        rhea.GrabImageAsync(buffers[context].data(), bytes, context, false);
    }
    rhea.continuousShot = false;
    rhea.FreeResources();
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * int64_t(bytes));
    state.counters["frames_per_s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    if (failures)
        state.SkipWithError("completions with errors");
}

void BM_Sim1394Mono8_640x480(benchmark::State& state)
{
    RunCamera(state, "[camera]\nmodel = Bench\nmax_width = 640\nmax_height = 480\nframe_rate = unlimited\n", 7);
}

// The camera-written header and check word (CRC over the whole frame) included.
void BM_Sim1394Mono8_640x480_HeaderAndCheckWord(benchmark::State& state)
{
    RunCamera(state,
              "[camera]\nvendor = Quarlo\nmax_width = 640\nmax_height = 480\nframe_rate = unlimited\n"
              "image_header = on\ncheck_word = on\n",
              7);
}

} // namespace

BENCHMARK(BM_Sim1394Mono8_640x480)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_Sim1394Mono8_640x480_HeaderAndCheckWord)->UseRealTime()->MinTime(1.0);
