#pragma once

// Device-independent bitmap sections: a BITMAPINFOHEADER-layout header, its
// colour table (or bit-field masks) and pixel rows padded to 4 bytes, stored
// bottom-up or top-down as the header's height sign says.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Jel {

constexpr uint32_t BiRgb = 0;
constexpr uint32_t BiRle8 = 1;
constexpr uint32_t BiRle4 = 2;
constexpr uint32_t BiBitFields = 3;

struct BitmapInfoHeader {
    uint32_t biSize;
    int32_t biWidth;
    int32_t biHeight; // negative: top row stored first
    uint16_t biPlanes;
    uint16_t biBitCount;
    uint32_t biCompression;
    uint32_t biSizeImage;
    int32_t biXPelsPerMeter;
    int32_t biYPelsPerMeter;
    uint32_t biClrUsed;
    uint32_t biClrImportant;
};
static_assert(sizeof(BitmapInfoHeader) == 40);

struct RgbQuad {
    uint8_t blue;
    uint8_t green;
    uint8_t red;
    uint8_t reserved;
};
static_assert(sizeof(RgbQuad) == 4);

using Palette = std::vector<RgbQuad>;

// One bitmap section. `info` holds the header, then the three masks for
// BI_BITFIELDS, then the colour table.
class DibSection {
public:
    DibSection(const BitmapInfoHeader& header, const uint32_t* masks, const RgbQuad* colors, size_t colorCount);

    const BitmapInfoHeader& Header() const { return header; }
    bool HasMasks() const { return header.biCompression == BiBitFields; }
    const uint32_t* Masks() const { return masks; }
    const Palette& Colors() const { return colors; }

    int Width() const { return header.biWidth; }
    int Height() const { return header.biHeight < 0 ? -header.biHeight : header.biHeight; }
    bool IsTopDown() const { return header.biHeight < 0; }
    int BitCount() const { return header.biBitCount; }
    size_t BytesPerLine() const { return bytesPerLine; }
    size_t ImageBytes() const { return bytesPerLine * static_cast<size_t>(Height()); }

    uint8_t* Pixels() { return pixels.get(); }
    const uint8_t* Pixels() const { return pixels.get(); }

private:
    BitmapInfoHeader header;
    uint32_t masks[3] = {0, 0, 0};
    Palette colors;
    size_t bytesPerLine;
    std::unique_ptr<uint8_t[]> pixels;
};

using HBITMAP = std::unique_ptr<DibSection>;

// Bytes per stored row of `width` pixels of `bitCount` bits, a multiple of 4.
size_t DibBytesPerLine(int width, int bitCount);

// A new zero-filled section; a negative height makes it top-down. Colour
// tables: 1 bit black and white, 4 bits the 16 standard colours, 8 bits the
// grey ramp when `grey` is set, else the 3-3-2 palette; 16 and 32 bits use
// BI_BITFIELDS masks (5-5-5 and 8-8-8). Throws JelException
// (context "DSCreateDIBSection") for unusable sizes or bit counts and when
// memory runs out.
HBITMAP DSCreateDIBSection(int width, int height, int bitCount, bool grey);

// The 3-3-2 palette: red (i mod 8) * 32, green ((i / 8) mod 8) * 32,
// blue (i / 64) * 64.
const Palette& Palette332();

// Reads a Windows bitmap file (1, 4, 8, 16, 24 or 32 bits, BI_RGB or
// BI_BITFIELDS, either orientation) into a bottom-up section; 16- and 32-bit
// pixels are converted to the section's standard masks. `palette`, when
// given, receives the colour table (the 3-3-2 palette above 8 bits). Throws
// JelException (context "DSLoadDIBSectionFromBMPFile"): 0x80004003 for a
// null `bitmap`, the system error when the file cannot be read, 0x80004005
// for a malformed file. Never reads outside the file.
void DSLoadDIBSectionFromBMPFile(const std::string& fileName, HBITMAP* bitmap, Palette* palette);
// The same for the bytes of a file already in memory.
void DSLoadDIBSectionFromBMPMemory(const uint8_t* data, size_t size, HBITMAP* bitmap, Palette* palette);

// The header block of `bitmap`: 1064 bytes (1076 with BI_BITFIELDS) holding
// the header, the masks and the colour table; above 8 bits the 3-3-2
// palette with colours-used 256.
std::vector<uint8_t> GetDibInfo(const DibSection& bitmap);

// Sizes measured on a header as GetDibInfo returns it.
size_t DibColorTableBytes(const BitmapInfoHeader& header);
size_t DibImageBytes(const BitmapInfoHeader& header);
size_t DibTotalBytes(const BitmapInfoHeader& header);

// The packed DIB (header block, then the image bytes) as the clipboard's
// CF_DIB format carries it, and the same behind a 14-byte file header.
std::vector<uint8_t> PackDib(const DibSection& bitmap);
std::vector<uint8_t> MakeBmpFileImage(const DibSection& bitmap);

// Writes `bitmap` as a Windows bitmap file, overwriting; false on failure,
// with no partial file left behind.
bool WriteBMP(const std::string& fileName, const DibSection& bitmap);

} // namespace Jel
