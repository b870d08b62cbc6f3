#include "ImageStatistics.h"

#include "ViewPainter.h"

#include "Common/Exception.h"
#include "DataBuffer/AllocMemBlock.h"
#include "DataBuffer/ChunkBuffer.h"
#include "DataBuffer/ImageChunk.h"
#include "DataBuffer/Packet.h"
#include "DataBuffer/RtlHeapAllocator.h"
#include "DataBuffer/ValueChunk.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>

namespace Tav {

namespace {

constexpr const char* SourceName = "ImageStatistics.cpp";
constexpr const char* HelperSourceName = "TavRegisterSetHelper.cpp";
constexpr int ReadFaultLine = 375;
constexpr int WriteFaultLine = 500;
constexpr uint32_t RefreshValue = 99;
constexpr int HistogramBins = 256;

enum class Kind { Int, Real, Text, Command };

struct RegisterInfo {
    uint32_t address;
    Kind kind;
    bool readable;
    bool writable;
};

// Address, kind, R, W.
constexpr RegisterInfo Registers[] = {
    {0, Kind::Int, true, false},     {1, Kind::Real, true, false},    {2, Kind::Real, true, false},
    {3, Kind::Int, true, false},     {4, Kind::Real, true, false},    {5, Kind::Int, true, false},
    {6, Kind::Real, true, false},    {7, Kind::Int, true, false},     {8, Kind::Int, true, true},
    {9, Kind::Int, true, true},      {10, Kind::Int, true, true},     {11, Kind::Real, true, false},
    {12, Kind::Real, true, false},   {13, Kind::Real, true, false},   {16, Kind::Int, true, true},
    {17, Kind::Int, true, true},     {18, Kind::Int, true, false},    {19, Kind::Int, true, true},
    {20, Kind::Int, true, true},     {21, Kind::Int, true, false},    {22, Kind::Int, true, false},
    {23, Kind::Real, true, false},   {24, Kind::Real, true, false},   {25, Kind::Int, true, true},
    {32, Kind::Int, true, true},     {33, Kind::Int, true, false},    {34, Kind::Int, true, false},
    {35, Kind::Int, false, true},    {36, Kind::Real, true, false},   {37, Kind::Real, true, true},
    {38, Kind::Int, true, true},     {39, Kind::Int, false, true},    {40, Kind::Real, true, true},
    {81, Kind::Int, true, true},     {82, Kind::Int, true, true},     {83, Kind::Int, true, false},
    {84, Kind::Int, true, true},     {85, Kind::Int, true, true},     {86, Kind::Int, true, true},
    {87, Kind::Int, true, true},     {88, Kind::Command, false, true}, {89, Kind::Int, true, true},
    {96, Kind::Int, true, true},     {97, Kind::Command, false, true}, {98, Kind::Int, true, true},
    {99, Kind::Int, true, true},     {112, Kind::Int, true, true},    {113, Kind::Int, true, true},
    {114, Kind::Text, true, true},   {115, Kind::Int, true, true},
};

const RegisterInfo* FindRegister(uint64_t address)
{
    if (address >> 32)
        return nullptr;
    for (const RegisterInfo& info : Registers)
        if (info.address == address)
            return &info;
    return nullptr;
}

void CheckBuffer(uint32_t length, uint32_t size, const void* buffer)
{
    if (length != size)
        throw CCommonException(0xCEF00006, 37, HelperSourceName);
    if (!buffer)
        throw CCommonException(0xCEF00006, 42, HelperSourceName);
}

// Address 0: which settings apply to the view; bits 11-31 always set.
int32_t SettingsMask(int32_t view)
{
    switch (view) {
    case 0:
        return int32_t(0xFFFFF801u);
    case 1:
    case 2:
    case 12:
        return int32_t(0xFFFFF89Fu);
    case 3:
    case 4:
        return int32_t(0xFFFFFEB5u);
    case 5:
    case 8:
        return int32_t(0xFFFFFEBDu);
    case 6:
    case 7:
        return int32_t(0xFFFFFEB9u);
    case 9:
    case 10:
        return int32_t(0xFFFFF8B5u);
    case 11:
        return int32_t(0xFFFFF95Eu);
    default:
        return int32_t(0xFFFFF800u);
    }
}

bool IsSpectrumView(int32_t view)
{
    return view >= 3 && view <= 8;
}

bool IsVerticalView(int32_t view)
{
    return view == 2 || (view >= 6 && view <= 8);
}

// The exponential average of a stored value with depth h; a vector of
// another size is replaced.
void Average(double& stored, double value, int h)
{
    stored = h <= 0 ? value : (h * stored + value) / (h + 1);
}

void Average(int32_t& stored, int64_t value, int h)
{
    stored = int32_t(h <= 0 ? value : (int64_t(h) * stored + value) / (h + 1));
}

void Average(std::vector<double>& stored, const std::vector<double>& values, int h)
{
    if (stored.size() != values.size() || h <= 0) {
        stored = values;
        return;
    }
    for (size_t i = 0; i < values.size(); ++i) {
        // Negative entries mark positions without data.
        if (values[i] < 0 || stored[i] < 0)
            stored[i] = values[i];
        else
            stored[i] = (h * stored[i] + values[i]) / (h + 1);
    }
}

double Median(std::vector<double> values)
{
    if (values.empty())
        return 0.0;
    const size_t middle = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + long(middle), values.end());
    return values[middle];
}

int32_t Clamp(int32_t value, int32_t low, int32_t high)
{
    return std::max(low, std::min(value, high));
}

uint16_t ClampToWord(double value)
{
    if (!(value > 0.0))
        return 0;
    if (value >= 65535.0)
        return 65535;
    return uint16_t(value);
}

int64_t Shifted(int64_t value, int shift)
{
    if (shift < 0)
        return value >> std::min(-shift, 62);
    return value * (int64_t(1) << std::min(shift, 30));
}

CSmartPointer<IChunkBuffer> CopyChunk(const CChunkPtr<CChunk>& chunk)
{
    const uint32_t length = chunk.GetLength();
    CSmartPointer<IMemBlock> block = CAllocMemBlock::Create(length, GetDefaultAllocator());
    std::memcpy(block->Lock(), chunk.GetChunk()->GetChunkStart(), length);
    block->Unlock();
    return CChunkBuffer::Create(block, 0);
}

} // namespace

// The input frame as 16-bit samples, before the margin is cut.
struct CImageStatistics::CFrame {
    int width = 0;
    int height = 0;
    bool mono16 = false;
    std::vector<uint16_t> pixels;
};

struct CImageStatistics::CSpectrum {
    long length = 0; // N
    std::vector<double> amplitude;
    std::vector<double> coherent;
};

CImageStatistics::CImageStatistics()
    : spatialNoise(CUniformRandomGenerator::ClockState()), temporalNoise(CUniformRandomGenerator::ClockState())
{
    lock.Create();
    histogram.assign(HistogramBins, 0.0);
}

CImageStatistics::~CImageStatistics() = default;

void CImageStatistics::OnInitialize()
{
    CModuleBase::OnInitialize();
    SetErrorPort(0);
    SetAuxiliaryPort(-1);
    AddOutputPort(ImagePort);
    AddOutputPort(RefreshPort);
}

void CImageStatistics::OnData(int inputPort, const CSmartPointer<IPacket>& packet)
{
    switch (inputPort) {
    case ImagePort:
        ProcessPacket(packet);
        break;
    case RegisterPort:
        HandleRegisterRequests(*this, packet);
        break;
    default:
        CModuleBase::OnData(inputPort, packet);
    }
}

void CImageStatistics::SendRefresh()
{
    CSmartPointer<IPacket> refresh = CPacket::Create();
    refresh->AddChunkBuffer(MakeValueChunkBuffer(GUID_RefreshChunk, RefreshValue).Get());
    Send(RefreshPort, refresh);
}

void CImageStatistics::ProcessPacket(const CSmartPointer<IPacket>& packet)
{
    if (!packet)
        return;
    CSmartPointer<IPacket> out;
    bool refresh = false;
    bool exportNow = false;
    CStatisticsExportData exportData;
    std::string file;
    std::unique_ptr<CException> failure;
    {
        CCriticalSectionLock guard(lock);
        try {
            out = ProcessLocked(*packet, refresh, exportNow);
        } catch (const CException& error) {
            failure = std::make_unique<CException>(error);
        } catch (const std::bad_alloc&) {
            failure = std::make_unique<CException>(CCommonException(0xCEF0000A, __LINE__, SourceName));
        }
        if (failure) {
            // The frame is not measured; the packet still goes on.
            out = packet;
            refresh = true;
            exportNow = false;
        }
        if (exportNow) {
            exportData = ExportDataLocked();
            file = exportFile;
        }
    }
    // Errors, exports and packets leave without the lock held.
    if (failure)
        ReportError(*failure);
    try {
        if (exportNow)
            ExportStatistics(exportData, 2, file);
        if (out)
            Send(ImagePort, out);
        if (refresh)
            SendRefresh();
    } catch (const CException& error) {
        ReportError(error);
    }
}

CSmartPointer<IPacket> CImageStatistics::ProcessLocked(IPacket& packet, bool& refresh, bool& exportNow)
{
    CChunkPtr<CChunk> marker;
    packet.FindChunk(marker, GUID_AcquisitionMarkerChunk);
    if (marker) {
        const uint32_t value = ReadChunkValue(marker);
        if (value == 0)
            runMode = true;
        else if (value == 1)
            runMode = false;
    }
    if (!runMode) {
        framesLeft = -1;
        runEnd = true;
    }

    CSmartPointer<IEnumChunks> images;
    packet.EnumChunks(images, GUID_ImageChunk);
    CChunkPtr<CChunk> measured;
    CChunkPtr<CChunk> background;
    if (images) {
        images->Next(measured);
        if (images->GetCount() > 1) {
            CChunkPtr<CChunk> other;
            while (images->Next(other)) {
                if (CChunkPtr<CImageChunk>(other)->pixelType == PixelTypeRgb8) {
                    background = other;
                    break;
                }
            }
        }
    }
    const CImageChunk* header = measured ? CChunkPtr<CImageChunk>(measured).Get() : nullptr;
    if (!header || (header->pixelType != PixelTypeMono8 && header->pixelType != PixelTypeMono16) ||
        header->width < 8 || header->height < 8) {
        refresh = runEnd;
        return CSmartPointer<IPacket>(&packet);
    }

    runEnd = false;
    if (runMode && framesLeft > 0) {
        --framesLeft;
        if (framesLeft == 0 && autoExport == 1)
            runEnd = true;
    }

    if (header->width != inputWidth || header->height != inputHeight) {
        inputWidth = header->width;
        inputHeight = header->height;
        maxMargin = (std::min(inputWidth, inputHeight) - 8) / 2;
        margin = std::min(margin, maxMargin);
        Reinitialize();
    }

    CFrame frame;
    ReadInput(measured, frame);
    if (noiseMode != 0 && frame.mono16)
        AddSyntheticNoise(frame);
    BuildWorkingImage(frame);
    ApplyCorrections();

    CChunkPtr<CImageChunk> image = BuildOutputImage(background);
    {
        int size = 0;
        uint8_t* pixels = static_cast<uint8_t*>(image.LockData(&size));
        CViewPainter painter(pixels, working.width, working.height, 3 * working.width);
        try {
            MeasureNoise();
            ComputeView(painter);
        } catch (...) {
            image.UnlockData();
            throw;
        }
        image.UnlockData();
    }
    ++framesMeasured;

    CSmartPointer<IPacket> out = CPacket::Create();
    out->SetSequenceNumber(packet.GetSequenceNumber());
    out->AddChunkBuffer(image.GetBuffer().Get());
    for (const GUID* type : {&GUID_CycleTimeChunk, &GUID_FrameCounterChunk, &GUID_StatisticsPassChunk}) {
        CSmartPointer<IEnumChunks> chunks;
        packet.EnumChunks(chunks, *type);
        CChunkPtr<CChunk> chunk;
        while (chunks && chunks->Next(chunk))
            out->AddChunkBuffer(CopyChunk(chunk).Get());
    }
    exportNow = runEnd;
    refresh = true;
    return out;
}

void CImageStatistics::Reinitialize()
{
    lineView.clear();
    amplitude.clear();
    coherent.clear();
    phasorSums.clear();
    scanMean.clear();
    scanStdDev.clear();
    histogram.assign(HistogramBins, 0.0);
    phases.clear();
    previousLine.clear();
    maxWindowSize = 2 * margin;
    windowSize = std::min(windowSize, maxWindowSize);
    framesMeasured = 0;
}

void CImageStatistics::ReadInput(const CChunkPtr<CChunk>& chunk, CFrame& frame)
{
    CChunkPtr<CImageChunk> image(chunk);
    const CImageChunk header = *image.Get();
    frame.width = header.width;
    frame.height = header.height;
    frame.mono16 = header.pixelType == PixelTypeMono16;
    const int bytes = frame.mono16 ? 2 : 1;
    const int64_t rowBytes = int64_t(frame.width) * bytes;
    const int64_t stride = std::llabs(int64_t(header.pitch));
    int size = 0;
    const uint8_t* data = static_cast<const uint8_t*>(image.LockData(&size));
    if (!data || stride < rowBytes || stride * (frame.height - 1) + rowBytes > size) {
        image.UnlockData();
        throw CCommonException(0xCEF00006, __LINE__, SourceName);
    }
    frame.pixels.resize(size_t(frame.width) * frame.height);
    for (int y = 0; y < frame.height; ++y) {
        // A negative pitch stores the bottom line first.
        const int row = header.pitch < 0 ? frame.height - 1 - y : y;
        const uint8_t* line = data + stride * row;
        uint16_t* target = frame.pixels.data() + size_t(y) * frame.width;
        if (frame.mono16)
            std::memcpy(target, line, size_t(rowBytes));
        else
            for (int x = 0; x < frame.width; ++x)
                target[x] = line[x];
    }
    image.UnlockData();
}

void CImageStatistics::AddSyntheticNoise(CFrame& frame)
{
    constexpr double Scale = 10.0;
    double spatialFactor = 1.0, temporalFactor = 1.0;
    if (noiseMode == 1 || noiseMode == 8)
        temporalFactor = -1.0;
    else if (noiseMode == 2)
        spatialFactor = -1.0;
    // Modes 4-7: one phase of a 2 x 2 pattern, fixed in working-image
    // coordinates whatever the margin.
    const bool phased = noiseMode >= 4 && noiseMode <= 7;
    const int phaseX = (noiseMode - 4) & 1;
    const int phaseY = ((noiseMode - 4) >> 1) & 1;
    const double cx = std::cos(std::numbers::pi / 3) / 16.0;
    const double cy = std::sin(std::numbers::pi / 3) / 16.0;

    spatialNoise.Reset();
    for (int y = 0; y < frame.height; ++y) {
        uint16_t* line = frame.pixels.data() + size_t(y) * frame.width;
        for (int x = 0; x < frame.width; ++x) {
            // Both generators step for every pixel so the patterns stay put.
            const double spatial = spatialNoise.Next();
            const double temporal = temporalNoise.Next();
            if (phased && ((((x - margin) & 1) != phaseX) || (((y - margin) & 1) != phaseY)))
                continue;
            double value = line[x] + Scale * (spatialFactor * spatial + temporalFactor * temporal);
            if (noiseMode == 8)
                value += 5.0 * std::sin(2.0 * std::numbers::pi * (cx * x + cy * y));
            line[x] = ClampToWord(std::floor(value + 0.5));
        }
    }
}

void CImageStatistics::BuildWorkingImage(const CFrame& frame)
{
    int width = (frame.width - 2 * margin) & ~3;
    int height = (frame.height - 2 * margin) & ~3;
    if (width < 1 || height < 1)
        throw CCommonException(0xCEF00000, 1141, SourceName);

    int startX = 0, startY = 0, stepX = 1, stepY = 1;
    switch (subSampling) {
    case 1:
    case 2:
    case 3:
    case 4:
        stepX = stepY = 2;
        startX = (subSampling - 1) & 1;
        startY = (subSampling - 1) >> 1;
        break;
    case 5:
    case 6:
        stepY = 2;
        startY = subSampling == 5 ? 1 : 0;
        break;
    case 7:
    case 8:
        stepX = 2;
        startX = subSampling == 7 ? 1 : 0;
        break;
    case 9:
    case 10:
    case 11:
        stepX = 3;
        startX = subSampling - 9;
        break;
    default:
        break;
    }
    width /= stepX;
    height /= stepY;

    std::swap(previous, working);
    working.width = width;
    working.height = height;
    working.pixels.resize(size_t(width) * height);
    for (int y = 0; y < height; ++y) {
        const uint16_t* line = frame.pixels.data() + size_t(margin + startY + y * stepY) * frame.width +
                               margin + startX;
        uint16_t* target = working.pixels.data() + size_t(y) * width;
        if (stepX == 1)
            std::memcpy(target, line, size_t(width) * 2);
        else
            for (int x = 0; x < width; ++x)
                target[x] = line[x * stepX];
    }

    if ((windowOption == 1 || windowOption == 2) && windowSize > 1) {
        // Box means over windowSize x windowSize input pixels around each
        // working pixel, from a summed-area table of the whole input; the
        // margin supplies the pixels beyond the working image's edges.
        const int fw = frame.width, fh = frame.height;
        std::vector<double> sums(size_t(fw + 1) * (fh + 1), 0.0);
        double total = 0.0;
        for (int y = 0; y < fh; ++y) {
            double row = 0.0;
            for (int x = 0; x < fw; ++x) {
                row += frame.pixels[size_t(y) * fw + x];
                sums[size_t(y + 1) * (fw + 1) + x + 1] = sums[size_t(y) * (fw + 1) + x + 1] + row;
            }
            total += row;
        }
        const double frameMean = total / (double(fw) * fh);
        const int before = windowSize / 2;
        const int after = windowSize - 1 - before;
        for (int y = 0; y < height; ++y) {
            const int iy = margin + startY + y * stepY;
            const int y0 = std::max(0, iy - before), y1 = std::min(fh - 1, iy + after);
            for (int x = 0; x < width; ++x) {
                const int ix = margin + startX + x * stepX;
                const int x0 = std::max(0, ix - before), x1 = std::min(fw - 1, ix + after);
                const double boxSum = sums[size_t(y1 + 1) * (fw + 1) + x1 + 1] - sums[size_t(y0) * (fw + 1) + x1 + 1] -
                                      sums[size_t(y1 + 1) * (fw + 1) + x0] + sums[size_t(y0) * (fw + 1) + x0];
                const double boxMean = boxSum / (double(x1 - x0 + 1) * (y1 - y0 + 1));
                uint16_t& pixel = working.pixels[size_t(y) * width + x];
                // 1: the pixel less its surroundings (shading removed), 2: the surroundings.
                const double value = windowOption == 1 ? pixel - boxMean + frameMean : boxMean;
                pixel = ClampToWord(std::floor(value + 0.5));
            }
        }
    }
}

void CImageStatistics::ApplyCorrections()
{
    const size_t count = working.pixels.size();
    if (applyReference1 == 1) {
        if (!reference1.SameSize(working)) {
            applyReference1 = 0;
        } else {
            for (size_t i = 0; i < count; ++i) {
                const int lift = std::max(0, darkPedestal - int(reference1.pixels[i]));
                working.pixels[i] = uint16_t(std::min(65535, working.pixels[i] + lift));
            }
        }
    }
    if (applyReference2 == 1) {
        if (reference2Width != working.width || reference2Height != working.height || reference2.size() != count) {
            applyReference2 = 0;
        } else {
            for (size_t i = 0; i < count; ++i)
                working.pixels[i] = ClampToWord(std::trunc(working.pixels[i] * reference2[i]));
        }
    }
    if (filterMode >= 1 && filterMode <= 4) {
        if (filterWidth != working.width || filterHeight != working.height || filter.size() != count) {
            filter.assign(count, 0.0);
            filterWidth = working.width;
            filterHeight = working.height;
        }
        const double depth = filterDepth;
        if (filterMode >= 3)
            ++filterCount;
        const double frames = std::max(1, filterCount);
        for (size_t i = 0; i < count; ++i) {
            const double pixel = working.pixels[i];
            double& f = filter[i];
            if (filterMode <= 2)
                f = (depth * f + pixel) / (depth + 1.0);
            else
                f = ((frames - 1.0) * f + pixel) / frames;
            const double t = std::trunc(f);
            if (filterMode == 1 || filterMode == 3) {
                // The difference to the filtered image, centred on 128.
                double value;
                if (t < 0)
                    value = pixel + 128.0;
                else if (t > 65535)
                    value = pixel + 129.0;
                else
                    value = pixel + 128.0 - t;
                working.pixels[i] = ClampToWord(value);
            } else {
                working.pixels[i] = ClampToWord(t);
            }
        }
    }
}

int CImageStatistics::Mapped(int pixel) const
{
    return int(std::clamp<int64_t>(Shifted(int64_t(pixel) - displayOffset, displayShift), INT32_MIN, INT32_MAX));
}

int CImageStatistics::Mapped8(int pixel) const
{
    return mapping[size_t(pixel)] < 0 ? 0 : std::min(mapping[size_t(pixel)], 255);
}

CChunkPtr<CImageChunk> CImageStatistics::BuildOutputImage(const CChunkPtr<CChunk>& background)
{
    if (!mappingValid || mappingOffset != displayOffset || mappingShift != displayShift) {
        mapping.resize(65536);
        for (int i = 0; i < 65536; ++i)
            mapping[size_t(i)] = Mapped(i);
        mappingOffset = displayOffset;
        mappingShift = displayShift;
        mappingValid = true;
    }

    // A new picture every frame: the last one may still be shown downstream.
    CChunkPtr<CImageChunk> image =
        CreateImageChunkBuffer(0, 0, working.width, working.height, GetDefaultAllocator(), PixelTypeRgb8);
    int size = 0;
    uint8_t* pixels = static_cast<uint8_t*>(image.LockData(&size));
    const int pitch = 3 * working.width;
    bool copied = false;
    if (background) {
        CChunkPtr<CImageChunk> source(background);
        const CImageChunk header = *source.Get();
        int sourceSize = 0;
        const uint8_t* data = static_cast<const uint8_t*>(source.LockData(&sourceSize));
        const int64_t stride = std::llabs(int64_t(header.pitch));
        if (data && header.width == working.width && header.height == working.height && stride >= pitch &&
            stride * (header.height - 1) + pitch <= sourceSize) {
            for (int y = 0; y < working.height; ++y) {
                const int row = header.pitch < 0 ? working.height - 1 - y : y;
                std::memcpy(pixels + size_t(y) * pitch, data + stride * row, size_t(pitch));
            }
            copied = true;
        }
        source.UnlockData();
    }
    if (!copied) {
        const CRgbColor under = HlsToRgb(5, 102, 255);
        const CRgbColor over = HlsToRgb(46, 224, 255);
        for (size_t i = 0; i < working.pixels.size(); ++i) {
            const int v = mapping[working.pixels[i]];
            uint8_t* p = pixels + 3 * i;
            if (v < 0) {
                p[0] = under.blue, p[1] = under.green, p[2] = under.red;
            } else if (v > 255) {
                p[0] = over.blue, p[1] = over.green, p[2] = over.red;
            } else {
                p[0] = p[1] = p[2] = uint8_t(v);
            }
        }
    }
    image.UnlockData();
    return image;
}

void CImageStatistics::MeasureNoise()
{
    const int W = working.width, H = working.height;
    const uint16_t* P = working.pixels.data();
    double sum = 0.0;
    for (size_t i = 0; i < working.pixels.size(); ++i)
        sum += P[i];
    const double newMean = sum / (double(W) * H);

    // Extremes from the first difference on; no differences give 0.
    struct Range {
        int low = std::numeric_limits<int>::max();
        int high = std::numeric_limits<int>::min();
        void Add(int d)
        {
            low = std::min(low, d);
            high = std::max(high, d);
        }
        int64_t Span() const { return high < low ? 0 : int64_t(high) - low; }
    };

    const int evenWidth = W & ~1;
    double squares = 0.0;
    Range total;
    double totalRms;
    if (totalNoiseMethod == 1) {
        const uint16_t* line = P + size_t(H / 2) * W;
        for (int x = 0; x + 1 < evenWidth; x += 2) {
            const int d = int(line[x]) - line[x + 1];
            squares += double(d) * d;
            total.Add(d);
        }
        totalRms = std::sqrt(squares / ((evenWidth / 2) * 2.0));
    } else {
        for (int y = 0; y < H; ++y) {
            const uint16_t* line = P + size_t(y) * W;
            for (int x = 0; x + 4 < evenWidth; x += 4) {
                const int d1 = int(line[x]) - line[x + 2];
                const int d2 = int(line[x + 1]) - line[x + 3];
                squares += double(d1) * d1 + double(d2) * d2;
                total.Add(d1);
                total.Add(d2);
            }
        }
        totalRms = std::sqrt(squares / ((evenWidth / 2) * double(H) * 2.0));
    }

    double tempRms = 0.0;
    Range temp;
    if (previous.SameSize(working) && !previous.pixels.empty()) {
        double tempSquares = 0.0;
        const uint16_t* Q = previous.pixels.data();
        for (size_t i = 0; i < working.pixels.size(); ++i) {
            const int d = int(P[i]) - Q[i];
            tempSquares += double(d) * d;
            temp.Add(d);
        }
        tempRms = std::sqrt(tempSquares / (2.0 * W * H));
    }
    const double e = totalRms * totalRms - tempRms * tempRms;
    const double spatialRms = e >= 0 ? std::sqrt(e) : -std::sqrt(-e);

    const int h = averaging;
    Average(mean, newMean, h);
    Average(totalNoiseRms, totalRms, h);
    Average(tempNoiseRms, tempRms, h);
    Average(spatialNoiseRms, spatialRms, h);
    Average(totalNoisePp, total.Span(), h);
    Average(tempNoisePp, temp.Span(), h);
    Average(spatialNoisePp, total.Span() - temp.Span(), h);
}

void CImageStatistics::ComputeView(CViewPainter& painter)
{
    selectedValue = 0.0;
    selectedPeriod = 0.0;
    extentX = working.width - 1;
    extentY = working.height - 1;
    switch (view) {
    case 1:
        ComputeLineView(false, painter);
        break;
    case 2:
        ComputeLineView(true, painter);
        break;
    case 3:
    case 4:
    case 5:
        ComputeSpectrumView(false, painter);
        break;
    case 6:
    case 7:
    case 8:
        ComputeSpectrumView(true, painter);
        break;
    case 9:
        ComputeHistogram(false, painter);
        break;
    case 10:
        ComputeHistogram(true, painter);
        break;
    case 11:
        ComputeDeviations(painter);
        break;
    case 12:
        ComputeLineScan(painter);
        break;
    default:
        break; // view 0 and unknown views: the measures only
    }
}

void CImageStatistics::ComputeLineView(bool vertical, CViewPainter& painter)
{
    const int W = working.width, H = working.height;
    selectedX = Clamp(selectedX, 0, W - 1);
    selectedY = Clamp(selectedY, 0, H - 1);
    std::vector<double> values(size_t(vertical ? H : W));
    for (size_t i = 0; i < values.size(); ++i)
        values[i] = vertical ? Mapped8(working.At(selectedX, int(i))) : Mapped8(working.At(int(i), selectedY));
    Average(lineView, values, averaging);
    median = Median(lineView);
    selectedValue = lineView[size_t(vertical ? selectedY : selectedX)];

    // The measured line on the picture, then its plot.
    for (int i = 0; i < (vertical ? H : W); i += 2) {
        if (vertical)
            painter.Put(selectedX, i, CViewPainter::Red);
        else
            painter.Put(i, selectedY, CViewPainter::Red);
    }
    const CViewPainter::Box box = painter.PlotBox();
    painter.Axes(box, 0, double(lineView.size() - 1), 0, 255);
    painter.Curve(box, lineView, 0, 255, CViewPainter::Green);
    painter.Marker(box, vertical ? selectedY : selectedX, long(lineView.size()), CViewPainter::Red);
}

void CImageStatistics::Spectrum(bool vertical, int selectedBin, CSpectrum& result)
{
    const int length = vertical ? working.height : working.width;
    const int lines = vertical ? working.width : working.height;
    int N = 2;
    while (N * 2 <= length)
        N *= 2;
    const int n = 2 * N;
    if (!fft || fft->GetLength() != n)
        fft = CRealFft::Get(n);
    result.length = N;

    std::vector<double> window(size_t(N), 1.0);
    if (windowFunction == 1)
        for (int i = 0; i < N; ++i)
            window[size_t(i)] = 0.54 - 0.46 * std::cos(2.0 * std::numbers::pi * i / (N - 1));

    std::vector<double> power(size_t(N) + 1, 0.0);
    phasorSums.assign(2 * (size_t(N) + 1), 0.0);
    spectrumScratch.resize(size_t(n) + 2);
    previousLine.resize(size_t(n) + 2);
    phases.assign(size_t(lines), 0.0);
    double* X = spectrumScratch.data();
    double* S = phasorSums.data();
    const int k = selectedBin;

    for (int line = 0; line < lines; ++line) {
        double sum = 0.0;
        for (int i = 0; i < N; ++i) {
            X[i] = vertical ? working.At(line, i) : working.At(i, line);
            sum += X[i];
        }
        const double lineMean = sum / N;
        for (int i = 0; i < N; ++i)
            X[i] = (X[i] - lineMean) * window[size_t(i)];
        std::fill(X + N, X + n + 2, 0.0);
        fft->Transform(X);

        for (int j = 0; j <= N; ++j)
            power[size_t(j)] += X[2 * j] * X[2 * j] + X[2 * j + 1] * X[2 * j + 1];

        if (k >= 1) {
            // Every bin turned back by the phase the selected bin's pattern
            // has at this line: a pattern locked to it adds up coherently.
            const double phi = std::atan2(X[2 * k + 1], X[2 * k]);
            phases[size_t(line)] = phi;
            const double stepRe = std::cos(-phi / k), stepIm = std::sin(-phi / k);
            double rRe = 1.0, rIm = 0.0;
            for (int j = 0; j <= N; ++j) {
                const double re = X[2 * j], im = X[2 * j + 1];
                const double squared = re * re + im * im;
                if (squared > 1e-20) {
                    const double scale = 1.0 / std::sqrt(squared);
                    S[2 * j] += (re * rRe - im * rIm) * scale;
                    S[2 * j + 1] += (re * rIm + im * rRe) * scale;
                }
                const double nextRe = rRe * stepRe - rIm * stepIm;
                rIm = rRe * stepIm + rIm * stepRe;
                rRe = nextRe;
            }
        } else {
            if (line > 0) {
                const double* Y = previousLine.data();
                for (int j = 0; j <= N; ++j) {
                    // X[j] conj(Y[j])
                    const double re = X[2 * j] * Y[2 * j] + X[2 * j + 1] * Y[2 * j + 1];
                    const double im = X[2 * j + 1] * Y[2 * j] - X[2 * j] * Y[2 * j + 1];
                    const double squared = re * re + im * im;
                    if (squared > 1e-20) {
                        const double scale = 1.0 / std::sqrt(squared);
                        S[2 * j] += re * scale;
                        S[2 * j + 1] += im * scale;
                    }
                }
            }
            std::swap(spectrumScratch, previousLine);
            X = spectrumScratch.data();
        }
    }

    const double gain = windowFunction == 1 ? 1.6 : 1.0;
    const int count = k >= 1 ? lines : lines - 1;
    result.amplitude.resize(size_t(N) + 1);
    result.coherent.resize(size_t(N) + 1);
    for (int i = 0; i <= N; ++i) {
        const double a = std::sqrt(power[size_t(i)] / (double(lines) * N)) * gain;
        result.amplitude[size_t(i)] = a;
        result.coherent[size_t(i)] = count > 0 ? a * std::hypot(S[2 * i], S[2 * i + 1]) / count : 0.0;
    }
}

void CImageStatistics::ComputeSpectrumView(bool vertical, CViewPainter& painter)
{
    int lengthX = 2, lengthY = 2;
    while (lengthX * 2 <= working.width)
        lengthX *= 2;
    while (lengthY * 2 <= working.height)
        lengthY *= 2;
    extentX = lengthX;
    extentY = lengthY;
    const int N = vertical ? lengthY : lengthX;
    int32_t& selected = vertical ? selectedY : selectedX;
    selected = Clamp(selected, 0, N);
    const int k = selected;

    CSpectrum spectrum;
    Spectrum(vertical, k, spectrum);
    transformLength = spectrum.length;
    Average(amplitude, spectrum.amplitude, averaging);
    Average(coherent, spectrum.coherent, averaging);

    fftWhiteNoise = Median(amplitude);
    const int firstBin = Clamp(selectedX, 0, N);
    double squares = 0.0;
    for (int i = std::max(1, firstBin); i <= N; ++i)
        squares += amplitude[size_t(i)] * amplitude[size_t(i)];
    fftFullNoise = N - firstBin > 0 ? std::sqrt(squares / (N - firstBin)) : 0.0;
    fftNonWhiteCoefficient =
        fftWhiteNoise > 1e-6 ? (fftFullNoise * fftFullNoise) / (fftWhiteNoise * fftWhiteNoise) : 0.0;
    median = fftWhiteNoise;
    UpdateSelectedBin();

    const int W = working.width, H = working.height;
    const int lines = vertical ? W : H;
    const int along = vertical ? H : W;
    const double period = k >= 1 ? 2.0 * N / k : 0.0;
    if ((view == 4 || view == 7) && k >= 1) {
        // The pattern's positions on every line of the lower half (columns:
        // right half) of the picture.
        const CRgbColor mark = HlsToRgb(46, 224, 255);
        for (int line = lines / 2; line < lines; ++line) {
            const double offset = period * (phases[size_t(line)] + std::numbers::pi) / (2.0 * std::numbers::pi);
            for (double p = offset; p < along; p += period) {
                const int at = int(p);
                if (vertical)
                    painter.Put(line, at, mark);
                else
                    painter.Put(at, line, mark);
            }
        }
    }
    if (view == 5 || view == 8) {
        std::vector<double> values(size_t(along), -1.0);
        if (k >= 1) {
            std::vector<double> sums(size_t(along), 0.0);
            std::vector<int> counts(size_t(along), 0);
            for (int line = 0; line < lines; ++line) {
                const int offset =
                    int(period * (phases[size_t(line)] + std::numbers::pi) / (2.0 * std::numbers::pi));
                for (int j = 0; offset + j < along; ++j) {
                    const int at = offset + j;
                    sums[size_t(j)] += Mapped8(vertical ? working.At(line, at) : working.At(at, line));
                    ++counts[size_t(j)];
                }
            }
            for (int j = 0; j < along; ++j)
                if (counts[size_t(j)] > 0)
                    values[size_t(j)] = sums[size_t(j)] / counts[size_t(j)];
        } else {
            const int fixed = vertical ? Clamp(selectedX, 0, W - 1) : Clamp(selectedY, 0, H - 1);
            for (int j = 0; j < along; ++j)
                values[size_t(j)] = Mapped8(vertical ? working.At(fixed, j) : working.At(j, fixed));
        }
        Average(lineView, values, averaging);
        const CViewPainter::Box box = painter.PlotBox();
        painter.Axes(box, 0, along - 1, 0, 255);
        painter.Curve(box, lineView, 0, 255, CViewPainter::Green);
        return;
    }

    double top = 0.0;
    for (size_t i = 1; i < amplitude.size(); ++i)
        top = std::max(top, amplitude[i]);
    if (!(top > 0.0))
        top = 1.0;
    top *= 1.05;
    const CViewPainter::Box box = painter.PlotBox();
    painter.Axes(box, 0, N, 0, top);
    painter.Curve(box, amplitude, 0, top, CViewPainter::Green);
    painter.Curve(box, coherent, 0, top, CViewPainter::Yellow);
    painter.Marker(box, k, N + 1, CViewPainter::Red);
}

void CImageStatistics::ComputeHistogram(bool logarithmic, CViewPainter& painter)
{
    histogram.assign(HistogramBins, 0.0);
    for (uint16_t pixel : working.pixels) {
        const int bin = mapping[pixel];
        if (bin >= 0 && bin < HistogramBins)
            histogram[size_t(bin)] += 1.0;
    }
    // The first bin at which half the pixels are counted; -1 when the
    // counted pixels never reach half of the image.
    const double half = double(working.width) * working.height / 2.0;
    double cumulative = 0.0;
    median = -1.0;
    for (int i = 0; i < HistogramBins; ++i) {
        cumulative += histogram[size_t(i)];
        if (cumulative >= half) {
            median = i;
            break;
        }
    }
    if (logarithmic)
        for (double& c : histogram)
            c = c < 1e-6 ? -1.0 : std::log10(c);
    const int bin = Clamp(selectedX, 0, HistogramBins - 1);
    selectedValue = histogram[size_t(bin)];
    selectedPeriod = bin;

    double top = 1.0;
    for (double c : histogram)
        top = std::max(top, c);
    const CViewPainter::Box box = painter.PlotBox();
    const double bottom = logarithmic ? -1.0 : 0.0;
    painter.Axes(box, 0, 255, bottom, top);
    painter.Bars(box, histogram, bottom, top, CViewPainter::Green);
    painter.Marker(box, bin, HistogramBins, CViewPainter::Red);
}

void CImageStatistics::ComputeDeviations(CViewPainter& painter)
{
    const CRgbColor above = HlsToRgb(128, 181, 255);
    const CRgbColor below = HlsToRgb(5, 102, 255);
    const int t = deviationThreshold;
    int64_t count = 0;
    for (int y = 0; y < working.height; ++y) {
        for (int x = 0; x < working.width; ++x) {
            const int pixel = working.At(x, y);
            if (pixel > 128 + t) {
                painter.Put(x, y, above);
                ++count;
            } else if (pixel < 128 - t) {
                painter.Put(x, y, below);
                ++count;
            }
        }
    }
    Average(deviationCount, count, averaging);
    selectedX = Clamp(selectedX, 0, working.width - 1);
    selectedY = Clamp(selectedY, 0, working.height - 1);
    selectedValue = working.At(selectedX, selectedY) - 128.0;
}

void CImageStatistics::ComputeLineScan(CViewPainter& painter)
{
    const int W = working.width, H = working.height;
    std::vector<double> sums(size_t(W), 0.0), squares(size_t(W), 0.0);
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x) {
            const double v = Mapped8(working.At(x, y));
            sums[size_t(x)] += v;
            squares[size_t(x)] += v * v;
        }
    }
    scanMean.resize(size_t(W));
    scanStdDev.resize(size_t(W));
    for (int x = 0; x < W; ++x) {
        const double m = sums[size_t(x)] / H;
        scanMean[size_t(x)] = m;
        scanStdDev[size_t(x)] = std::sqrt(std::max(0.0, squares[size_t(x)] / H - m * m));
    }
    ComputeLineView(false, painter);
    const CViewPainter::Box box = painter.PlotBox();
    painter.Curve(box, scanMean, 0, 255, CViewPainter::Cyan);
    painter.Curve(box, scanStdDev, 0, 255, CViewPainter::Yellow);
}

void CImageStatistics::PeakSearch(int direction)
{
    if (!IsSpectrumView(view) || amplitude.empty())
        return;
    int32_t& selected = IsVerticalView(view) ? selectedY : selectedX;
    const int last = int(amplitude.size()) - 1;
    const double g = peakFactor * totalNoiseRms;
    int bin = Clamp(selected, 0, last);
    enum { SeekLow, SeekHigh, InPeak } phase = SeekLow;
    int best = -1;
    for (;;) {
        const double a = amplitude[size_t(bin)];
        if (phase == SeekLow) {
            if (a < g)
                phase = SeekHigh;
        } else if (phase == SeekHigh) {
            if (a > g) {
                phase = InPeak;
                best = bin;
            }
        } else {
            if (a < g) {
                selected = best;
                UpdateSelectedBin();
                return;
            }
            if (a > amplitude[size_t(best)])
                best = bin;
        }
        const int next = bin + direction;
        if (next < 0 || next > last)
            break;
        bin = next;
    }
    if (phase == InPeak)
        selected = best;
    else
        selected = direction < 0 ? 0 : last;
    UpdateSelectedBin();
}

void CImageStatistics::UpdateSelectedBin()
{
    const int k = IsVerticalView(view) ? selectedY : selectedX;
    const long N = long(amplitude.size()) - 1;
    if (k < 0 || k > N)
        return;
    selectedValue = amplitude[size_t(k)];
    if (samplingScale > 1e-6)
        selectedPeriod = samplingScale * k * 0.5 / N;
    else
        selectedPeriod = k > 0 ? 2.0 * N / k : 0.0;
}

CStatisticsExportData CImageStatistics::ExportDataLocked() const
{
    CStatisticsExportData data;
    data.view = view;
    data.samplingScale = samplingScale;
    data.displayOffset = displayOffset;
    data.displayShift = displayShift;
    data.mean = mean;
    data.totalNoiseRms = totalNoiseRms;
    data.tempNoiseRms = tempNoiseRms;
    data.spatialNoiseRms = spatialNoiseRms;
    data.totalNoisePp = totalNoisePp;
    data.tempNoisePp = tempNoisePp;
    data.spatialNoisePp = spatialNoisePp;
    data.fftFullNoise = fftFullNoise;
    data.fftWhiteNoise = fftWhiteNoise;
    data.fftNonWhiteCoefficient = fftNonWhiteCoefficient;
    data.selectedBin = IsVerticalView(view) ? selectedY : selectedX;
    switch (view) {
    case 1:
    case 2:
    case 5:
    case 8:
        data.values = lineView;
        break;
    case 3:
    case 4:
    case 6:
    case 7:
        data.values = amplitude;
        data.values2 = coherent;
        data.transformLength = transformLength;
        break;
    case 9:
    case 10:
        data.values = histogram;
        break;
    case 12:
        data.values = scanMean;
        data.values2 = scanStdDev;
        break;
    default:
        break;
    }
    if (view == 5 || view == 8)
        data.transformLength = transformLength;
    return data;
}

CStatisticsExportData CImageStatistics::GetExportData()
{
    CCriticalSectionLock guard(lock);
    return ExportDataLocked();
}

CImageStatistics::CMonoImage CImageStatistics::GetWorkingImage()
{
    CCriticalSectionLock guard(lock);
    return working;
}

void CImageStatistics::Read(uint64_t address, void* buffer, uint32_t length)
{
    CCriticalSectionLock guard(lock);
    const RegisterInfo* info = FindRegister(address);
    if (!info || !info->readable)
        throw CCommonException(0xCEF00008, ReadFaultLine, SourceName);

    if (info->kind == Kind::Text) {
        if (length < exportFile.size() + 1)
            throw CCommonException(0xCEF00006, 37, HelperSourceName);
        if (!buffer)
            throw CCommonException(0xCEF00006, 42, HelperSourceName);
        // The whole buffer: the name, then zeros.
        std::memset(buffer, 0, length);
        std::memcpy(buffer, exportFile.data(), exportFile.size());
        return;
    }
    if (info->kind == Kind::Real) {
        CheckBuffer(length, 8, buffer);
        double value = 0.0;
        switch (info->address) {
        case 1: value = mean; break;
        case 2: value = totalNoiseRms; break;
        case 4: value = tempNoiseRms; break;
        case 6: value = spatialNoiseRms; break;
        case 11: value = fftFullNoise; break;
        case 12: value = fftWhiteNoise; break;
        case 13: value = fftNonWhiteCoefficient; break;
        case 23: value = selectedValue; break;
        case 24: value = selectedPeriod; break;
        case 36: value = median; break;
        case 37: value = samplingScale; break;
        case 40: value = peakFactor; break;
        }
        std::memcpy(buffer, &value, sizeof value);
        return;
    }
    CheckBuffer(length, 4, buffer);
    int32_t value = 0;
    switch (info->address) {
    case 0: value = SettingsMask(view); break;
    case 3: value = totalNoisePp; break;
    case 5: value = tempNoisePp; break;
    case 7: value = spatialNoisePp; break;
    case 8: value = noiseMode; break;
    case 9: value = subSampling; break;
    case 10: value = totalNoiseMethod; break;
    case 16: value = view; break;
    case 17: value = margin; break;
    case 18: value = maxMargin; break;
    case 19: value = selectedX; break;
    case 20: value = selectedY; break;
    case 21: value = extentX; break;
    case 22: value = extentY; break;
    case 25: value = averaging; break;
    case 32: value = deviationThreshold; break;
    case 33: value = deviationCount; break;
    case 34: value = framesMeasured; break;
    case 38: value = windowFunction; break;
    case 81: value = windowOption; break;
    case 82: value = windowSize; break;
    case 83: value = maxWindowSize; break;
    case 84: value = displayOffset; break;
    case 85: value = displayShift; break;
    case 86: value = filterMode; break;
    case 87: value = filterDepth; break;
    case 89: value = applyReference1; break;
    case 96: value = darkPedestal; break;
    case 98: value = applyReference2; break;
    case 99: value = filterCount; break;
    case 112: value = framesLeft; break;
    case 113: value = reserved113; break;
    case 115: value = autoExport; break;
    }
    std::memcpy(buffer, &value, sizeof value);
}

void CImageStatistics::Write(uint64_t address, const void* buffer, uint32_t length)
{
    int exportType = -1;
    CStatisticsExportData exportData;
    std::string file;
    {
        CCriticalSectionLock guard(lock);
        const RegisterInfo* info = FindRegister(address);
        if (!info || !info->writable)
            throw CCommonException(0xCEF00008, WriteFaultLine, SourceName);

        if (info->kind == Kind::Text) {
            if (!buffer)
                throw CCommonException(0xCEF00006, 42, HelperSourceName);
            // Up to the terminator, never beyond the buffer.
            const char* text = static_cast<const char*>(buffer);
            const size_t size = strnlen(text, length);
            if (size == 0)
                throw CCommonException(0xCEF00006, __LINE__, SourceName);
            exportFile.assign(text, size);
            return;
        }
        if (info->kind == Kind::Real) {
            CheckBuffer(length, 8, buffer);
            double value;
            std::memcpy(&value, buffer, sizeof value);
            if (!std::isfinite(value))
                throw CCommonException(0xCEF00006, __LINE__, SourceName);
            if (info->address == 37)
                samplingScale = value;
            else
                peakFactor = value;
            return;
        }
        CheckBuffer(length, 4, buffer);
        int32_t value;
        std::memcpy(&value, buffer, sizeof value);
        auto inRange = [](int32_t v, int32_t low, int32_t high) {
            if (v < low || v > high)
                throw CCommonException(0xCEF00006, __LINE__, SourceName);
        };
        switch (info->address) {
        case 8:
            inRange(value, 0, 8);
            noiseMode = value;
            spatialNoise.Reseed();
            spatialNoise.StoreSeed();
            temporalNoise.Reseed();
            break;
        case 9:
            inRange(value, 0, 11);
            subSampling = value;
            break;
        case 10:
            inRange(value, 0, 1);
            totalNoiseMethod = value;
            filterCount = 0;
            break;
        case 16:
            view = value;
            Reinitialize();
            break;
        case 17:
            inRange(value, 0, INT32_MAX);
            // Before the first image there is no maximum yet.
            margin = inputWidth > 0 ? std::min(value, maxMargin) : value;
            Reinitialize();
            break;
        case 19: selectedX = value; break;
        case 20: selectedY = value; break;
        case 25:
            inRange(value, 0, INT32_MAX);
            averaging = value;
            break;
        case 32: deviationThreshold = value; break;
        case 35:
            exportType = value;
            exportData = ExportDataLocked();
            file = exportFile;
            break;
        case 38: windowFunction = value; break;
        case 39:
            if (value == 1 || value == -1)
                PeakSearch(value);
            break;
        case 81: windowOption = value; break;
        case 82:
            inRange(value, 0, INT32_MAX);
            windowSize = value;
            break;
        case 84: displayOffset = value; break;
        case 85: displayShift = value; break;
        case 86:
            inRange(value, 0, 4);
            filterMode = value;
            break;
        case 87:
            inRange(value, 0, INT32_MAX);
            filterDepth = value;
            break;
        case 88:
            if (working.pixels.empty())
                throw CCommonException(0xCEF00006, __LINE__, SourceName);
            reference1 = working;
            break;
        case 89: applyReference1 = value; break;
        case 96: darkPedestal = value; break;
        case 97: {
            if (working.pixels.empty())
                throw CCommonException(0xCEF00006, __LINE__, SourceName);
            double sum = 0.0;
            for (uint16_t p : working.pixels)
                sum += p;
            const double imageMean = sum / double(working.pixels.size());
            reference2.resize(working.pixels.size());
            for (size_t i = 0; i < working.pixels.size(); ++i)
                reference2[i] = working.pixels[i] == 0 ? 65535.0 : imageMean / working.pixels[i];
            reference2Width = working.width;
            reference2Height = working.height;
            break;
        }
        case 98: applyReference2 = value; break;
        case 99: filterCount = 0; break;
        case 112: framesLeft = value; break;
        case 113: reserved113 = value; break;
        case 115: autoExport = value; break;
        }
    }
    // The export may wait for the GUI thread (clipboard, message boxes):
    // never under the lock.
    if (exportType >= 0)
        ExportStatistics(exportData, exportType, file);
}

} // namespace Tav
