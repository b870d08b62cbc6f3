#pragma once

// A graph around one statistics module and builders of 16-bit test images.

#include "ImageStatistics.h"

#include "Core/ModuleLinker.h"
#include "DataBuffer/IPacket.h"

#include "support/TestModules.h"

#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace StatisticsTest {

// Pixels of a test image, line by line.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint16_t> pixels;
    uint16_t& At(int x, int y) { return pixels[size_t(y) * width + x]; }
    uint16_t At(int x, int y) const { return pixels[size_t(y) * width + x]; }
};

Picture MakePicture(int width, int height, const std::function<double(int x, int y)>& value);

// A packet with the picture as a Mono16 (or Mono8) image chunk.
Tav::CSmartPointer<Tav::IPacket> MakeMonoPacket(const Picture& picture, uint8_t pixelType = Tav::PixelTypeMono16);

// Gaussian noise of `sigma` per pixel, from a fixed seed.
std::vector<double> GaussianField(int width, int height, double sigma, unsigned seed);

struct StatisticsGraph {
    TavTest::TestSource source;
    Tav::CImageStatistics statistics;
    TavTest::CollectingSink output, refresh, errors;
    Tav::CModuleLinker linker;

    StatisticsGraph();
    ~StatisticsGraph();

    void WriteInt(uint32_t address, int32_t value) { statistics.Write(address, &value, 4); }
    void WriteReal(uint32_t address, double value) { statistics.Write(address, &value, 8); }
    int32_t ReadInt(uint32_t address);
    double ReadReal(uint32_t address);
    // Sends the packet in and returns what came out on port 1 (null when nothing).
    Tav::CSmartPointer<Tav::IPacket> Run(const Tav::CSmartPointer<Tav::IPacket>& packet);
    Tav::CSmartPointer<Tav::IPacket> Run(const Picture& picture) { return Run(MakeMonoPacket(picture)); }
    std::vector<uint32_t> ErrorCodes();
};

} // namespace StatisticsTest
