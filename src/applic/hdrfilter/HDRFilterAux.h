#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace Tav {

class CHDRConverterBase;
class CHDRConverterTruncate;
class CHDRConverterTonemap;
class CHDRConverterLaplace;
class CHDRConverterGamma;

// Values of the converter selection register.
namespace HDRConverterSelection {
constexpr int32_t Truncate = 0;
constexpr int32_t Tonemap = 1;
constexpr int32_t Laplace = 2;
constexpr int32_t Gamma = 3;
} // namespace HDRConverterSelection

// True for the pixel types the HDR filter converts: Mono16, Raw16 and the two
// camera-specific encodings 128 and 129.
bool IsHDRPixelType(int32_t pixelType);

// Pixel type handed to Convert for a 16-bit source (type 129 is unpacked to
// Raw16 first): Raw16 is converted as Mono16.
int32_t HDRConvertPixelType(int32_t sourcePixelType);

// Pixel type of the 8-bit result: Raw8 for raw sources (Raw16 and unpacked
// type 129), Mono8 for the others.
int32_t HDRTargetPixelType(int32_t sourcePixelType);

// Gamma from the gamma register, which holds it times 100.
double HDRGammaFromPercent(int32_t percent);

// The converter for a selection value; the gamma converter gets `gammaValue`
// first. Values not listed select truncation.
CHDRConverterBase& SelectHDRConverter(int32_t selection, double gammaValue,
                                      CHDRConverterTruncate& truncate,
                                      CHDRConverterTonemap& tonemap,
                                      CHDRConverterLaplace& laplace, CHDRConverterGamma& gamma);

// Bytes holding `sampleCount` samples of the 12-bit packed type: six bytes per
// four samples, and for a last partial group the bytes up to the last one its
// samples use (2, 4 or 6).
size_t Packed12ByteCount(size_t sampleCount);

// Unpacks `sampleCount` 12-bit samples from six-byte groups B0..B5:
// (B1 << 4) | (B0 >> 4), ((B0 & 0x0F) << 8) | B3, (B2 << 4) | (B5 >> 4),
// ((B5 & 0x0F) << 8) | B4. Throws the common error 0xCEF00006 when `source`
// is null or shorter than Packed12ByteCount(sampleCount).
void UnpackPacked12(const uint8_t* source, size_t sourceSize, uint16_t* target,
                    size_t sampleCount);

// Three bytes (0, 1, 2 of the 24-bit pixel) for every 8-bit value.
using HDRPalette = std::array<std::array<uint8_t, 3>, 256>;

// The palette of a false-colour register value: 1 the false-colour scale,
// 2 descending grey, anything else grey.
const HDRPalette& GetHDRPalette(int32_t falseColor);

// target pixel = palette[source value], three bytes per pixel; pitches in bytes.
void MapHDRPalette(const HDRPalette& palette, const uint8_t* source, int32_t sourcePitch,
                   uint8_t* target, int32_t targetPitch, int32_t width, int32_t height);

} // namespace Tav
