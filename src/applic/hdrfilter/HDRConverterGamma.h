#pragma once

#include "HDRConverterBase.h"

#include <array>

namespace Tav {

// Stretches the image's value range over 16 bits and applies a gamma curve.
class CHDRConverterGamma : public CHDRConverterBase {
public:
    CHDRConverterGamma();

    bool Convert(const uint16_t* source, uint8_t* target, int32_t width, int32_t height,
                 int32_t sourcePitch, int32_t targetPitch, int32_t pixelType,
                 int32_t bitDepth) override;

    // Rebuilds the gamma table when the value changes.
    void SetGamma(double gamma);
    double GetGamma() const { return gamma; }
    const std::array<uint8_t, TableSize>& GetGammaTable() const { return gammaTable; }

private:
    void BuildGammaTable();

    double gamma;
    std::array<uint8_t, TableSize> gammaTable;
};

} // namespace Tav
