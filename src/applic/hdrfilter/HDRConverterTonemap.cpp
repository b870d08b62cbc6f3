#include "HDRConverterTonemap.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace Tav {

namespace {

template <typename ValueOf>
void CountRows(const uint16_t* source, int32_t width, int32_t height, int32_t pitch,
               uint32_t* histogram, ValueOf valueOf)
{
    for (int32_t y = 0; y < height; ++y) {
        const uint16_t* row = reinterpret_cast<const uint16_t*>(
            reinterpret_cast<const uint8_t*>(source) + static_cast<intptr_t>(pitch) * y);
        for (int32_t x = 0; x < width; ++x)
            ++histogram[valueOf(row[x])];
    }
}

} // namespace

bool CHDRConverterTonemap::Convert(const uint16_t* source, uint8_t* target, int32_t width,
                                   int32_t height, int32_t sourcePitch, int32_t targetPitch,
                                   int32_t pixelType, int32_t bitDepth)
{
    const bool isCode = pixelType == HDRPixelType::ExponentMantissa;
    if (pixelType != HDRPixelType::Mono16 && !isCode)
        return false;
    if (!IsValidImage(source, target, width, height, sourcePitch, targetPitch))
        return false;
    if (!EnsureSize(width, height))
        return false;
    const uint64_t count = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
    if (count == 0)
        return true;
    if (count > std::numeric_limits<uint32_t>::max())
        return false;

    uint32_t histogram[TableSize];
    std::memset(histogram, 0, sizeof histogram);
    const int32_t* code = codeTable.get();
    if (isCode)
        CountRows(source, width, height, sourcePitch, histogram,
                  [code](uint16_t s) { return code[s]; });
    else
        CountRows(source, width, height, sourcePitch, histogram,
                  [](uint16_t s) { return s; });

    int32_t nonEmpty = 0;
    for (int32_t v = 0; v < TableSize; ++v)
        nonEmpty += histogram[v] != 0;
    const uint32_t levels = static_cast<uint32_t>(std::min(nonEmpty, 255));

    // Output of every bin: levels * (samples below the bin) / count, rounded
    // down. The product is formed exactly (it passes 32 bits on images above
    // 16 M pixels); a double holds it and the quotient's floor exactly.
    uint8_t mapping[TableSize];
    const double total = static_cast<double>(count);
    uint32_t below = 0;
    for (int32_t v = 0; v < TableSize; ++v) {
        mapping[v] = static_cast<uint8_t>(
            static_cast<uint32_t>(static_cast<double>(levels) * below / total));
        below += histogram[v];
    }

    for (int32_t y = 0; y < height; ++y) {
        const uint16_t* in = SourceRow(source, sourcePitch, y);
        uint8_t* out = TargetRow(target, targetPitch, y);
        if (isCode)
            for (int32_t x = 0; x < width; ++x)
                out[x] = mapping[code[in[x]]];
        else
            for (int32_t x = 0; x < width; ++x)
                out[x] = mapping[in[x]];
    }
    return true;
}

} // namespace Tav
