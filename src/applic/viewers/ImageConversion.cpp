#include "ImageConversion.h"

#include "Common/Jel/JelException.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace Jel {

namespace {

constexpr uint32_t ErrorFail = 0x80004005;

// Identity tables, one per channel, applied to demosaiced values.
struct ChannelTables {
    std::array<uint8_t, 256> red, green, blue;
    // Identity tables change nothing: their pass is skipped.
    bool identity = true;
    ChannelTables()
    {
        for (int i = 0; i < 256; ++i)
            red[i] = green[i] = blue[i] = static_cast<uint8_t>(i);
    }
};

const ChannelTables& Tables()
{
    static const ChannelTables tables;
    return tables;
}

// Planar results for one line, interleaved afterwards: the loops are simple
// enough for the compiler to vectorise. Each is built for the baseline and
// for AVX2 and chosen at run time (no ifunc: its resolvers run before the
// sanitizer run-times are ready).
#define TAV_KERNEL inline __attribute__((always_inline))

// The integer formulas in 16-bit lanes. With 298 = 256 + 42, 516 = 512 + 4,
// -208 = -256 + 48 and 409 = 256 + 153, each (... + 128) >> 8 splits into
// a whole part and a remainder term whose sums stay within 16 bits, e.g.
// (298c + 516d + 128) >> 8 = c + 2d + ((42c + 4d + 128) >> 8) exactly.
inline uint8_t Saturate(int16_t v)
{
    return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

TAV_KERNEL void Yuv422LineToPlanesBody(const uint8_t* __restrict src, int pairs, uint8_t* __restrict b,
                                       uint8_t* __restrict g, uint8_t* __restrict r)
{
    for (int j = 0; j < pairs; ++j) {
        const int16_t d = int16_t(src[4 * j] - 128);
        const int16_t c0 = int16_t(src[4 * j + 1] - 16);
        const int16_t e = int16_t(src[4 * j + 2] - 128);
        const int16_t c1 = int16_t(src[4 * j + 3] - 16);
        const int16_t bd = int16_t(4 * d + 128);
        const int16_t gd = int16_t(48 * e - 100 * d + 128);
        const int16_t rd = int16_t(153 * e + 128);
        const int16_t f0 = int16_t(42 * c0);
        const int16_t f1 = int16_t(42 * c1);
        b[2 * j] = Saturate(int16_t(c0 + 2 * d + (int16_t(f0 + bd) >> 8)));
        g[2 * j] = Saturate(int16_t(c0 - e + (int16_t(f0 + gd) >> 8)));
        r[2 * j] = Saturate(int16_t(c0 + e + (int16_t(f0 + rd) >> 8)));
        b[2 * j + 1] = Saturate(int16_t(c1 + 2 * d + (int16_t(f1 + bd) >> 8)));
        g[2 * j + 1] = Saturate(int16_t(c1 - e + (int16_t(f1 + gd) >> 8)));
        r[2 * j + 1] = Saturate(int16_t(c1 + e + (int16_t(f1 + rd) >> 8)));
    }
}

TAV_KERNEL void InterleaveBgrBody(const uint8_t* __restrict b, const uint8_t* __restrict g, const uint8_t* __restrict r, int count,
                   uint8_t* __restrict dst)
{
    for (int x = 0; x < count; ++x) {
        dst[3 * x] = b[x];
        dst[3 * x + 1] = g[x];
        dst[3 * x + 2] = r[x];
    }
}

// One output line of a Raw8 image: pixel x from the block at (x, y). Along a
// line the blocks alternate between two arrangements; `even` gives the
// offsets of red, blue and the two greens for even x, `odd` for odd x.
struct BlockOffsets {
    int red, blue, green1, green2;
};

TAV_KERNEL void Raw8LineToPlanesBody(const uint8_t* __restrict top, const uint8_t* __restrict bottom, int pairs,
                      const int* evenSel, const int* oddSel, uint8_t* __restrict b, uint8_t* __restrict g,
                      uint8_t* __restrict r)
{
    // evenSel / oddSel: for red, blue, green1, green2 the row (0 top, 1
    // bottom) and column offset (0 or 1), packed as row * 2 + column.
    const uint8_t* rowsPtr[2] = {top, bottom};
    const uint8_t* er = rowsPtr[evenSel[0] >> 1] + (evenSel[0] & 1);
    const uint8_t* eb = rowsPtr[evenSel[1] >> 1] + (evenSel[1] & 1);
    const uint8_t* eg1 = rowsPtr[evenSel[2] >> 1] + (evenSel[2] & 1);
    const uint8_t* eg2 = rowsPtr[evenSel[3] >> 1] + (evenSel[3] & 1);
    const uint8_t* orr = rowsPtr[oddSel[0] >> 1] + 1 + (oddSel[0] & 1);
    const uint8_t* ob = rowsPtr[oddSel[1] >> 1] + 1 + (oddSel[1] & 1);
    const uint8_t* og1 = rowsPtr[oddSel[2] >> 1] + 1 + (oddSel[2] & 1);
    const uint8_t* og2 = rowsPtr[oddSel[3] >> 1] + 1 + (oddSel[3] & 1);
    for (int j = 0; j < pairs; ++j) {
        r[2 * j] = er[2 * j];
        b[2 * j] = eb[2 * j];
        g[2 * j] = static_cast<uint8_t>((eg1[2 * j] + eg2[2 * j]) >> 1);
        r[2 * j + 1] = orr[2 * j];
        b[2 * j + 1] = ob[2 * j];
        g[2 * j + 1] = static_cast<uint8_t>((og1[2 * j] + og2[2 * j]) >> 1);
    }
}

bool HasAvx2()
{
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return has;
}

// A baseline and an AVX2 build of `body`, chosen by the processor.
#define TAV_DISPATCH(name, params, args)                                                                             \
    void name##Baseline params { name##Body args; }                                                                   \
    __attribute__((target("avx2"))) void name##Avx2 params { name##Body args; }                                      \
    void name params                                                                                                  \
    {                                                                                                                 \
        if (HasAvx2())                                                                                                \
            name##Avx2 args;                                                                                          \
        else                                                                                                          \
            name##Baseline args;                                                                                      \
    }

TAV_DISPATCH(Yuv422LineToPlanes,
             (const uint8_t* __restrict src, int pairs, uint8_t* __restrict b, uint8_t* __restrict g,
              uint8_t* __restrict r),
             (src, pairs, b, g, r))
TAV_DISPATCH(InterleaveBgr,
             (const uint8_t* __restrict b, const uint8_t* __restrict g, const uint8_t* __restrict r, int count,
              uint8_t* __restrict dst),
             (b, g, r, count, dst))
TAV_DISPATCH(Raw8LineToPlanes,
             (const uint8_t* __restrict top, const uint8_t* __restrict bottom, int pairs, const int* evenSel,
              const int* oddSel, uint8_t* __restrict b, uint8_t* __restrict g, uint8_t* __restrict r),
             (top, bottom, pairs, evenSel, oddSel, b, g, r))

// Colour of the sample at (column parity, row parity) for each pattern:
// 'R', 'G' or 'B'.
char SampleColor(int pattern, int column, int row)
{
    static const char* const layouts[4] = {"RGGB", "GBRG", "GRBG", "BGGR"};
    const char* layout = layouts[(pattern >= 0 && pattern <= 3) ? pattern : 1];
    return layout[row * 2 + column];
}

// Selection of the block whose top-left sample has parities (px, py).
void BlockSelection(int pattern, int px, int py, int sel[4])
{
    int greens = 0;
    for (int row = 0; row < 2; ++row)
        for (int column = 0; column < 2; ++column) {
            char c = SampleColor(pattern, (px + column) & 1, (py + row) & 1);
            int code = row * 2 + column;
            if (c == 'R')
                sel[0] = code;
            else if (c == 'B')
                sel[1] = code;
            else
                sel[2 + greens++] = code;
        }
}

[[noreturn]] void TooShort()
{
    throw JelException(ErrorFail, "ConvertImageChunk");
}

} // namespace

void ConvertYuv422ToBgr(const uint8_t* src, int width, int height, uint8_t* dst, ptrdiff_t dstStride)
{
    const int pairs = width / 2;
    std::vector<uint8_t> planes(3 * size_t(width));
    uint8_t* b = planes.data();
    uint8_t* g = b + width;
    uint8_t* r = g + width;
    const size_t srcLine = 2 * size_t(width);
    for (int i = 0; i < height; ++i) {
        const uint8_t* line = src + srcLine * size_t(height - 1 - i);
        uint8_t* out = dst + dstStride * i;
        Yuv422LineToPlanes(line, pairs, b, g, r);
        InterleaveBgr(b, g, r, 2 * pairs, out);
        if (width & 1)
            std::memset(out + 3 * size_t(width - 1), 0, 3);
    }
}

void ConvertRaw8ToBgr(const uint8_t* src, ptrdiff_t srcPitch, int width, int height, int pattern, uint8_t* dst,
                      ptrdiff_t dstStride)
{
    const ChannelTables& tables = Tables();
    const int inner = width - 1; // pixels with a whole block
    std::vector<uint8_t> planes(3 * size_t(width) + 3);
    uint8_t* b = planes.data();
    uint8_t* g = b + width + 1;
    uint8_t* r = g + width + 1;
    for (int y = 0; y < height; ++y) {
        uint8_t* out = dst + dstStride * y;
        if (y == height - 1 || inner <= 0) {
            std::memset(out, 0, 3 * size_t(width));
            continue;
        }
        int evenSel[4], oddSel[4];
        BlockSelection(pattern, 0, y & 1, evenSel);
        BlockSelection(pattern, 1, y & 1, oddSel);
        const uint8_t* top = src + srcPitch * y;
        const uint8_t* bottom = top + srcPitch;
        const int pairs = inner / 2;
        Raw8LineToPlanes(top, bottom, pairs, evenSel, oddSel, b, g, r);
        if (inner & 1) {
            // The last inner pixel has an even x.
            const uint8_t* rows[2] = {top, bottom};
            int x = inner - 1;
            auto at = [&](int code) { return rows[code >> 1][x + (code & 1)]; };
            r[x] = at(evenSel[0]);
            b[x] = at(evenSel[1]);
            g[x] = static_cast<uint8_t>((at(evenSel[2]) + at(evenSel[3])) >> 1);
        }
        for (int x = 0; x < inner && !tables.identity; ++x) {
            b[x] = tables.blue[b[x]];
            g[x] = tables.green[g[x]];
            r[x] = tables.red[r[x]];
        }
        InterleaveBgr(b, g, r, inner, out);
        std::memset(out + 3 * size_t(inner), 0, 3);
    }
}

void CopyLines(const uint8_t* src, ptrdiff_t srcPitch, size_t lineBytes, int height, uint8_t* dst,
               ptrdiff_t dstStride)
{
    for (int i = 0; i < height; ++i)
        std::memcpy(dst + dstStride * i, src + srcPitch * i, lineBytes);
}

bool ConvertImageChunk(const Tav::CImageChunk& header, const uint8_t* data, size_t size, CDibPtr& dib)
{
    const int type = header.pixelType;
    if (type != Tav::PixelTypeMono8 && type != Tav::PixelTypeYuv422 && type != Tav::PixelTypeRgb8 &&
        type != Tav::PixelTypeRaw8)
        return false;

    const int width = header.width;
    const int height = header.height;
    const int bits = type == Tav::PixelTypeMono8 ? 8 : 24;
    const bool grey = type == Tav::PixelTypeMono8;
    const int sign = type == Tav::PixelTypeYuv422 ? -1 : 1;
    const int64_t pitch = header.pitch;
    const bool topDown = pitch * sign >= 0;
    const uint64_t absPitch = static_cast<uint64_t>(pitch < 0 ? -pitch : pitch);

    // The pixel data must hold every byte the conversion reads.
    if (width == 0 || height == 0 || !data)
        TooShort();
    uint64_t needed;
    switch (type) {
    case Tav::PixelTypeYuv422:
        needed = 2ull * width * height;
        break;
    case Tav::PixelTypeRgb8:
        needed = absPitch * (height - 1) + 3ull * width;
        break;
    default:
        needed = absPitch * (height - 1) + uint64_t(width);
        break;
    }
    if (needed > size)
        TooShort();

    bool reuse = dib && !dib->IsEmpty() && dib->GetSize() == std::make_pair(width, height) &&
                 dib->GetPaletteType() == (grey ? 1 : 0) && dib->GetBitsPerPixel() == bits &&
                 dib->IsTopDown() == topDown;
    CDibPtr target = reuse ? dib : CDib::Create(width, height, bits, topDown, grey ? 1 : 0);

    uint8_t* pixels = target->GetPixels();
    const ptrdiff_t stride = target->GetBytesPerLine();
    switch (type) {
    case Tav::PixelTypeMono8:
    case Tav::PixelTypeRgb8: {
        const size_t lineBytes = size_t(width) * (type == Tav::PixelTypeRgb8 ? 3 : 1);
        if (absPitch == uint64_t(stride) && uint64_t(stride) * height <= size)
            std::memcpy(pixels, data, size_t(stride) * height);
        else
            CopyLines(data, ptrdiff_t(absPitch), lineBytes, height, pixels, stride);
        break;
    }
    case Tav::PixelTypeYuv422:
        ConvertYuv422ToBgr(data, width, height, pixels, stride);
        break;
    case Tav::PixelTypeRaw8:
        ConvertRaw8ToBgr(data, ptrdiff_t(absPitch), width, height, header.filterPattern, pixels, stride);
        break;
    }
    dib = target;
    return true;
}

} // namespace Jel
