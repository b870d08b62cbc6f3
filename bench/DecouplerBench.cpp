// The decoupler seen from both ends: what Enqueue costs the producer, and
// how long a packet takes from Enqueue to the consumer's OnData.
#include "Core/Decoupler.h"
#include "Core/ModuleLinker.h"
#include "DataBuffer/ImageChunk.h"
#include "DataBuffer/Packet.h"
#include "DataBuffer/RtlHeapAllocator.h"
#include "Platform/Event.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

using namespace Tav;
using Clock = std::chrono::steady_clock;

CSmartPointer<IPacket> ImagePacket()
{
    CChunkPtr<CImageChunk> image = CreateImageChunkBuffer(0, 0, 640, 480, GetDefaultAllocator(), PixelTypeMono8);
    CSmartPointer<IPacket> packet = CPacket::Create();
    packet->AddChunkBuffer(image.GetBuffer().Get());
    return packet;
}

class Consumer : public CModuleBase {
public:
    void OnData(int, const CSmartPointer<IPacket>&) override
    {
        arrived.store(Clock::now().time_since_epoch().count(), std::memory_order_release);
        done.Set();
    }
    std::atomic<Clock::rep> arrived{0};
    Platform::Event done{false, false};
};

struct Setup {
    CDecoupler decoupler;
    Consumer consumer;
    CModuleLinker linker;
    Setup()
    {
        decoupler.Initialize("Decoupler", nullptr);
        consumer.Initialize("Consumer", nullptr);
        linker.Link(&decoupler, 1, &consumer, 1);
        decoupler.Start();
    }
    ~Setup()
    {
        linker.UnlinkAll();
        decoupler.Deinitialize();
    }
};

// Producer side while the decoupler's thread keeps sending.
void BM_Enqueue(benchmark::State& state)
{
    Setup s;
    CSmartPointer<IPacket> packet = ImagePacket();
    for (auto _ : state)
        benchmark::DoNotOptimize(s.decoupler.Enqueue(packet));
}
BENCHMARK(BM_Enqueue);

// One packet at a time: Enqueue, then wait until the consumer has it.
void BM_HandOver(benchmark::State& state)
{
    Setup s;
    CSmartPointer<IPacket> packet = ImagePacket();
    std::vector<double> latencies;
    latencies.reserve(static_cast<size_t>(state.max_iterations));
    for (auto _ : state) {
        const Clock::time_point sent = Clock::now();
        s.decoupler.Enqueue(packet);
        Platform::WaitForSingleObject(s.consumer.done, Platform::Infinite);
        Clock::time_point arrived{Clock::duration(s.consumer.arrived.load(std::memory_order_acquire))};
        latencies.push_back(std::chrono::duration<double, std::micro>(arrived - sent).count());
    }
    std::sort(latencies.begin(), latencies.end());
    const double median = latencies[latencies.size() / 2];
    const double p99 = latencies[std::min(latencies.size() - 1, latencies.size() * 99 / 100)];
    state.counters["median_us"] = median;
    state.counters["p99_us"] = p99;
    std::printf("hand-over latency over %zu packets: median %.1f us, 99th percentile %.1f us\n", latencies.size(),
                median, p99);
}
BENCHMARK(BM_HandOver)->Iterations(20000)->UseRealTime();

} // namespace
