#pragma once

#include "HDRConverterBase.h"

namespace Tav {

// Histogram equalisation over the sample values (Mono16) or their
// logarithmic codes (exponent/mantissa).
class CHDRConverterTonemap : public CHDRConverterBase {
public:
    bool Convert(const uint16_t* source, uint8_t* target, int32_t width, int32_t height,
                 int32_t sourcePitch, int32_t targetPitch, int32_t pixelType,
                 int32_t bitDepth) override;
};

} // namespace Tav
