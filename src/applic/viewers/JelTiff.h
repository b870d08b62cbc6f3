#pragma once

#include <cstdint>

namespace Jel {

// 16-bit greyscale TIFF files through libtiff. Failures are JelException
// 0x80004005 whose context names the failing step; failures inside libtiff
// add the file name and libtiff's own last error text.
class JelTiff {
public:
    // `pixels`: width x height samples, tightly packed, top line first. The
    // samples are stored shifted up to the top of 16 bits; `bitDepth` (the
    // significant bits, 1-16; 0 when not stated) goes into tag 32997.
    static void Save(const char* fileName, const uint16_t* pixels, bool colour, uint32_t width, uint32_t height,
                     uint32_t bitDepth);
    // The size and sample format of a file LoadImageData can read. `width`
    // counts samples per line.
    static void LoadDimension(const char* fileName, uint32_t& width, uint32_t& height, uint32_t& bitsPerSample,
                              uint32_t& bitDepth, bool& colour);
    // Reads the samples into `buffer` (height lines of width samples of
    // bitsPerSample bits) and shifts them down to their significant bits.
    // The file must still have the dimensions LoadDimension gave.
    static void LoadImageData(const char* fileName, void* buffer, bool colour, uint32_t width, uint32_t height,
                              uint32_t bitDepth, uint32_t bitsPerSample);
};

} // namespace Jel
