#include "JelTiff.h"

#include "Common/Exception.h"
#include "Common/Jel/JelException.h"

#include <tiffio.h>

#include <cstdarg>
#include <string>
#include <vector>

namespace Jel {

namespace {

constexpr uint32_t failure = 0x80004005;

// libtiff's last error text on this thread. The handler is given to every
// file opened here, so concurrent loads and saves keep their texts apart.
thread_local std::string lastTiffError;

int CaptureError(TIFF*, void*, const char* module, const char* format, va_list arguments)
{
    std::string text = Tav::FormatString(format, arguments);
    lastTiffError = module && *module ? std::string(module) + ": " + text : text;
    return 1;
}

// Warnings (unknown tags and the like) do not fail an operation.
int IgnoreWarning(TIFF*, void*, const char*, const char*, va_list)
{
    return 1;
}

// Caps every single allocation libtiff makes for one file.
constexpr tmsize_t maxLibtiffAllocation = tmsize_t(256) << 20;

// Decoded bytes a compressed file may claim per stored byte before it is
// taken as damaged; well above what the codecs reach on camera images.
constexpr uint64_t maxCompressionRatio = 4096;

[[noreturn]] void Fail(const char* text)
{
    throw JelException(failure, text);
}

[[noreturn]] void FailInLibtiff(const char* text, const char* fileName)
{
    std::string context = std::string(text) + fileName + "\nlibtiff says:\n" + lastTiffError;
    throw JelException(failure, context.c_str());
}

class CTiffFile {
public:
    CTiffFile(const char* fileName, const char* mode)
    {
        lastTiffError.clear();
        TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
        if (!options) {
            lastTiffError = "Out of memory.";
            return;
        }
        TIFFOpenOptionsSetErrorHandlerExtR(options, &CaptureError, nullptr);
        TIFFOpenOptionsSetWarningHandlerExtR(options, &IgnoreWarning, nullptr);
        TIFFOpenOptionsSetMaxSingleMemAlloc(options, maxLibtiffAllocation);
        tiff = TIFFOpenExt(fileName, mode, options);
        TIFFOpenOptionsFree(options);
    }
    ~CTiffFile()
    {
        if (tiff)
            TIFFClose(tiff);
    }
    CTiffFile(const CTiffFile&) = delete;
    CTiffFile& operator=(const CTiffFile&) = delete;

    TIFF* Get() const { return tiff; }

private:
    TIFF* tiff = nullptr;
};

bool ReadU32(TIFF* tiff, ttag_t tag, uint32_t& value)
{
    return TIFFGetField(tiff, tag, &value) == 1;
}

// Tags TIFF gives a default for may be missing.
bool ReadU16Defaulted(TIFF* tiff, ttag_t tag, uint16_t& value)
{
    return TIFFGetFieldDefaulted(tiff, tag, &value) == 1;
}

} // namespace

void JelTiff::Save(const char* fileName, const uint16_t* pixels, bool colour, uint32_t width, uint32_t height,
                   uint32_t bitDepth)
{
    // Depths beyond 16 bits would write a file the reader refuses.
    if (colour || bitDepth > 16)
        Fail("Jel::JelTiff::Save() - Unsupported Pixelformat!");
    CTiffFile file(fileName, "w");
    TIFF* tiff = file.Get();
    if (!tiff)
        FailInLibtiff("Jel::JelTiff::Save() - Cannot write to TIFF:\n", fileName);

    // An unstated depth is written as full 16-bit samples.
    const uint32_t depth = bitDepth == 0 ? 16 : bitDepth;
    const bool tagsSet = TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, width) && TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, height) &&
                         TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 16) && TIFFSetField(tiff, TIFFTAG_IMAGEDEPTH, depth) &&
                         TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 1) &&
                         TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
                         TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK) &&
                         TIFFSetField(tiff, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) &&
                         TIFFSetField(tiff, TIFFTAG_FILLORDER, FILLORDER_MSB2LSB) &&
                         TIFFSetField(tiff, TIFFTAG_XRESOLUTION, 100.0) && TIFFSetField(tiff, TIFFTAG_YRESOLUTION, 100.0) &&
                         TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    if (!tagsSet)
        FailInLibtiff("Jel::JelTiff::Save() - Unable to write Tag to TIFF:\n", fileName);

    const unsigned shift = 16 - depth;
    std::vector<uint16_t> line(width);
    for (uint32_t y = 0; y < height; ++y) {
        const uint16_t* source = pixels + size_t(y) * width;
        for (uint32_t x = 0; x < width; ++x)
            line[x] = static_cast<uint16_t>(source[x] << shift);
        if (TIFFWriteScanline(tiff, line.data(), y, 0) != 1)
            FailInLibtiff("Jel::JelTiff::Save() - Cannot write scanline to TIFF:\n", fileName);
    }
    // Closing writes the directory; a failure there is a failed write too.
    if (!TIFFFlush(tiff))
        FailInLibtiff("Jel::JelTiff::Save() - Cannot write scanline to TIFF:\n", fileName);
}

void JelTiff::LoadDimension(const char* fileName, uint32_t& width, uint32_t& height, uint32_t& bitsPerSample,
                            uint32_t& bitDepth, bool& colour)
{
    CTiffFile file(fileName, "r");
    TIFF* tiff = file.Get();
    if (!tiff)
        FailInLibtiff("Jel::JelTiff::LoadDimension() - Cannot open TIFF:\n", fileName);

    uint32_t fileWidth = 0, fileHeight = 0, depth = 0;
    uint16_t bits = 0, samples = 0, planar = 0, photometric = 0, orientation = 0, fillOrder = 0, compression = 0;
    if (!ReadU32(tiff, TIFFTAG_IMAGEWIDTH, fileWidth) || !ReadU32(tiff, TIFFTAG_IMAGELENGTH, fileHeight) ||
        !ReadU16Defaulted(tiff, TIFFTAG_BITSPERSAMPLE, bits) ||
        !ReadU16Defaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, samples) ||
        !ReadU16Defaulted(tiff, TIFFTAG_PLANARCONFIG, planar) ||
        TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric) != 1 ||
        !ReadU16Defaulted(tiff, TIFFTAG_ORIENTATION, orientation) ||
        !ReadU16Defaulted(tiff, TIFFTAG_FILLORDER, fillOrder))
        FailInLibtiff("Jel::JelTiff::LoadDimension() - Unable to read Tag in TIFF:\n", fileName);
    // Files from other writers often leave out the depth: all bits count.
    if (!ReadU32(tiff, TIFFTAG_IMAGEDEPTH, depth))
        depth = bits;
    if (TIFFGetField(tiff, TIFFTAG_COMPRESSION, &compression) != 1)
        compression = COMPRESSION_NONE;

    if (planar != PLANARCONFIG_CONTIG || orientation != ORIENTATION_TOPLEFT || fillOrder != FILLORDER_MSB2LSB)
        Fail("Jel::JelTiff::LoadDimension() - Unexpected Tag value found!");
    if (samples != 1 || bits != 16 || photometric != PHOTOMETRIC_MINISBLACK)
        Fail("Jel::JelTiff::LoadDimension() - Unsupported Pixelformat!");
    if (depth > bits || TIFFIsTiled(tiff))
        Fail("Jel::JelTiff::LoadDimension() - Unexpected Tag value found!");

    // A file far too small for the pixels it claims is damaged; refusing it
    // here keeps a few hostile bytes from reserving gigabytes.
    const uint64_t imageBytes = uint64_t(fileWidth) * samples * fileHeight * (bits / 8);
    const uint64_t stored = static_cast<uint64_t>(TIFFGetSizeProc(tiff)(TIFFClientdata(tiff)));
    const uint64_t limit = compression == COMPRESSION_NONE ? stored : stored * maxCompressionRatio;
    if (imageBytes > limit)
        Fail("Jel::JelTiff::LoadDimension() - Unexpected Tag value found!");

    width = fileWidth * samples;
    height = fileHeight;
    bitsPerSample = bits;
    bitDepth = depth;
    colour = false;
}

void JelTiff::LoadImageData(const char* fileName, void* buffer, bool colour, uint32_t width, uint32_t height,
                            uint32_t bitDepth, uint32_t bitsPerSample)
{
    if (colour || bitsPerSample != 16)
        Fail("Jel::JelTiff::LoadImageData() - Unsupported Pixelformat!");
    CTiffFile file(fileName, "r");
    TIFF* tiff = file.Get();
    if (!tiff)
        FailInLibtiff("Jel::JelTiff::LoadDimension() - Cannot open TIFF:\n", fileName);

    // Each scanline lands in the caller's buffer: the file must match the
    // dimensions the buffer was sized for.
    uint32_t fileHeight = 0;
    const uint64_t lineBytes = uint64_t(width) * (bitsPerSample / 8);
    if (!ReadU32(tiff, TIFFTAG_IMAGELENGTH, fileHeight) || fileHeight < height || TIFFIsTiled(tiff) ||
        uint64_t(TIFFScanlineSize64(tiff)) != lineBytes) {
        lastTiffError = "The file no longer has the dimensions it was measured with.";
        FailInLibtiff("Jel::JelTiff::LoadDimension() - Unable to read in TIFF:\n", fileName);
    }
    auto* bytes = static_cast<unsigned char*>(buffer);
    for (uint32_t y = 0; y < height; ++y) {
        if (TIFFReadScanline(tiff, bytes + y * lineBytes, y, 0) != 1)
            FailInLibtiff("Jel::JelTiff::LoadDimension() - Unable to read in TIFF:\n", fileName);
    }

    if (bitDepth > 0 && bitDepth < bitsPerSample) {
        const unsigned shift = bitsPerSample - bitDepth;
        auto* samples = static_cast<uint16_t*>(buffer);
        const uint64_t count = uint64_t(width) * height;
        for (uint64_t i = 0; i < count; ++i)
            samples[i] = static_cast<uint16_t>(samples[i] >> shift);
    }
}

} // namespace Jel
