#pragma once

#include <cstdint>

namespace Tav::Hal::Kv {

// How a GenICam pixel format travels as an image chunk.
struct CPixelLayout {
    uint8_t pixelType = 0;     // image chunk pixel type
    uint8_t bitDepth = 0;      // significant bits per sample; 0 when all
    uint8_t filterPattern = 0; // Bayer arrangement of raw types
    uint32_t bytesPerPixel = 0;
};

// The layout of a PFNC pixel format code; false for formats the image chunk
// cannot carry (packed 10/12-bit, planar, 16-bit Bayer, ...).
bool PixelLayoutOf(uint32_t pixelFormat, CPixelLayout& layout);

// The PFNC code that carries an image chunk pixel type (Bayer: with the
// given filter pattern); 0 when there is none.
uint32_t PixelFormatOf(uint8_t pixelType, uint8_t filterPattern);

} // namespace Tav::Hal::Kv
