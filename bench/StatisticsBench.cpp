// The statistics module's heavy paths on 1024 x 1024 Mono16 frames, and its
// real transform against FFTW (double precision, plan made once with
// FFTW_MEASURE) for 2N = 512 .. 4096.

#include "ImageStatistics.h"
#include "RealFft.h"

#include "DataBuffer/ImageChunk.h"
#include "DataBuffer/Packet.h"
#include "DataBuffer/RtlHeapAllocator.h"

#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <cstring>
#include <ctime>
#include <random>
#include <vector>

using namespace Tav;

namespace {

double ThreadSeconds()
{
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

std::vector<double> Samples(int n)
{
    std::mt19937 engine(3);
    std::normal_distribution<double> normal(0.0, 10.0);
    std::vector<double> x(size_t(n) + 2);
    for (int i = 0; i < n; ++i)
        x[size_t(i)] = normal(engine);
    return x;
}

struct FftwPlan {
    explicit FftwPlan(int n) : n(n)
    {
        in = fftw_alloc_real(size_t(n));
        out = fftw_alloc_complex(size_t(n) / 2 + 1);
        plan = fftw_plan_dft_r2c_1d(n, in, out, FFTW_MEASURE);
    }
    ~FftwPlan()
    {
        fftw_destroy_plan(plan);
        fftw_free(in);
        fftw_free(out);
    }
    void Run(const std::vector<double>& x)
    {
        std::memcpy(in, x.data(), sizeof(double) * size_t(n));
        fftw_execute(plan);
    }
    int n;
    double* in;
    fftw_complex* out;
    fftw_plan plan;
};

void BM_RealFft(benchmark::State& state)
{
    const int n = int(state.range(0));
    const std::vector<double> x = Samples(n);
    std::vector<double> data(x.size());
    auto fft = CRealFft::Get(n);
    for (auto _ : state) {
        std::memcpy(data.data(), x.data(), sizeof(double) * size_t(n));
        fft->Transform(data.data());
        benchmark::DoNotOptimize(data.data());
    }
}
BENCHMARK(BM_RealFft)->RangeMultiplier(2)->Range(512, 4096);

void BM_Fftw(benchmark::State& state)
{
    const int n = int(state.range(0));
    const std::vector<double> x = Samples(n);
    FftwPlan plan(n);
    for (auto _ : state) {
        plan.Run(x);
        benchmark::DoNotOptimize(plan.out);
    }
}
BENCHMARK(BM_Fftw)->RangeMultiplier(2)->Range(512, 4096);

// Both transforms in turn in one loop, so the load of the machine hits both
// alike; the ratio is ours / FFTW in thread CPU time.
void BM_FftRatio(benchmark::State& state)
{
    const int n = int(state.range(0));
    const std::vector<double> x = Samples(n);
    std::vector<double> data(x.size());
    auto fft = CRealFft::Get(n);
    FftwPlan plan(n);
    constexpr int Rounds = 64;
    double ours = 0, theirs = 0;
    for (auto _ : state) {
        double t0 = ThreadSeconds();
        for (int r = 0; r < Rounds; ++r) {
            std::memcpy(data.data(), x.data(), sizeof(double) * size_t(n));
            fft->Transform(data.data());
            benchmark::DoNotOptimize(data.data());
        }
        double t1 = ThreadSeconds();
        for (int r = 0; r < Rounds; ++r) {
            plan.Run(x);
            benchmark::DoNotOptimize(plan.out);
        }
        double t2 = ThreadSeconds();
        ours += t1 - t0;
        theirs += t2 - t1;
    }
    const double calls = double(state.iterations()) * Rounds;
    state.counters["ours_us"] = 1e6 * ours / calls;
    state.counters["fftw_us"] = 1e6 * theirs / calls;
    state.counters["ratio"] = theirs > 0 ? ours / theirs : 0.0;
}
BENCHMARK(BM_FftRatio)->RangeMultiplier(2)->Range(512, 4096);

CSmartPointer<IPacket> NoisyFrame(int width, int height)
{
    CChunkPtr<CImageChunk> image = CreateImageChunkBuffer(0, 0, width, height, GetDefaultAllocator(), PixelTypeMono16);
    int size = 0;
    uint16_t* p = static_cast<uint16_t*>(image.LockData(&size));
    std::mt19937 engine(5);
    std::normal_distribution<double> normal(2000.0, 30.0);
    for (int i = 0; i < width * height; ++i)
        p[i] = uint16_t(normal(engine));
    image.UnlockData();
    CSmartPointer<IPacket> packet = CPacket::Create();
    packet->AddChunkBuffer(image.GetBuffer().Get());
    return packet;
}

void RunView(benchmark::State& state, int view)
{
    CImageStatistics statistics;
    statistics.Initialize("ImageStatistics", nullptr);
    statistics.Write(16, &view, 4);
    CSmartPointer<IPacket> frame = NoisyFrame(1024, 1024);
    for (auto _ : state)
        statistics.ProcessPacket(frame);
    state.counters["frames_per_s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    statistics.Deinitialize();
}

// View 3: the horizontal spectrum of every line, with the measures.
void BM_HorizontalSpectrumView1024(benchmark::State& state)
{
    RunView(state, 3);
}
BENCHMARK(BM_HorizontalSpectrumView1024)->Unit(benchmark::kMillisecond);

// View 0: working image, output image and the noise measures only.
void BM_NoiseMeasures1024(benchmark::State& state)
{
    RunView(state, 0);
}
BENCHMARK(BM_NoiseMeasures1024)->Unit(benchmark::kMillisecond);

} // namespace
