#include "ImageStatisticsTestSupport.h"

#include "Core/ErrorChunk.h"
#include "DataBuffer/ImageChunk.h"
#include "DataBuffer/Packet.h"
#include "DataBuffer/RtlHeapAllocator.h"

#include <cmath>
#include <cstring>

using namespace Tav;

namespace StatisticsTest {

Picture MakePicture(int width, int height, const std::function<double(int x, int y)>& value)
{
    Picture picture{width, height, std::vector<uint16_t>(size_t(width) * height)};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            picture.At(x, y) = uint16_t(std::clamp(std::lround(value(x, y)), 0L, 65535L));
    return picture;
}

CSmartPointer<IPacket> MakeMonoPacket(const Picture& picture, uint8_t pixelType)
{
    CChunkPtr<CImageChunk> image =
        CreateImageChunkBuffer(0, 0, picture.width, picture.height, GetDefaultAllocator(), pixelType);
    int size = 0;
    uint8_t* data = static_cast<uint8_t*>(image.LockData(&size));
    for (size_t i = 0; i < picture.pixels.size(); ++i) {
        if (pixelType == PixelTypeMono16)
            std::memcpy(data + 2 * i, &picture.pixels[i], 2);
        else
            data[i] = uint8_t(std::min<int>(picture.pixels[i], 255));
    }
    image.UnlockData();
    CSmartPointer<IPacket> packet = CPacket::Create();
    packet->AddChunkBuffer(image.GetBuffer().Get());
    return packet;
}

std::vector<double> GaussianField(int width, int height, double sigma, unsigned seed)
{
    std::mt19937 engine(seed);
    std::normal_distribution<double> normal(0.0, sigma);
    std::vector<double> field(size_t(width) * height);
    for (double& v : field)
        v = normal(engine);
    return field;
}

StatisticsGraph::StatisticsGraph()
{
    source.Initialize("Source", nullptr);
    statistics.Initialize("ImageStatistics", nullptr);
    output.Initialize("Output", nullptr);
    refresh.Initialize("Refresh", nullptr);
    errors.Initialize("Errors", nullptr);
    linker.Link(&source, 1, &statistics, 1);
    linker.Link(&statistics, 1, &output, 1);
    linker.Link(&statistics, 3, &refresh, 1);
    linker.Link(&statistics, 0, &errors, 1);
    statistics.Start();
}

StatisticsGraph::~StatisticsGraph()
{
    linker.UnlinkAll();
}

int32_t StatisticsGraph::ReadInt(uint32_t address)
{
    int32_t value = 0;
    statistics.Read(address, &value, 4);
    return value;
}

double StatisticsGraph::ReadReal(uint32_t address)
{
    double value = 0;
    statistics.Read(address, &value, 8);
    return value;
}

CSmartPointer<IPacket> StatisticsGraph::Run(const CSmartPointer<IPacket>& packet)
{
    const size_t before = output.Count();
    source.Emit(packet);
    auto deliveries = output.Deliveries();
    return deliveries.size() > before ? deliveries.back().packet : CSmartPointer<IPacket>();
}

std::vector<uint32_t> StatisticsGraph::ErrorCodes()
{
    std::vector<uint32_t> codes;
    for (const auto& d : errors.Deliveries()) {
        CChunkPtr<CChunk> chunk;
        d.packet->FindChunk(chunk, GUID_ErrorChunk);
        codes.push_back(ReadErrorChunk(chunk).code);
    }
    return codes;
}

} // namespace StatisticsTest
