#pragma once

#include "DataBuffer/ChunkPtr.h"
#include "DataBuffer/IMemAllocator.h"
#include "DataBuffer/SmartPointer.h"

#include <cstddef>
#include <cstdint>

namespace Tav {

// Pixel types: the IIDC colour-coding identifiers.
enum PixelType : uint8_t {
    PixelTypeMono8 = 0,
    PixelTypeYuv411 = 1,
    PixelTypeYuv422 = 2, // byte order U, Y0, V, Y1
    PixelTypeYuv444 = 3,
    PixelTypeRgb8 = 4,
    PixelTypeMono16 = 5, // 16-bit little-endian words
    PixelTypeRgb16 = 6,
    PixelTypeSignedMono16 = 7,
    PixelTypeSignedRgb16 = 8,
    PixelTypeRaw8 = 9,
    PixelTypeRaw16 = 10,
    PixelTypeAnalysis64 = 240, // 64 bits per pixel for the analysis modules
};

// Colour-filter arrangement of raw images, from the top-left pixel.
enum FilterPattern : uint8_t {
    FilterPatternRggb = 0,
    FilterPatternGbrg = 1,
    FilterPatternGrbg = 2,
    FilterPatternBggr = 3,
};

// The image header between the pixel data and the chunk trailer of an image
// chunk (type GUID_ImageChunk). The pixel data (chunk length - 48 bytes) lie
// immediately in front of it.
struct __attribute__((packed)) CImageChunk {
    // Line pitch in bytes; negative when the first line in memory is the
    // picture's bottom line. Producers write either (bits + 7) / 8 * width
    // or width * bits / 8; readers accept both.
    int32_t pitch;
    uint8_t reserved0[3];
    uint8_t bitDepth; // significant bits per sample; 0 when not stated
    uint16_t x;       // area-of-interest offset; passed through, not used
    uint16_t y;
    uint16_t height;  // note: height before width
    uint16_t width;
    uint8_t reserved1[3];
    uint8_t pixelType;
    uint8_t reserved2[3];
    uint8_t filterPattern; // raw pixel types only
};
static_assert(sizeof(CImageChunk) == 24 && alignof(CImageChunk) == 1);
static_assert(offsetof(CImageChunk, pitch) == 0);
static_assert(offsetof(CImageChunk, bitDepth) == 7);
static_assert(offsetof(CImageChunk, x) == 8);
static_assert(offsetof(CImageChunk, y) == 10);
static_assert(offsetof(CImageChunk, height) == 12);
static_assert(offsetof(CImageChunk, width) == 14);
static_assert(offsetof(CImageChunk, pixelType) == 19);
static_assert(offsetof(CImageChunk, filterPattern) == 23);

// Bytes of an image chunk besides its pixel data: header and trailer.
inline constexpr uint32_t ImageChunkOverhead = sizeof(CImageChunk) + 24;

// Bits per pixel of the types the analysis modules handle: 0-6 and 240.
// Any other type throws the common error 0xCEF00004.
uint16_t ImageChunkBitsPerPixel(uint8_t pixelType);

// Writes the image chunk trailer for `dataSize` bytes of pixels at `chunkStart`
// (the header goes at chunkStart + dataSize, the trailer 24 bytes later) and
// returns the header for the caller to fill. For producers that build image
// chunks in their own blocks, such as the camera layer.
CImageChunk* InitImageChunk(void* chunkStart, uint32_t dataSize);

// A new chunk buffer holding exactly one image chunk of width x height pixels
// (pixel data not initialised; reserved bytes and filterPattern as the
// allocator left them). pitch = width * bits / 8, bitDepth = bits per pixel.
// The pixel data size is width * height * bits / 8, truncated once for the
// whole image. Throws 0xCEF00004 for an unknown pixel type or a position or
// size outside 0..65535, 0xCEF0000A when the chunk would not fit 32 bits.
CChunkPtr<CImageChunk> CreateImageChunkBuffer(int x, int y, int width, int height,
                                              const CSmartPointer<IMemAllocator>& allocator,
                                              uint8_t pixelType);

} // namespace Tav
