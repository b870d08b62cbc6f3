#include "HDRFilterAux.h"

#include "HDRConverterGamma.h"
#include "HDRConverterLaplace.h"
#include "HDRConverterTonemap.h"
#include "HDRConverterTruncate.h"

#include "Common/Exception.h"

namespace Tav {

namespace {

HDRPalette MakeFalseColorPalette()
{
    HDRPalette palette{};
    for (int v = 0; v < 256; ++v) {
        int b0, b1, b2;
        if (v <= 31)
            b0 = 131 + 4 * v;
        else if (v <= 96)
            b0 = 255;
        else if (v <= 127)
            b0 = 255 - 4 * (v - 96);
        else if (v <= 160)
            b0 = 128 - 4 * (v - 128);
        else
            b0 = 0;

        if (v <= 31)
            b1 = 0;
        else if (v <= 63)
            b1 = 4 * (v - 31);
        else if (v <= 95)
            b1 = 131 + 4 * (v - 64);
        else if (v <= 160)
            b1 = 255;
        else if (v <= 191)
            b1 = 255 - 4 * (v - 160);
        else if (v <= 224)
            b1 = 128 - 4 * (v - 192);
        else
            b1 = 0;

        if (v <= 95)
            b2 = 0;
        else if (v <= 127)
            b2 = 4 * (v - 95);
        else if (v <= 159)
            b2 = 131 + 4 * (v - 128);
        else if (v <= 224)
            b2 = 255;
        else
            b2 = 255 - 4 * (v - 224);

        palette[v] = {static_cast<uint8_t>(b0), static_cast<uint8_t>(b1), static_cast<uint8_t>(b2)};
    }
    return palette;
}

HDRPalette MakeGreyPalette(bool descending)
{
    HDRPalette palette{};
    for (int v = 0; v < 256; ++v) {
        const auto g = static_cast<uint8_t>(descending ? 255 - v : v);
        palette[v] = {g, g, g};
    }
    return palette;
}

} // namespace

bool IsHDRPixelType(int32_t pixelType)
{
    return pixelType == HDRPixelType::Mono16 || pixelType == HDRPixelType::Raw16 ||
           pixelType == HDRPixelType::ExponentMantissa || pixelType == HDRPixelType::Packed12;
}

int32_t HDRConvertPixelType(int32_t sourcePixelType)
{
    return sourcePixelType == HDRPixelType::Raw16 ? HDRPixelType::Mono16 : sourcePixelType;
}

int32_t HDRTargetPixelType(int32_t sourcePixelType)
{
    return sourcePixelType == HDRPixelType::Raw16 || sourcePixelType == HDRPixelType::Packed12
               ? HDRPixelType::Raw8
               : HDRPixelType::Mono8;
}

double HDRGammaFromPercent(int32_t percent)
{
    return percent * 0.01;
}

CHDRConverterBase& SelectHDRConverter(int32_t selection, double gammaValue,
                                      CHDRConverterTruncate& truncate,
                                      CHDRConverterTonemap& tonemap,
                                      CHDRConverterLaplace& laplace, CHDRConverterGamma& gamma)
{
    switch (selection) {
    case HDRConverterSelection::Tonemap:
        return tonemap;
    case HDRConverterSelection::Laplace:
        return laplace;
    case HDRConverterSelection::Gamma:
        gamma.SetGamma(gammaValue);
        return gamma;
    default:
        return truncate;
    }
}

size_t Packed12ByteCount(size_t sampleCount)
{
    static constexpr size_t partialBytes[4] = {0, 2, 4, 6};
    return sampleCount / 4 * 6 + partialBytes[sampleCount % 4];
}

void UnpackPacked12(const uint8_t* source, size_t sourceSize, uint16_t* target,
                    size_t sampleCount)
{
    if (sampleCount == 0)
        return;
    if (!source || !target || sampleCount > SIZE_MAX / 2 ||
        sourceSize < Packed12ByteCount(sampleCount))
        throw CCommonException(0xCEF00006, __LINE__, "HDRFilterAux.cpp");

    const size_t groups = sampleCount / 4;
    for (size_t g = 0; g < groups; ++g) {
        const uint8_t* b = source + 6 * g;
        uint16_t* out = target + 4 * g;
        out[0] = static_cast<uint16_t>((b[1] << 4) | (b[0] >> 4));
        out[1] = static_cast<uint16_t>(((b[0] & 0x0F) << 8) | b[3]);
        out[2] = static_cast<uint16_t>((b[2] << 4) | (b[5] >> 4));
        out[3] = static_cast<uint16_t>(((b[5] & 0x0F) << 8) | b[4]);
    }
    const size_t rest = sampleCount % 4;
    if (rest == 0)
        return;
    const uint8_t* b = source + 6 * groups;
    uint16_t* out = target + 4 * groups;
    out[0] = static_cast<uint16_t>((b[1] << 4) | (b[0] >> 4));
    if (rest > 1)
        out[1] = static_cast<uint16_t>(((b[0] & 0x0F) << 8) | b[3]);
    if (rest > 2)
        out[2] = static_cast<uint16_t>((b[2] << 4) | (b[5] >> 4));
}

const HDRPalette& GetHDRPalette(int32_t falseColor)
{
    static const HDRPalette falseColorPalette = MakeFalseColorPalette();
    static const HDRPalette descendingGrey = MakeGreyPalette(true);
    static const HDRPalette grey = MakeGreyPalette(false);
    switch (falseColor) {
    case 1:
        return falseColorPalette;
    case 2:
        return descendingGrey;
    default:
        return grey;
    }
}

void MapHDRPalette(const HDRPalette& palette, const uint8_t* source, int32_t sourcePitch,
                   uint8_t* target, int32_t targetPitch, int32_t width, int32_t height)
{
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* in = source + static_cast<intptr_t>(sourcePitch) * y;
        uint8_t* out = target + static_cast<intptr_t>(targetPitch) * y;
        for (int32_t x = 0; x < width; ++x) {
            const auto& entry = palette[in[x]];
            out[3 * x] = entry[0];
            out[3 * x + 1] = entry[1];
            out[3 * x + 2] = entry[2];
        }
    }
}

} // namespace Tav
