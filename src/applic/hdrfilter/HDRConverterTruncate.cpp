#include "HDRConverterTruncate.h"

#include <cstddef>

namespace Tav {

int32_t CHDRConverterTruncate::ShiftForBitDepth(int32_t bitDepth)
{
    // An unstated depth (0) means all 16 bits carry the value. Depths outside
    // 8..16 cannot describe a 16-bit sample; shifting by (depth - 8) mod 32
    // there would blank the picture, so they are held to that range.
    if (bitDepth == 0 || bitDepth > 16)
        bitDepth = 16;
    if (bitDepth < 8)
        bitDepth = 8;
    return bitDepth - 8;
}

bool CHDRConverterTruncate::Convert(const uint16_t* source, uint8_t* target, int32_t width,
                                    int32_t height, int32_t sourcePitch, int32_t targetPitch,
                                    int32_t pixelType, int32_t bitDepth)
{
    if (width < 0 || height < 0 || (width > 0 && height > 0 && (!source || !target)))
        return false;
    if (!EnsureSize(width, height))
        return false;
    const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
    const unsigned shift = static_cast<unsigned>(ShiftForBitDepth(bitDepth));
    for (size_t i = 0; i < count; ++i)
        target[i] = static_cast<uint8_t>(source[i] >> shift);
    return true;
}

} // namespace Tav
