// Frame rates of the HDR converters on a 1024 x 1024 Mono16 frame.
#include "HDRConverterGamma.h"
#include "HDRConverterLaplace.h"
#include "HDRConverterTonemap.h"
#include "HDRConverterTruncate.h"
#include "HDRFilter.h"
#include "HDRFilterAux.h"

#include "Core/RegisterRequest.h"
#include "DataBuffer/Packet.h"
#include "DataBuffer/RtlHeapAllocator.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

namespace {

constexpr int32_t Width = 1024;
constexpr int32_t Height = 1024;

// A wide horizontal ramp with a bright spot and sensor-like noise, so every
// converter sees a full 16-bit range with many distinct values.
const std::vector<uint16_t>& Frame()
{
    static const std::vector<uint16_t> frame = [] {
        std::vector<uint16_t> pixels(static_cast<size_t>(Width) * Height);
        std::mt19937 random(7);
        std::normal_distribution<double> noise(0.0, 40.0);
        for (int32_t y = 0; y < Height; ++y)
            for (int32_t x = 0; x < Width; ++x) {
                const double dx = x - 700.0, dy = y - 300.0;
                double v = 60.0 * x + 20000.0 * (dx * dx + dy * dy < 90.0 * 90.0) + noise(random);
                v = v < 0 ? 0 : v > 65535 ? 65535 : v;
                pixels[static_cast<size_t>(y) * Width + x] = static_cast<uint16_t>(v);
            }
        return pixels;
    }();
    return frame;
}

void RunConverter(benchmark::State& state, Tav::CHDRConverterBase& converter, int32_t pixelType)
{
    const std::vector<uint16_t>& source = Frame();
    std::vector<uint8_t> target(static_cast<size_t>(Width) * Height);
    if (!converter.Convert(source.data(), target.data(), Width, Height, 2 * Width, Width,
                           pixelType, 16)) {
        state.SkipWithError("conversion refused");
        return;
    }
    for (auto _ : state) {
        converter.Convert(source.data(), target.data(), Width, Height, 2 * Width, Width,
                          pixelType, 16);
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    state.counters["frames/s"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                    benchmark::Counter::kIsRate);
}

void BM_Truncate(benchmark::State& state)
{
    Tav::CHDRConverterTruncate converter;
    RunConverter(state, converter, Tav::HDRPixelType::Mono16);
}
BENCHMARK(BM_Truncate)->Unit(benchmark::kMillisecond);

void BM_Tonemap(benchmark::State& state)
{
    Tav::CHDRConverterTonemap converter;
    RunConverter(state, converter, Tav::HDRPixelType::Mono16);
}
BENCHMARK(BM_Tonemap)->Unit(benchmark::kMillisecond);

void BM_Laplace(benchmark::State& state)
{
    Tav::CHDRConverterLaplace converter;
    RunConverter(state, converter, Tav::HDRPixelType::Mono16);
}
BENCHMARK(BM_Laplace)->Unit(benchmark::kMillisecond);

void BM_Gamma(benchmark::State& state)
{
    Tav::CHDRConverterGamma converter;
    converter.SetGamma(0.5);
    RunConverter(state, converter, Tav::HDRPixelType::Mono16);
}
BENCHMARK(BM_Gamma)->Unit(benchmark::kMillisecond);

// The false-colour step that follows a conversion when it is switched on.
void BM_FalseColor(benchmark::State& state)
{
    std::vector<uint8_t> source(static_cast<size_t>(Width) * Height);
    for (size_t i = 0; i < source.size(); ++i)
        source[i] = static_cast<uint8_t>(i * 7);
    std::vector<uint8_t> target(source.size() * 3);
    const Tav::HDRPalette& palette = Tav::GetHDRPalette(1);
    for (auto _ : state) {
        Tav::MapHDRPalette(palette, source.data(), Width, target.data(), 3 * Width, Width, Height);
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    state.counters["frames/s"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                    benchmark::Counter::kIsRate);
}
BENCHMARK(BM_FalseColor)->Unit(benchmark::kMillisecond);

// One packet through the module with the gamma converter: finding the image,
// the new 8-bit chunk buffer and the conversion.
void BM_FilterPacket(benchmark::State& state)
{
    Tav::CChunkPtr<Tav::CImageChunk> image =
        Tav::CreateImageChunkBuffer(0, 0, Width, Height, Tav::GetDefaultAllocator(), Tav::PixelTypeMono16);
    int size = 0;
    std::memcpy(image.LockData(&size), Frame().data(), Frame().size() * 2);
    image.UnlockData();
    Tav::CHDRFilter filter;
    filter.Initialize("HDRFilter", nullptr);
    filter.Start();
    const int32_t gamma = 3;
    filter.Push(2, Tav::CRegisterRequest::Write(1, &gamma, 4).GetPacket());
    for (auto _ : state) {
        Tav::CSmartPointer<Tav::IPacket> packet = CPacket::Create();
        packet->AddChunkBuffer(image.GetBuffer());
        filter.Push(1, packet);
        benchmark::DoNotOptimize(packet.Get());
    }
    state.counters["frames/s"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                    benchmark::Counter::kIsRate);
    filter.Deinitialize();
}
BENCHMARK(BM_FilterPacket)->Unit(benchmark::kMillisecond);

} // namespace
