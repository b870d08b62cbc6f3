// Cost of one delivered camera frame in the device controller (check word,
// chunk buffer, validation, packet, send to one sink), and the check word's
// CRC throughput against a plain read of the same buffer.
#include "Core/Crc16.h"
#include "Core/DeviceController.h"
#include "Core/DeviceDescriptor.h"
#include "Core/ModuleLinker.h"
#include "DataBuffer/AllocMemBlock.h"
#include "DataBuffer/Chunk.h"
#include "DataBuffer/Guid.h"
#include "DataBuffer/ImageChunk.h"
#include "DataBuffer/RtlHeapAllocator.h"

#include <benchmark/benchmark.h>

#include <ctime>
#include <cstring>
#include <vector>

namespace {

using namespace Tav;

constexpr int width = 640;
constexpr int height = 480;
constexpr uint32_t chunkLength = width * height + ImageChunkOverhead;

class Sink : public CModuleBase {
public:
    void OnData(int, const CSmartPointer<IPacket>& p) override { benchmark::DoNotOptimize(p.Get()); }
};

// Idle at once; frames are pushed by the benchmark through the sink it got.
class Device : public CDeviceController::IDevice {
public:
    void Open(const CDeviceDescriptor&, CDeviceController::IChunkBufferSink* newSink) override
    {
        sink = newSink;
        sink->OnStateChanged(1);
    }
    void Close() override { sink->OnStateChanged(0); }
    void StartContinuousGrab() override { sink->OnStateChanged(2); }
    void StopContinuousGrab() override { sink->OnStateChanged(1); }
    void InitSingleShot() override { sink->OnStateChanged(3); }
    void CancelSingleShot() override { sink->OnStateChanged(1); }
    bool HasCheckWord() override { return true; }
    IRegisterSet* GetRegisterSet(int) override { return nullptr; }

    static inline CDeviceController::IChunkBufferSink* sink = nullptr;
};

CDeviceController::IDevice* OpenBenchDevice(const CDeviceDescriptor* descriptor,
                                            CDeviceController::IChunkBufferSink* sink)
{
    auto* device = new Device;
    device->Open(*descriptor, sink);
    return device;
}

CSmartPointer<IMemBlock> MakeFrame()
{
    CSmartPointer<IMemBlock> block = CAllocMemBlock::Create(chunkLength + 4, GetDefaultAllocator());
    auto* data = static_cast<unsigned char*>(block->Lock());
    for (uint32_t i = 0; i < uint32_t(width * height); ++i)
        data[i] = static_cast<unsigned char>(i * 31);
    CImageChunk header{};
    header.pitch = width;
    header.bitDepth = 8;
    header.width = width;
    header.height = height;
    header.pixelType = PixelTypeMono8;
    std::memcpy(data + width * height, &header, sizeof header);
    CChunk::At(data + width * height + sizeof header)->Set(GUID_ImageChunk, chunkLength);
    StoreU32(data + chunkLength, Crc16Xmodem(data, chunkLength));
    block->Unlock();
    return block;
}

void BM_DeliverFrame(benchmark::State& state)
{
    CDeviceController controller;
    controller.SetBuiltInDevice(&OpenBenchDevice);
    controller.Initialize("DeviceController", nullptr);
    Sink sink;
    sink.Initialize("Sink", nullptr);
    CModuleLinker linker;
    linker.Link(&controller, 1, &sink, 1);
    controller.OpenDevice(CDeviceDescriptor("bench", "Bench camera"));
    CSmartPointer<IMemBlock> frame = MakeFrame();
    for (auto _ : state)
        Device::sink->OnChunkBuffer(frame.Get());
    state.SetBytesProcessed(int64_t(state.iterations()) * frame->GetSize());
    controller.Deinitialize();
    linker.UnlinkAll();
}
BENCHMARK(BM_DeliverFrame)->Unit(benchmark::kMicrosecond);

std::vector<unsigned char> FrameBytes()
{
    std::vector<unsigned char> bytes(chunkLength);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<unsigned char>(i * 31);
    return bytes;
}

uint64_t ReadAll(const unsigned char* p, size_t n)
{
    uint64_t sum = 0;
    for (size_t i = 0; i + 8 <= n; i += 8) {
        uint64_t word;
        std::memcpy(&word, p + i, 8);
        sum += word;
    }
    return sum;
}

void BM_Crc16Xmodem(benchmark::State& state)
{
    std::vector<unsigned char> bytes = FrameBytes();
    for (auto _ : state)
        benchmark::DoNotOptimize(Crc16Xmodem(bytes.data(), bytes.size()));
    state.SetBytesProcessed(int64_t(state.iterations()) * bytes.size());
}
BENCHMARK(BM_Crc16Xmodem)->Unit(benchmark::kMicrosecond);

void BM_PlainMemoryRead(benchmark::State& state)
{
    std::vector<unsigned char> bytes = FrameBytes();
    for (auto _ : state)
        benchmark::DoNotOptimize(ReadAll(bytes.data(), bytes.size()));
    state.SetBytesProcessed(int64_t(state.iterations()) * bytes.size());
}
BENCHMARK(BM_PlainMemoryRead)->Unit(benchmark::kMicrosecond);

double ThreadSeconds()
{
    timespec now;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

// Both passes over the same warm buffer, alternating, timed in this thread's
// CPU time so that a busy machine does not skew the ratio.
void BM_CrcAgainstMemoryRead(benchmark::State& state)
{
    std::vector<unsigned char> bytes = FrameBytes();
    double crcSeconds = 0, readSeconds = 0;
    for (auto _ : state) {
        double t0 = ThreadSeconds();
        benchmark::DoNotOptimize(Crc16Xmodem(bytes.data(), bytes.size()));
        double t1 = ThreadSeconds();
        benchmark::DoNotOptimize(ReadAll(bytes.data(), bytes.size()));
        double t2 = ThreadSeconds();
        crcSeconds += t1 - t0;
        readSeconds += t2 - t1;
    }
    const double total = double(state.iterations()) * bytes.size();
    state.counters["crc_GB_per_s"] = total / crcSeconds / 1e9;
    state.counters["read_GB_per_s"] = total / readSeconds / 1e9;
    state.counters["crc_to_read"] = readSeconds / crcSeconds;
}
BENCHMARK(BM_CrcAgainstMemoryRead)->Unit(benchmark::kMicrosecond);

} // namespace
