#include "PixelFormat.h"

#include "DataBuffer/ImageChunk.h"

#include <arv.h>

namespace Tav::Hal::Kv {

bool PixelLayoutOf(uint32_t pixelFormat, CPixelLayout& layout)
{
    auto set = [&layout](uint8_t type, uint32_t bytes, uint8_t depth, uint8_t pattern) {
        layout.pixelType = type;
        layout.bytesPerPixel = bytes;
        layout.bitDepth = depth;
        layout.filterPattern = pattern;
        return true;
    };
    layout = CPixelLayout();
    switch (pixelFormat) {
    case ARV_PIXEL_FORMAT_MONO_8: return set(PixelTypeMono8, 1, 0, 0);
    // The unpacked mono formats are little-endian 16-bit words.
    case ARV_PIXEL_FORMAT_MONO_10: return set(PixelTypeMono16, 2, 10, 0);
    case ARV_PIXEL_FORMAT_MONO_12: return set(PixelTypeMono16, 2, 12, 0);
    case ARV_PIXEL_FORMAT_MONO_16: return set(PixelTypeMono16, 2, 16, 0);
    case ARV_PIXEL_FORMAT_RGB_8_PACKED: return set(PixelTypeRgb8, 3, 0, 0);
    case ARV_PIXEL_FORMAT_YUV_422_PACKED: return set(PixelTypeYuv422, 2, 0, 0);
    case ARV_PIXEL_FORMAT_BAYER_RG_8: return set(PixelTypeRaw8, 1, 0, FilterPatternRggb);
    case ARV_PIXEL_FORMAT_BAYER_GB_8: return set(PixelTypeRaw8, 1, 0, FilterPatternGbrg);
    case ARV_PIXEL_FORMAT_BAYER_GR_8: return set(PixelTypeRaw8, 1, 0, FilterPatternGrbg);
    case ARV_PIXEL_FORMAT_BAYER_BG_8: return set(PixelTypeRaw8, 1, 0, FilterPatternBggr);
    default: return false;
    }
}

uint32_t PixelFormatOf(uint8_t pixelType, uint8_t filterPattern)
{
    switch (pixelType) {
    case PixelTypeMono8: return ARV_PIXEL_FORMAT_MONO_8;
    case PixelTypeYuv422: return ARV_PIXEL_FORMAT_YUV_422_PACKED;
    case PixelTypeRgb8: return ARV_PIXEL_FORMAT_RGB_8_PACKED;
    case PixelTypeMono16: return ARV_PIXEL_FORMAT_MONO_16;
    case PixelTypeRaw8:
        switch (filterPattern) {
        case FilterPatternRggb: return ARV_PIXEL_FORMAT_BAYER_RG_8;
        case FilterPatternGbrg: return ARV_PIXEL_FORMAT_BAYER_GB_8;
        case FilterPatternGrbg: return ARV_PIXEL_FORMAT_BAYER_GR_8;
        case FilterPatternBggr: return ARV_PIXEL_FORMAT_BAYER_BG_8;
        default: return 0;
        }
    default: return 0;
    }
}

} // namespace Tav::Hal::Kv
