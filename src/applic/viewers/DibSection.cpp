#include "DibSection.h"

#include "Common/Jel/JelException.h"
#include "Platform/SystemError.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>

namespace Jel {

namespace {

constexpr uint32_t ErrorPointer = 0x80004003;
constexpr uint32_t ErrorFail = 0x80004005;
// Sections are kept below 2 GiB, as 32-bit sizes in the header require.
constexpr uint64_t MaxImageBytes = 0x7FFFFFFF;

const RgbQuad vgaColors[16] = {
    {0, 0, 0, 0},     {128, 0, 0, 0},   {0, 128, 0, 0},   {128, 128, 0, 0}, {0, 0, 128, 0},   {128, 0, 128, 0},
    {0, 128, 128, 0}, {192, 192, 192, 0}, {128, 128, 128, 0}, {255, 0, 0, 0}, {0, 255, 0, 0},   {255, 255, 0, 0},
    {0, 0, 255, 0},   {255, 0, 255, 0}, {0, 255, 255, 0}, {255, 255, 255, 0},
};

uint16_t Load16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t Load32(const uint8_t* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
void Store16(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
void Store32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}

[[noreturn]] void Malformed()
{
    throw JelException(ErrorFail, "DSLoadDIBSectionFromBMPFile");
}

// A colour mask split into its shift and width; contiguous masks only.
struct Channel {
    int shift = 0;
    int bits = 0;
};

bool SplitMask(uint32_t mask, Channel& channel)
{
    if (mask == 0)
        return false;
    int shift = 0;
    while (!(mask & 1u)) {
        mask >>= 1;
        ++shift;
    }
    int bits = 0;
    while (mask & 1u) {
        mask >>= 1;
        ++bits;
    }
    if (mask != 0)
        return false;
    channel = {shift, bits};
    return true;
}

// The channel's value scaled to `bits` bits, replicating high bits downwards
// so that full scale stays full scale.
uint32_t Extract(uint32_t pixel, const Channel& c, int bits)
{
    uint32_t v = (pixel >> c.shift) & ((c.bits >= 32) ? 0xFFFFFFFFu : ((1u << c.bits) - 1));
    if (c.bits >= bits)
        return v >> (c.bits - bits);
    uint32_t out = 0;
    int have = 0;
    while (have < bits) {
        int take = std::min(c.bits, bits - have);
        out = (out << take) | (v >> (c.bits - take));
        have += take;
    }
    return out;
}

} // namespace

DibSection::DibSection(const BitmapInfoHeader& header, const uint32_t* masks, const RgbQuad* colors, size_t colorCount)
    : header(header), colors(colors, colors + colorCount), bytesPerLine(DibBytesPerLine(header.biWidth, header.biBitCount))
{
    if (masks)
        std::memcpy(this->masks, masks, sizeof this->masks);
    pixels.reset(new uint8_t[ImageBytes()]());
}

size_t DibBytesPerLine(int width, int bitCount)
{
    return ((static_cast<size_t>(bitCount) * static_cast<size_t>(width) + 31) / 32) * 4;
}

const Palette& Palette332()
{
    static const Palette palette = [] {
        Palette p(256);
        for (int i = 0; i < 256; ++i)
            p[i] = {uint8_t((i / 64) * 64), uint8_t(((i / 8) % 8) * 32), uint8_t((i % 8) * 32), 0};
        return p;
    }();
    return palette;
}

HBITMAP DSCreateDIBSection(int width, int height, int bitCount, bool grey)
{
    using Tav::Platform::ErrorInvalidParameter;
    using Tav::Platform::ErrorNotEnoughMemory;
    const char* context = "DSCreateDIBSection";
    if (width <= 0 || height == 0 || height == std::numeric_limits<int>::min())
        throw JelException(ErrorInvalidParameter, context);
    if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 16 && bitCount != 24 && bitCount != 32)
        throw JelException(ErrorInvalidParameter, context);
    uint64_t rows = static_cast<uint64_t>(height < 0 ? -int64_t(height) : height);
    if (uint64_t(DibBytesPerLine(width, bitCount)) * rows > MaxImageBytes)
        throw JelException(ErrorNotEnoughMemory, context);

    BitmapInfoHeader h{};
    h.biSize = sizeof(BitmapInfoHeader);
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = static_cast<uint16_t>(bitCount);
    h.biCompression = (bitCount == 16 || bitCount == 32) ? BiBitFields : BiRgb;

    uint32_t masks[3] = {0, 0, 0};
    Palette colors;
    switch (bitCount) {
    case 1:
        colors = {{0, 0, 0, 0}, {255, 255, 255, 0}};
        break;
    case 4:
        colors.assign(vgaColors, vgaColors + 16);
        h.biClrUsed = 16;
        break;
    case 8:
        if (grey) {
            colors.resize(256);
            for (int i = 0; i < 256; ++i)
                colors[i] = {uint8_t(i), uint8_t(i), uint8_t(i), 0};
        } else {
            colors = Palette332();
        }
        h.biClrUsed = 256;
        break;
    case 16:
        masks[0] = 0x7C00;
        masks[1] = 0x03E0;
        masks[2] = 0x001F;
        break;
    case 32:
        masks[0] = 0xFF0000;
        masks[1] = 0xFF00;
        masks[2] = 0xFF;
        break;
    }
    try {
        return std::make_unique<DibSection>(h, h.biCompression == BiBitFields ? masks : nullptr, colors.data(),
                                            colors.size());
    } catch (const std::bad_alloc&) {
        throw JelException(ErrorNotEnoughMemory, context);
    }
}

void DSLoadDIBSectionFromBMPMemory(const uint8_t* data, size_t size, HBITMAP* bitmap, Palette* palette)
{
    if (!bitmap)
        throw JelException(ErrorPointer, "DSLoadDIBSectionFromBMPFile");
    if (!data || size < 14 + 12 || data[0] != 'B' || data[1] != 'M')
        Malformed();
    const uint64_t pixelOffset = Load32(data + 10);
    const uint8_t* info = data + 14;
    const uint32_t infoSize = Load32(info);
    // Only the Windows headers (40 bytes and their later extensions) are read.
    if (infoSize < 40 || infoSize > size - 14)
        Malformed();

    const int32_t width = static_cast<int32_t>(Load32(info + 4));
    const int32_t height = static_cast<int32_t>(Load32(info + 8));
    const uint16_t planes = Load16(info + 12);
    const uint16_t bitCount = Load16(info + 14);
    const uint32_t compression = Load32(info + 16);
    const uint32_t colorsUsed = Load32(info + 32);
    if (width <= 0 || height == 0 || height == std::numeric_limits<int32_t>::min() || planes != 1)
        Malformed();
    const bool topDown = height < 0;
    const int rows = topDown ? -height : height;

    bool indexed = bitCount == 1 || bitCount == 4 || bitCount == 8;
    if (!indexed && bitCount != 16 && bitCount != 24 && bitCount != 32)
        Malformed();
    if (compression != BiRgb && !(compression == BiBitFields && (bitCount == 16 || bitCount == 32)))
        Malformed();

    uint64_t tableOffset = 14 + uint64_t(infoSize);
    Channel channels[3];
    if (bitCount == 16 || bitCount == 32) {
        uint32_t masks[3];
        if (compression == BiBitFields) {
            const uint8_t* m;
            if (infoSize >= 52) {
                m = info + 40;
            } else {
                if (tableOffset + 12 > size)
                    Malformed();
                m = data + tableOffset;
                tableOffset += 12;
            }
            for (int i = 0; i < 3; ++i)
                masks[i] = Load32(m + 4 * i);
            if ((masks[0] & masks[1]) || (masks[0] & masks[2]) || (masks[1] & masks[2]))
                Malformed();
            if (bitCount == 16 && ((masks[0] | masks[1] | masks[2]) > 0xFFFF))
                Malformed();
        } else if (bitCount == 16) {
            masks[0] = 0x7C00, masks[1] = 0x03E0, masks[2] = 0x001F;
        } else {
            masks[0] = 0xFF0000, masks[1] = 0xFF00, masks[2] = 0xFF;
        }
        for (int i = 0; i < 3; ++i)
            if (!SplitMask(masks[i], channels[i]))
                Malformed();
    }

    Palette colors;
    if (indexed) {
        const uint32_t maxColors = 1u << bitCount;
        uint32_t count = colorsUsed == 0 ? maxColors : colorsUsed;
        if (count > maxColors || tableOffset + 4ull * count > size)
            Malformed();
        colors.resize(count);
        for (uint32_t i = 0; i < count; ++i) {
            const uint8_t* q = data + tableOffset + 4ull * i;
            colors[i] = {q[0], q[1], q[2], 0};
        }
        tableOffset += 4ull * count;
    }

    const uint64_t srcStride = DibBytesPerLine(width, bitCount);
    if (srcStride * uint64_t(rows) > MaxImageBytes)
        Malformed();
    if (pixelOffset < tableOffset || pixelOffset > size || srcStride * uint64_t(rows) > size - pixelOffset)
        Malformed();

    HBITMAP section;
    try {
        if (indexed) {
            BitmapInfoHeader h{};
            h.biSize = sizeof h;
            h.biWidth = width;
            h.biHeight = rows;
            h.biPlanes = 1;
            h.biBitCount = bitCount;
            h.biCompression = BiRgb;
            h.biClrUsed = bitCount == 1 && colors.size() == 2 ? 0 : static_cast<uint32_t>(colors.size());
            section = std::make_unique<DibSection>(h, nullptr, colors.data(), colors.size());
        } else {
            section = DSCreateDIBSection(width, rows, bitCount, false);
        }
    } catch (const std::bad_alloc&) {
        throw JelException(Tav::Platform::ErrorNotEnoughMemory, "DSLoadDIBSectionFromBMPFile");
    }

    const uint8_t* pixels = data + pixelOffset;
    const size_t dstStride = section->BytesPerLine();
    for (int r = 0; r < rows; ++r) {
        // The section is bottom-up: its stored row r is the picture's row
        // rows - 1 - r.
        int srcRow = topDown ? rows - 1 - r : r;
        const uint8_t* src = pixels + srcStride * size_t(srcRow);
        uint8_t* dst = section->Pixels() + dstStride * size_t(r);
        if (bitCount == 16 || bitCount == 32) {
            for (int x = 0; x < width; ++x) {
                uint32_t p = bitCount == 16 ? Load16(src + 2 * size_t(x)) : Load32(src + 4 * size_t(x));
                if (bitCount == 16) {
                    uint32_t v = (Extract(p, channels[0], 5) << 10) | (Extract(p, channels[1], 5) << 5) |
                                 Extract(p, channels[2], 5);
                    Store16(dst + 2 * size_t(x), v);
                } else {
                    uint32_t v = (Extract(p, channels[0], 8) << 16) | (Extract(p, channels[1], 8) << 8) |
                                 Extract(p, channels[2], 8);
                    Store32(dst + 4 * size_t(x), v);
                }
            }
        } else {
            std::memcpy(dst, src, dstStride);
        }
    }

    if (palette)
        *palette = indexed ? colors : Palette332();
    *bitmap = std::move(section);
}

void DSLoadDIBSectionFromBMPFile(const std::string& fileName, HBITMAP* bitmap, Palette* palette)
{
    const char* context = "DSLoadDIBSectionFromBMPFile";
    if (!bitmap)
        throw JelException(ErrorPointer, context);
    FILE* file = std::fopen(fileName.c_str(), "rb");
    if (!file) {
        uint32_t code = errno == ENOENT ? Tav::Platform::ErrorFileNotFound
                        : errno == EACCES ? Tav::Platform::ErrorAccessDenied
                                          : ErrorFail;
        throw JelException(code, context);
    }
    std::vector<uint8_t> bytes;
    try {
        uint8_t buffer[65536];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
            if (bytes.size() + n > MaxImageBytes + 65536)
                break;
            bytes.insert(bytes.end(), buffer, buffer + n);
        }
    } catch (const std::bad_alloc&) {
        std::fclose(file);
        throw JelException(Tav::Platform::ErrorNotEnoughMemory, context);
    }
    bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed)
        throw JelException(ErrorFail, context);
    DSLoadDIBSectionFromBMPMemory(bytes.data(), bytes.size(), bitmap, palette);
}

size_t DibColorTableBytes(const BitmapInfoHeader& h)
{
    unsigned bits = unsigned(h.biBitCount) * h.biPlanes;
    size_t entries = h.biClrUsed != 0 ? h.biClrUsed : (bits <= 8 ? (size_t(1) << bits) : 0);
    return 4 * entries + (h.biCompression == BiBitFields ? 12 : 0);
}

size_t DibImageBytes(const BitmapInfoHeader& h)
{
    if (h.biCompression == BiRle8 || h.biCompression == BiRle4)
        return h.biSizeImage;
    size_t rows = h.biHeight < 0 ? size_t(-int64_t(h.biHeight)) : size_t(h.biHeight);
    return DibBytesPerLine(h.biWidth, h.biBitCount * h.biPlanes) * rows;
}

size_t DibTotalBytes(const BitmapInfoHeader& h)
{
    return sizeof(BitmapInfoHeader) + DibColorTableBytes(h) + DibImageBytes(h);
}

std::vector<uint8_t> GetDibInfo(const DibSection& bitmap)
{
    const bool masks = bitmap.HasMasks();
    std::vector<uint8_t> block(masks ? 1076 : 1064, 0);
    BitmapInfoHeader h = bitmap.Header();
    size_t offset = sizeof h;
    if (masks) {
        std::memcpy(block.data() + offset, bitmap.Masks(), 12);
        offset += 12;
    }
    const Palette* colors = &bitmap.Colors();
    if (bitmap.BitCount() > 8) {
        colors = &Palette332();
        h.biClrUsed = 256;
    }
    std::memcpy(block.data(), &h, sizeof h);
    std::memcpy(block.data() + offset, colors->data(), std::min<size_t>(colors->size(), 256) * sizeof(RgbQuad));
    return block;
}

std::vector<uint8_t> PackDib(const DibSection& bitmap)
{
    std::vector<uint8_t> info = GetDibInfo(bitmap);
    BitmapInfoHeader h;
    std::memcpy(&h, info.data(), sizeof h);
    size_t headerBytes = sizeof h + DibColorTableBytes(h);
    std::vector<uint8_t> dib(headerBytes + bitmap.ImageBytes());
    std::memcpy(dib.data(), info.data(), headerBytes);
    std::memcpy(dib.data() + headerBytes, bitmap.Pixels(), bitmap.ImageBytes());
    return dib;
}

std::vector<uint8_t> MakeBmpFileImage(const DibSection& bitmap)
{
    std::vector<uint8_t> dib = PackDib(bitmap);
    BitmapInfoHeader h;
    std::memcpy(&h, dib.data(), sizeof h);
    std::vector<uint8_t> file(14 + dib.size());
    file[0] = 'B';
    file[1] = 'M';
    Store32(&file[2], static_cast<uint32_t>(DibTotalBytes(h) + 14));
    Store32(&file[10], static_cast<uint32_t>(14 + sizeof h + DibColorTableBytes(h)));
    std::memcpy(file.data() + 14, dib.data(), dib.size());
    return file;
}

bool WriteBMP(const std::string& fileName, const DibSection& bitmap)
{
    std::vector<uint8_t> image;
    try {
        image = MakeBmpFileImage(bitmap);
    } catch (const std::bad_alloc&) {
        Tav::Platform::SetLastError(Tav::Platform::ErrorNotEnoughMemory);
        return false;
    }
    FILE* file = std::fopen(fileName.c_str(), "wb");
    if (!file) {
        Tav::Platform::SetLastError(errno == EACCES ? Tav::Platform::ErrorAccessDenied
                                                    : Tav::Platform::ErrorPathNotFound);
        return false;
    }
    bool ok = std::fwrite(image.data(), 1, image.size(), file) == image.size();
    ok = (std::fclose(file) == 0) && ok;
    if (!ok) {
        std::remove(fileName.c_str());
        Tav::Platform::SetLastError(Tav::Platform::ErrorGenFailure);
    }
    return ok;
}

} // namespace Jel
