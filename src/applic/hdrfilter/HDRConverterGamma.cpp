#include "HDRConverterGamma.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace Tav {

CHDRConverterGamma::CHDRConverterGamma() : gamma(1.0)
{
    BuildGammaTable();
}

void CHDRConverterGamma::SetGamma(double value)
{
    // Compared bitwise so that a NaN, once set, is not rebuilt for every call.
    if (std::memcmp(&value, &gamma, sizeof value) == 0)
        return;
    gamma = value;
    BuildGammaTable();
}

void CHDRConverterGamma::BuildGammaTable()
{
    const double top = std::pow(65535.0, gamma);
    for (int32_t i = 0; i < TableSize; ++i) {
        const double v = std::floor(255.0 * std::pow(static_cast<double>(i), gamma) / top + 0.5);
        // Negative gammas give values above 255, a NaN gamma NaN; keep every
        // entry a valid byte.
        gammaTable[i] = v >= 0.0 ? static_cast<uint8_t>(std::min(v, 255.0)) : 0;
    }
}

bool CHDRConverterGamma::Convert(const uint16_t* source, uint8_t* target, int32_t width,
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
    if (width == 0 || height == 0)
        return true;

    if (!isCode) {
        uint16_t low = 0xFFFF;
        uint16_t high = 0;
        for (int32_t y = 0; y < height; ++y) {
            const uint16_t* in = SourceRow(source, sourcePitch, y);
            for (int32_t x = 0; x < width; ++x) {
                low = std::min(low, in[x]);
                high = std::max(high, in[x]);
            }
        }
        const int32_t range = std::max(high - low, 255);
        const double scale = 65535.0 / range;
        // One output per value present in the image, so the pixel loop is a
        // single lookup.
        uint8_t mapping[TableSize];
        for (int32_t d = 0; d <= high - low; ++d)
            mapping[d] = gammaTable[std::min(static_cast<int32_t>(d * scale), TableSize - 1)];
        for (int32_t y = 0; y < height; ++y) {
            const uint16_t* in = SourceRow(source, sourcePitch, y);
            uint8_t* out = TargetRow(target, targetPitch, y);
            for (int32_t x = 0; x < width; ++x)
                out[x] = mapping[in[x] - low];
        }
        return true;
    }

    // Linear values may use all 32 bits, so differences are taken in 64 bits.
    const int32_t* linear = linearTable.get();
    int32_t low = linear[SourceRow(source, sourcePitch, 0)[0]];
    int32_t high = low;
    for (int32_t y = 0; y < height; ++y) {
        const uint16_t* in = SourceRow(source, sourcePitch, y);
        for (int32_t x = 0; x < width; ++x) {
            low = std::min(low, linear[in[x]]);
            high = std::max(high, linear[in[x]]);
        }
    }
    const int64_t range = std::max<int64_t>(static_cast<int64_t>(high) - low, 255);
    const double scale = 65535.0 / static_cast<double>(range);
    for (int32_t y = 0; y < height; ++y) {
        const uint16_t* in = SourceRow(source, sourcePitch, y);
        uint8_t* out = TargetRow(target, targetPitch, y);
        for (int32_t x = 0; x < width; ++x) {
            const int64_t offset = static_cast<int64_t>(linear[in[x]]) - low;
            const double index = static_cast<double>(offset) * scale;
            out[x] = gammaTable[std::min(static_cast<int32_t>(index), TableSize - 1)];
        }
    }
    return true;
}

} // namespace Tav
