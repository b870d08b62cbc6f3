#pragma once

// Conversion of image chunks into display bitmaps.

#include "Dib.h"

#include "DataBuffer/ImageChunk.h"

#include <cstddef>
#include <cstdint>

namespace Jel {

// Converts the picture of `header` (pixel data `data`, `size` bytes) into
// `dib`, reusing the bitmap it holds when its size, palette, bit count and
// orientation fit, else replacing it. Mono8 becomes an 8-bit grey bitmap,
// YUV 4:2:2, RGB8 and Raw8 a 24-bit one. Returns false, leaving `dib`
// alone, for any other pixel type. Throws JelException 0x80004005
// ("ConvertImageChunk") when the pixel data are too short for the header.
bool ConvertImageChunk(const Tav::CImageChunk& header, const uint8_t* data, size_t size, CDibPtr& dib);

// The conversions themselves, into rows of `dstStride` bytes.
// YUV 4:2:2 (U, Y0, V, Y1): destination row i from source line height-1-i,
// source lines 2 * width bytes apart; an odd width ends each row in black.
void ConvertYuv422ToBgr(const uint8_t* src, int width, int height, uint8_t* dst, ptrdiff_t dstStride);
// Raw8 with the colour filter `pattern` (0 RGGB, 1 GBRG, 2 GRBG, 3 BGGR,
// others GBRG): each pixel from the 2 x 2 block it is the top-left of; the
// last row and column are black.
void ConvertRaw8ToBgr(const uint8_t* src, ptrdiff_t srcPitch, int width, int height, int pattern, uint8_t* dst,
                      ptrdiff_t dstStride);
// Lines of `lineBytes` bytes; one copy when both strides equal `lineBytes`
// rounded up to the destination's.
void CopyLines(const uint8_t* src, ptrdiff_t srcPitch, size_t lineBytes, int height, uint8_t* dst,
               ptrdiff_t dstStride);

} // namespace Jel
