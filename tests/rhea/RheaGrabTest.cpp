#include "Rhea.h"
#include "SimFixture.h"

#include "Platform/SystemError.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <set>
#include <vector>

using namespace Rhea;
using Tav::Sim1394::Simulator;

namespace {

constexpr int32_t patience = 10000; // a frame that does not come within this is a failure

const char* cameras = R"(
[camera]
vendor = Sim
model = Mono
chip_id = 1
max_width = 64
max_height = 48
coding = Mono8
codings = Mono8, RGB8, YUV422, Raw8
frame_rate = 200

[camera]
vendor = Quarlo
model = QX-Test
chip_id = 2
max_width = 32
max_height = 16
coding = Mono16
bit_depth = 12
image_header = on
check_word = on
frame_rate = 500
)";

class RheaGrab : public ::testing::Test {
protected:
    void SetUp() override
    {
        RheaTest::LoadCameras(cameras);
        ids = sim.Cameras();
        ASSERT_EQ(ids.size(), 2u);
    }

    void OpenCamera(int index)
    {
        id = ids[index];
        rhea.Open(sim.DeviceName(id));
        frameBytes = rhea.formatSeven[0].BytePerFrame();
    }

    // Allocates `count` buffers and queues them all.
    void Queue(uint32_t count)
    {
        EXPECT_EQ(rhea.AllocateResources(count, frameBytes), count);
        buffers.assign(count, std::vector<uint8_t>(frameBytes, 0xEE));
        for (uint32_t i = 0; i < count; ++i)
            rhea.GrabImageAsync(buffers[i].data(), frameBytes, i, false);
    }

    struct Completion {
        uint32_t kind = 0, error = 0;
        uintptr_t context = 0;
    };

    Completion Next(int32_t timeout = patience)
    {
        Completion c;
        c.kind = 0xDEAD;
        rhea.GetCompletion(c.kind, c.error, c.context, timeout);
        return c;
    }

    // After a stop every queued buffer comes back: aborted, or filled when
    // the frame clock had it already.
    void ExpectAllReturned(int count)
    {
        for (int i = 0; i < count; ++i) {
            Completion c = Next();
            EXPECT_EQ(c.kind, KindImageBuffer);
            EXPECT_TRUE(c.error == 0 || c.error == Tav::Platform::ErrorOperationAborted) << c.error;
        }
        EXPECT_EQ(Next(0).error, Tav::Platform::WaitTimeout);
    }

    Simulator& sim = Simulator::Instance();
    std::vector<int> ids;
    int id = -1;
    CRhea rhea;
    uint32_t frameBytes = 0;
    std::vector<std::vector<uint8_t>> buffers;
};

uint32_t Get32(const uint8_t* p)
{
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

uint16_t Get16(const uint8_t* p)
{
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}

uint16_t Crc(const uint8_t* p, size_t n)
{
    uint16_t crc = 0;
    for (size_t i = 0; i < n; ++i) {
        crc ^= uint16_t(p[i] << 8);
        for (int b = 0; b < 8; ++b)
            crc = uint16_t(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

} // namespace

TEST_F(RheaGrab, QueuedBuffersCompleteWithTheTestPatternAtTheFrameRate)
{
    OpenCamera(0);
    ASSERT_EQ(frameBytes, 64u * 48);
    Queue(3);
    const auto start = std::chrono::steady_clock::now();
    rhea.continuousShot = true;

    constexpr int frames = 12;
    std::vector<uint32_t> shifts;
    for (int n = 0; n < frames; ++n) {
        Completion c = Next();
        ASSERT_EQ(c.kind, KindImageBuffer);
        ASSERT_EQ(c.error, 0u);
        ASSERT_LT(c.context, 3u);
        const uint8_t* frame = buffers[c.context].data();
        // Row y is the gradient line started at (y + 4n) mod 256.
        const uint32_t shift = frame[0];
        for (uint32_t y = 0; y < 48; ++y)
            for (uint32_t x = 0; x < 64; ++x)
                ASSERT_EQ(frame[y * 64 + x], (x + y + shift) & 255) << x << "," << y;
        shifts.push_back(shift);
        std::memset(buffers[c.context].data(), 0xEE, frameBytes);
        rhea.GrabImageAsync(buffers[c.context].data(), frameBytes, c.context, false);
    }
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // The clock can be late, never early: 12 frames at 200/s take at least 60 ms.
    EXPECT_GE(elapsed, frames / 200.0 * 0.95);
    // Consecutive frames move the gradient by 4 (a dropped frame by 8).
    for (size_t i = 1; i < shifts.size(); ++i)
        EXPECT_EQ((shifts[i] - shifts[i - 1]) % 4, 0u);
    EXPECT_NE(shifts.front(), shifts.back());

    rhea.continuousShot = false;
    rhea.Cancel();
    ExpectAllReturned(3);
    rhea.FreeResources();
    EXPECT_EQ(rhea.ResourceId(), -1);
    EXPECT_EQ(sim.Statistics(id).buffersQueued, 0u);
}

TEST_F(RheaGrab, BusBandwidthLimitsTheFrameRate)
{
    OpenCamera(0);
    sim.SetFrameRate(id, 100000);
    rhea.formatSeven[0].BytePerPacket = 64; // 48 packets: 6 ms a frame at 8000 cycles/s
    Queue(2);
    const auto start = std::chrono::steady_clock::now();
    rhea.continuousShot = true;
    for (int n = 0; n < 10; ++n) {
        Completion c = Next();
        ASSERT_EQ(c.error, 0u);
        rhea.GrabImageAsync(buffers[c.context].data(), frameBytes, c.context, false);
    }
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(elapsed, 10 * 48 / 8000.0 * 0.95);
    rhea.continuousShot = false;
    rhea.FreeResources(); // aborts the queued buffers as well
    ExpectAllReturned(2);
}

TEST_F(RheaGrab, CameraWrittenHeaderChunksAndCheckWord)
{
    OpenCamera(1);
    const uint32_t pixels = 32 * 16 * 2;
    ASSERT_EQ(frameBytes, pixels + 48 + 28 + 28 + 4);
    Queue(2);
    rhea.continuousShot = true;
    std::vector<uint32_t> counters;
    for (int n = 0; n < 4; ++n) {
        Completion c = Next();
        ASSERT_EQ(c.error, 0u);
        const uint8_t* f = buffers[c.context].data();
        for (uint32_t i = 0; i < 32 * 16; ++i)
            ASSERT_LE(Get16(f + 2 * i), 4095u);
        const uint8_t* header = f + pixels;
        EXPECT_EQ(Get32(header), 64u);           // pitch
        EXPECT_EQ(header[7], 12u);               // bit depth
        EXPECT_EQ(Get16(header + 12), 16u);      // height
        EXPECT_EQ(Get16(header + 14), 32u);      // width
        EXPECT_EQ(header[19], 5u);               // Mono16
        const uint8_t imageGuid[16] = {0x88, 0x7C, 0xED, 0x94, 0x0F, 0x1C, 0xD8, 0x11,
                                       0x82, 0xE0, 0x00, 0x10, 0x5A, 0x5B, 0xAE, 0x55};
        EXPECT_EQ(std::memcmp(header + 24, imageGuid, 16), 0);
        EXPECT_EQ(Get32(header + 40), pixels + 48);
        EXPECT_EQ(Get32(header + 44), ~(pixels + 48));
        const uint8_t* counter = header + 48;
        EXPECT_EQ(Get32(counter + 4), 0x8C5DB844u);
        EXPECT_EQ(Get32(counter + 20), 28u);
        EXPECT_EQ(Get32(counter + 24), ~28u);
        counters.push_back(Get32(counter));
        const uint8_t* cycle = counter + 28;
        EXPECT_EQ(Get32(cycle + 4), 0x994DD430u);
        EXPECT_LT((Get32(cycle) >> 12) & 0x1FFF, 8000u);
        EXPECT_LT(Get32(cycle) & 0xFFF, 3072u);
        EXPECT_EQ(Get32(f + frameBytes - 4), Crc(f, frameBytes - 4));
        rhea.GrabImageAsync(buffers[c.context].data(), frameBytes, c.context, false);
    }
    for (size_t i = 1; i < counters.size(); ++i)
        EXPECT_GT(counters[i], counters[i - 1]);
    rhea.continuousShot = false;
    rhea.FreeResources();
}

TEST_F(RheaGrab, OneShotDeliversOneFrameAndItsCommandCompletion)
{
    OpenCamera(0);
    EXPECT_EQ(rhea.AllocateResources(1, frameBytes), 1u);
    std::vector<uint8_t> buffer(frameBytes);
    rhea.continuousShot = false;
    rhea.GrabImageAsync(buffer.data(), frameBytes, 77, true);
    std::set<uint32_t> kinds;
    for (int i = 0; i < 2; ++i) {
        Completion c = Next();
        EXPECT_EQ(c.error, 0u);
        kinds.insert(c.kind);
        if (c.kind == KindImageBuffer)
            EXPECT_EQ(c.context, 77u);
        else
            EXPECT_EQ(c.context, 0u);
    }
    EXPECT_EQ(kinds, (std::set<uint32_t>{KindImageBuffer, KindOneShot}));
    // The shot is over: a buffer queued now stays queued.
    rhea.GrabImageAsync(buffer.data(), frameBytes, 78, false);
    EXPECT_FALSE(sim.Statistics(id).streaming);
    rhea.Cancel();
    Completion c = Next();
    EXPECT_EQ(c.context, 78u);
    EXPECT_EQ(c.error, Tav::Platform::ErrorOperationAborted);
}

TEST_F(RheaGrab, InjectedBufferStatusesReachTheCaller)
{
    OpenCamera(0);
    sim.FailBuffers(id, Tav::Sim1394::IncompleteFrameStatus, 1);
    sim.FailBuffers(id, Tav::Platform::ErrorOperationAborted, 1);
    Queue(3);
    rhea.continuousShot = true;
    EXPECT_EQ(Next().error, 0xCFE00021u); // bit 29 of the driver code cleared
    EXPECT_EQ(Next().error, Tav::Platform::ErrorOperationAborted);
    Completion good = Next();
    EXPECT_EQ(good.kind, KindImageBuffer);
    EXPECT_EQ(good.error, 0u);
    rhea.continuousShot = false;
    rhea.FreeResources();
    EXPECT_EQ(sim.Statistics(id).buffersFailed, 2u);
}

TEST_F(RheaGrab, RequestsTheSimulationFails)
{
    OpenCamera(0);
    sim.FailRequests(id, 0x80102010, Tav::Platform::ErrorGenFailure);
    EXPECT_EQ(EXPECT_RHEA_ERROR(rhea.SetVideoMode(7, 0, 0), Tav::Platform::ErrorGenFailure), "CRhea::SetVideoMode()");
    rhea.SetVideoMode(7, 0, 0); // only the next one failed

    sim.FailRequests(id, 0x80102041, 0xEFE00030u);
    std::vector<uint8_t> buffer(frameBytes);
    rhea.AllocateResources(1, frameBytes);
    EXPECT_EQ(EXPECT_RHEA_ERROR(rhea.GrabImageAsync(buffer.data(), frameBytes, 1, false), 0xCFE00030u),
              "CRhea::GrabImageAsync()");
    // A failed queue request leaves nothing on the port.
    EXPECT_EQ(Next(0).error, Tav::Platform::WaitTimeout);

    EXPECT_RHEA_ERROR(rhea.GrabImageAsync(buffer.data(), frameBytes - 1, 1, false), Tav::Platform::ErrorInvalidParameter);
    rhea.FreeResources();
    EXPECT_RHEA_ERROR(rhea.GrabImageAsync(buffer.data(), frameBytes, 1, false), Tav::Platform::ErrorNotReady);
    EXPECT_RHEA_ERROR(rhea.continuousShot = true, Tav::Platform::ErrorNotReady);
}

TEST_F(RheaGrab, NotifyAndTimedOutWait)
{
    OpenCamera(0);
    Completion none = Next(10);
    EXPECT_EQ(none.error, Tav::Platform::WaitTimeout);
    EXPECT_EQ(none.kind, 0xDEADu); // untouched
    EXPECT_EQ(none.context, 0u);

    rhea.Notify(uint32_t(-5), 1234);
    rhea.Notify(uint32_t(-3), 99);
    Completion a = Next(), b = Next();
    EXPECT_EQ(a.kind, uint32_t(-5));
    EXPECT_EQ(a.context, 1234u);
    EXPECT_EQ(b.kind, uint32_t(-3));
    EXPECT_EQ(b.error, 0u);

    CRhea unopened; // the port exists without a device
    unopened.Notify(7, 8);
    uint32_t kind = 0, error = 1;
    uintptr_t context = 0;
    unopened.GetCompletion(kind, error, context, 0);
    EXPECT_EQ(kind, 7u);
    EXPECT_EQ(context, 8u);
    EXPECT_EQ(error, 0u);
}

TEST_F(RheaGrab, AllocationTakesTheCurrentBytesPerPacket)
{
    OpenCamera(0);
    rhea.formatSeven[0].BytePerPacket = 1024;
    rhea.AllocateResources(2, frameBytes);
    EXPECT_EQ(rhea.ResourceExtra(), 1024u / 4);
    EXPECT_GE(rhea.ResourceId(), 0);
    // Settings that change the frame are refused while resources are held.
    EXPECT_RHEA_ERROR(rhea.formatSeven[0].ColorCoding = 4, Tav::Platform::ErrorBusy);
    rhea.FreeResources();
    rhea.formatSeven[0].ColorCoding = 4;
    EXPECT_EQ(rhea.formatSeven[0].BytePerFrame(), 64u * 48 * 3);
}

TEST_F(RheaGrab, ClosingAbortsWhatIsQueued)
{
    OpenCamera(0);
    Queue(3);
    ASSERT_TRUE(sim.WaitForQueuedBuffers(id, 3, patience));
    rhea.Close();
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(Next().error, Tav::Platform::ErrorOperationAborted);
    EXPECT_EQ(sim.Statistics(id).buffersQueued, 0u);
}

TEST_F(RheaGrab, ATimedOutTransmitCancelsItsRequest)
{
    OpenCamera(0);
    rhea.AllocateResources(1, frameBytes);
    std::vector<uint8_t> buffer(frameBytes);
    // A buffer request that nothing fills: the wait gives up, the request is
    // cancelled and has finished before Transmit returns.
    uint32_t bytes = 99;
    EXPECT_FALSE(rhea.Transmit(0x80102041, nullptr, 0, buffer.data(), frameBytes, &bytes, 20));
    EXPECT_EQ(Tav::Platform::GetLastError(), Tav::Platform::ErrorSemTimeout);
    EXPECT_EQ(bytes, 0u);
    EXPECT_EQ(sim.Statistics(id).buffersQueued, 0u);
    EXPECT_EQ(sim.Statistics(id).buffersCancelled, 1u);
    EXPECT_EQ(Next(0).error, Tav::Platform::WaitTimeout); // nothing reached the port
    rhea.FreeResources();
}
