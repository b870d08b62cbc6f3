#pragma once

#include "HDRConverterBase.h"

namespace Tav {

// Keeps the eight most significant of the `bitDepth` bits of every sample.
class CHDRConverterTruncate : public CHDRConverterBase {
public:
    // Any pixel type. Lines are taken as contiguous; the pitches are not used.
    bool Convert(const uint16_t* source, uint8_t* target, int32_t width, int32_t height,
                 int32_t sourcePitch, int32_t targetPitch, int32_t pixelType,
                 int32_t bitDepth) override;

    // Right shift used for a stated bit depth.
    static int32_t ShiftForBitDepth(int32_t bitDepth);
};

} // namespace Tav
