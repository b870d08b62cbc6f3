#pragma once

// One simulated camera: its register space, isochronous resources, queued
// buffers and frame clock.

#include "Platform/DeviceDriver.h"
#include "Sim1394/Sim1394.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace Tav::Sim1394::Detail {

// What one frame looks like with the current settings.
struct FrameLayout {
    uint32_t width = 0, height = 0, left = 0, top = 0;
    uint32_t coding = 0;
    uint32_t bitDepth = 8;       // significant bits per sample
    uint32_t bytesPerSample = 1; // 1 or 2
    uint32_t bayer = 0;
    uint32_t pixelBytes = 0;
    bool header = false, frameCounter = false, cycleTime = false, checkWord = false;
    uint32_t total = 0; // bytes per frame
};

uint16_t Crc16Xmodem(const uint8_t* data, size_t size);

// Test-pattern frames of one camera; used by its clock thread only.
class FrameGenerator {
public:
    FrameGenerator(const CameraDescription& description);
    // Writes one whole frame (pixels and, when on, the camera's chunks).
    void Fill(uint8_t* out, const FrameLayout& layout, uint32_t frame, uint32_t cycleTime);

private:
    void FillPixels(uint8_t* out, const FrameLayout& layout, uint32_t frame);
    uint32_t Sample(double value, uint32_t x, uint32_t y, uint32_t maxValue);

    uint32_t sensorWidth;
    double temporalSigma;
    std::vector<float> spatial; // per sensor pixel; empty without spatial noise
    std::vector<float> gaussian; // N(0, 1) samples
    uint32_t rng;
    std::vector<uint8_t> line; // gradient line for the fast path
};

class Camera {
public:
    Camera(int id, const CameraDescription& description);
    ~Camera();

    Camera(const Camera&) = delete;
    Camera& operator=(const Camera&) = delete;

    int Id() const { return id; }
    const std::string& Path() const { return path; }
    const CameraDescription& Description() const { return description; }

    void Dispatch(const void* file, const Platform::IoRequestPtr& request);
    void Cancel(const void* file, uint64_t thread);
    void CloseFile(const void* file);

    // The camera is gone: pending buffers are aborted, the clock stops and
    // every later request fails with ErrorDeviceNotConnected.
    void Shutdown();

    void FailRequests(uint32_t code, uint32_t error, uint32_t count);
    void FailBuffers(uint32_t status, uint32_t count);
    void CorruptCheckWords(uint32_t count);
    void SetFrameRate(double framesPerSecond);
    CameraStatistics Statistics() const;
    bool WaitForQueuedBuffers(uint32_t count, int32_t milliseconds) const;

private:
    struct Mode7 {
        uint32_t left = 0, top = 0, width = 0, height = 0;
        uint32_t coding = 0;
        uint32_t bytesPerPacket = 0;
    };
    struct Queued {
        Platform::IoRequestPtr request;
        const void* file;
    };
    struct RequestFault {
        uint32_t code, error, remaining;
    };

    // All below with `mutex` held.
    uint32_t Handle(const Platform::IoRequest& request, uint32_t& bytes);
    uint32_t ReadQuadlet(uint64_t address, uint32_t& value);
    uint32_t WriteQuadlet(uint64_t address, uint32_t value);
    uint32_t SetVideoMode(uint32_t format, uint32_t mode, uint32_t rate);
    uint32_t SetGeometry(uint32_t mode, uint32_t left, uint32_t top, uint32_t width, uint32_t height);
    uint32_t SetColorCoding(uint32_t mode, uint32_t coding);
    uint32_t SetBytesPerPacket(uint32_t mode, uint32_t bytes);
    uint32_t Shot(uint32_t command);
    uint32_t FormatsMask() const;
    uint32_t ModesMask(uint32_t format) const;
    uint32_t RatesMask(uint32_t format, uint32_t mode) const;
    bool HasMode7(uint32_t mode) const;
    bool Supports(uint32_t coding) const;
    bool SettingsLocked() const { return resourcesAllocated; }
    FrameLayout Layout() const;
    FrameLayout Layout7(const Mode7& m) const;
    uint32_t PacketsPerFrame(const Mode7& m) const;
    bool Streaming() const { return resourcesAllocated && (continuous || oneShotPending); }
    std::chrono::nanoseconds Period() const;
    void TakeAll(std::vector<Platform::IoRequestPtr>& out, const void* file, uint64_t thread);
    void WaitIdle(std::unique_lock<std::mutex>& lock);

    void Clock();

    const int id;
    const CameraDescription description;
    std::string path;
    const bool advanced;

    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    bool stop = false;
    bool removed = false;

    uint32_t format = 7, mode = 0, rate = 0;
    Mode7 modes[8];
    double frameRate;
    bool headerOn, checkWordOn;
    uint32_t keyHigh = 0, keyLow = 0;
    uint32_t guidWords[4] = {};

    bool resourcesAllocated = false;
    uint32_t resourceBuffers = 0, resourceBytesPerPacket = 0;
    uint32_t isoChannel;
    // IIDC feature control: brightness, auto exposure, gamma, shutter, gain
    // and trigger mode, by feature index (register 0x800 + 4 * index).
    struct Feature {
        bool present = false;
        uint32_t minValue = 0, maxValue = 0, value = 0;
        bool on = true, autoMode = false;
    };
    Feature features[13];
    static uint32_t FeatureInquiry(const Feature& f, bool trigger);
    static uint32_t FeatureControl(const Feature& f, bool trigger);
    static uint32_t SetFeature(Feature& f, uint32_t value, bool trigger);
    bool continuous = false, oneShotPending = false;
    std::deque<Queued> queue;
    bool filling = false;
    uint32_t frameCounter = 0;

    std::vector<RequestFault> requestFaults;
    std::deque<uint32_t> bufferFaults;
    uint32_t checkWordFaults = 0;
    CameraStatistics stats;

    FrameGenerator generator;
    std::thread clock;
};

} // namespace Tav::Sim1394::Detail
