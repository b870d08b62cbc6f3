// Arbitrary image contents, sizes, pixel types and bit depths through every
// HDR converter and the 12-bit unpacking; none may crash or read outside.
#include "HDRConverterGamma.h"
#include "HDRConverterLaplace.h"
#include "HDRConverterTonemap.h"
#include "HDRConverterTruncate.h"
#include "HDRFilterAux.h"

#include "Common/Exception.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 6)
        return 0;
    const int32_t selection = data[0] % 4;
    const int32_t falseColor = data[0] / 4 % 4;
    const int32_t pixelType = data[1] % 3 == 0 ? 5 : data[1] % 3 == 1 ? 128 : data[1];
    const int32_t width = data[2] % 80;
    const int32_t height = data[3] % 80;
    const int32_t bitDepth = data[4];
    const int32_t gammaPercent = data[5];
    data += 6;
    size -= 6;

    const size_t count = static_cast<size_t>(width) * height;
    std::vector<uint16_t> source(count, 0);
    if (count > 0)
        std::memcpy(source.data(), data, std::min(size, count * 2));
    std::vector<uint8_t> target(count, 0);

    static Tav::CHDRConverterTruncate truncate;
    static Tav::CHDRConverterTonemap tonemap;
    static Tav::CHDRConverterLaplace laplace;
    static Tav::CHDRConverterGamma gamma;
    Tav::CHDRConverterBase& converter = Tav::SelectHDRConverter(
        selection, Tav::HDRGammaFromPercent(gammaPercent), truncate, tonemap, laplace, gamma);
    converter.Convert(source.data(), target.data(), width, height, 2 * width, width, pixelType,
                      bitDepth);

    std::vector<uint8_t> rgb(count * 3);
    Tav::MapHDRPalette(Tav::GetHDRPalette(falseColor), target.data(), width, rgb.data(),
                       3 * width, width, height);

    try {
        Tav::UnpackPacked12(data, size, source.data(), count);
    } catch (const Tav::CException&) {
    }
    return 0;
}
