#include "HDRConverterLaplace.h"

#include "Common/Exception.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace Tav {

namespace {

constexpr int32_t DefaultGains[CHDRConverterLaplace::LevelCount] = {96, 80, 64, 48, 32, 128};
constexpr int32_t InitialOutputTableSize = 65536;

// coarse = fine reduced by 2 with the 1-2-1 kernel in both directions.
// Neighbours outside the image, and the neighbour after the centre in the last
// coarse line and column, repeat the centre; the corners other than the first
// are weighted 9-3-3-1 around the fine image's own corner pixel. A coarse
// dimension of 1 counts as the first line or column only.
void Reduce(const int32_t* fine, int32_t fineWidth, int32_t fineHeight, int32_t* coarse,
            int32_t* columnSums)
{
    const int32_t coarseWidth = fineWidth / 2;
    const int32_t coarseHeight = fineHeight / 2;
    for (int32_t y = 0; y < coarseHeight; ++y) {
        const int32_t centre = 2 * y;
        const int32_t above = y == 0 ? centre : centre - 1;
        const int32_t below = (y == coarseHeight - 1 && y > 0) ? centre : centre + 1;
        const int32_t* __restrict a = fine + static_cast<size_t>(above) * fineWidth;
        const int32_t* __restrict c = fine + static_cast<size_t>(centre) * fineWidth;
        const int32_t* __restrict b = fine + static_cast<size_t>(below) * fineWidth;
        int32_t* __restrict v = columnSums;
        for (int32_t x = 0; x < fineWidth; ++x)
            v[x] = a[x] + 2 * c[x] + b[x];

        int32_t* __restrict out = coarse + static_cast<size_t>(y) * coarseWidth;
        out[0] = (3 * v[0] + v[1]) >> 4;
        for (int32_t x = 1; x < coarseWidth - 1; ++x)
            out[x] = (v[2 * x - 1] + 2 * v[2 * x] + v[2 * x + 1]) >> 4;
        if (coarseWidth > 1)
            out[coarseWidth - 1] = (v[fineWidth - 3] + 3 * v[fineWidth - 2]) >> 4;
    }

    auto fineAt = [&](int32_t x, int32_t y) {
        return fine[static_cast<size_t>(y) * fineWidth + x];
    };
    auto corner = [&](int32_t x, int32_t y, int32_t inwardX, int32_t inwardY) {
        return (9 * fineAt(x, y) + 3 * fineAt(x + inwardX, y) + 3 * fineAt(x, y + inwardY) +
                fineAt(x + inwardX, y + inwardY)) >>
               4;
    };
    const int32_t lastX = fineWidth - 1;
    const int32_t lastY = fineHeight - 1;
    const size_t lastRow = static_cast<size_t>(coarseHeight - 1) * coarseWidth;
    if (coarseWidth > 1)
        coarse[coarseWidth - 1] = corner(lastX, 0, -1, 1);
    if (coarseHeight > 1)
        coarse[lastRow] = corner(0, lastY, 1, -1);
    if (coarseWidth > 1 && coarseHeight > 1)
        coarse[lastRow + coarseWidth - 1] = corner(lastX, lastY, -1, -1);
}

// One fine line of a coarse line (shift 0) or of the sum of two coarse lines
// (shift 1), enlarged by 2: even positions take their coarse sample, odd ones
// the mean of both neighbours, the last (odd) position the last sample.
void ExpandLine(const int32_t* __restrict sums, int32_t coarseWidth, int32_t shift,
                int32_t* __restrict line)
{
    for (int32_t k = 0; k < coarseWidth - 1; ++k) {
        line[2 * k] = sums[k] >> shift;
        line[2 * k + 1] = (sums[k] + sums[k + 1]) >> (shift + 1);
    }
    line[2 * coarseWidth - 2] = sums[coarseWidth - 1] >> shift;
    line[2 * coarseWidth - 1] = sums[coarseWidth - 1] >> shift;
}

// Calls apply(fineLine, expandedLine) for every line of the coarse level
// enlarged to fineHeight lines. Odd lines take the mean of the coarse lines
// above and below; the last (odd) line repeats the last coarse line.
template <typename Apply>
void Expand(const int32_t* coarse, int32_t coarseWidth, int32_t coarseHeight, int32_t* fine,
            int32_t* sums, int32_t* expanded, Apply apply)
{
    const int32_t fineWidth = 2 * coarseWidth;
    for (int32_t l = 0; l < coarseHeight; ++l) {
        const int32_t* __restrict line = coarse + static_cast<size_t>(l) * coarseWidth;
        ExpandLine(line, coarseWidth, 0, expanded);
        apply(fine + static_cast<size_t>(2 * l) * fineWidth, expanded);
        if (l + 1 < coarseHeight) {
            const int32_t* __restrict next = line + coarseWidth;
            for (int32_t k = 0; k < coarseWidth; ++k)
                sums[k] = line[k] + next[k];
            ExpandLine(sums, coarseWidth, 1, expanded);
        }
        apply(fine + static_cast<size_t>(2 * l + 1) * fineWidth, expanded);
    }
}

// sign(c) * gain * round(ln |c|); log[0] is 0, so 0 stays 0.
inline int32_t CompressValue(int32_t c, int32_t gain, const int32_t* log)
{
    const int32_t magnitude = std::min(c < 0 ? -c : c, CHDRConverterBase::TableSize - 1);
    const int32_t compressed = gain * log[magnitude];
    return c < 0 ? -compressed : compressed;
}

} // namespace

CHDRConverterLaplace::CHDRConverterLaplace()
    : outputTableSize(0), outputRange(-1), allocatedWidth(0), allocatedHeight(0)
{
    std::copy(std::begin(DefaultGains), std::end(DefaultGains), levelGain);
}

CHDRConverterLaplace::~CHDRConverterLaplace() = default;

int32_t CHDRConverterLaplace::PaddedSize(int32_t size)
{
    if (size < 0 || size > INT32_MAX - (SizeAlignment - 1))
        return 0;
    return (size + SizeAlignment - 1) / SizeAlignment * SizeAlignment;
}

bool CHDRConverterLaplace::Init(int32_t width, int32_t height)
{
    if (width <= 0 || height <= 0 || width % SizeAlignment != 0 || height % SizeAlignment != 0)
        return false;

    if (width != allocatedWidth || height != allocatedHeight) {
        std::unique_ptr<int32_t[]> fresh[LevelCount];
        bool allocated = true;
        for (int32_t i = 0; i < LevelCount && allocated; ++i) {
            const size_t count = static_cast<size_t>(width >> i) * static_cast<size_t>(height >> i);
            fresh[i].reset(new (std::nothrow) int32_t[count]);
            allocated = fresh[i] != nullptr;
        }
        std::unique_ptr<int32_t[]> lines(new (std::nothrow) int32_t[2 * static_cast<size_t>(width)]);
        if (!allocated || !lines)
            throw CCommonException(0xCEF0000A, 238, "HDRConverterLaplace.cpp");
        for (int32_t i = 0; i < LevelCount; ++i)
            levels[i] = std::move(fresh[i]);
        scratch = std::move(lines);
        allocatedWidth = width;
        allocatedHeight = height;
    }

    if (!CHDRConverterBase::Init(width, height))
        return false;
    if (!monoCodeTable) {
        std::unique_ptr<int32_t[]> table(new (std::nothrow) int32_t[TableSize]);
        if (!table) {
            // Forget the size so that the next frame runs Init again.
            this->width = 0;
            this->height = 0;
            throw CCommonException(0xCEF0000A, __LINE__, "HDRConverterLaplace.cpp");
        }
        // Halve the sample until it fits a mantissa byte; the halvings are the exponent.
        for (int32_t s = 0; s < TableSize; ++s) {
            int32_t exponent = 0;
            int32_t mantissa = s;
            while (mantissa > 255) {
                mantissa >>= 1;
                ++exponent;
            }
            table[s] = codeTable[(exponent << 8) | mantissa];
        }
        monoCodeTable = std::move(table);
    }
    return true;
}

void CHDRConverterLaplace::Compress(int32_t* values, size_t count, int32_t gain) const
{
    const int32_t* log = logTable.get();
    for (size_t i = 0; i < count; ++i)
        values[i] = CompressValue(values[i], gain, log);
}

void CHDRConverterLaplace::Decompose(int32_t level)
{
    int32_t* fine = levels[level - 1].get();
    int32_t* coarse = levels[level].get();
    const int32_t fineWidth = LevelWidth(level - 1);
    const int32_t fineHeight = LevelHeight(level - 1);
    int32_t* sums = scratch.get();
    int32_t* expanded = sums + allocatedWidth;
    Reduce(fine, fineWidth, fineHeight, coarse, sums);

    const int32_t* log = logTable.get();
    const int32_t gain = levelGain[level - 1];
    Expand(coarse, LevelWidth(level), LevelHeight(level), fine, sums, expanded,
           [&](int32_t* __restrict line, const int32_t* __restrict e) {
               for (int32_t x = 0; x < fineWidth; ++x)
                   line[x] = CompressValue(line[x] - e[x], gain, log);
           });
}

void CHDRConverterLaplace::Rebuild(int32_t level)
{
    const int32_t fineWidth = LevelWidth(level - 1);
    int32_t* sums = scratch.get();
    int32_t* expanded = sums + allocatedWidth;
    Expand(levels[level].get(), LevelWidth(level), LevelHeight(level), levels[level - 1].get(),
           sums, expanded, [&](int32_t* __restrict line, const int32_t* __restrict e) {
               for (int32_t x = 0; x < fineWidth; ++x)
                   line[x] += e[x];
           });
}

void CHDRConverterLaplace::FillLevel0(const uint16_t* source, int32_t width, int32_t height,
                                      int32_t pitch, bool isCode)
{
    const int32_t paddedWidth = allocatedWidth;
    const int32_t left = (paddedWidth - width) / 2;
    const int32_t top = (allocatedHeight - height) / 2;
    int32_t* level0 = levels[0].get();
    const int32_t* code = isCode ? codeTable.get() : monoCodeTable.get();

    std::memset(level0, 0, sizeof(int32_t) * static_cast<size_t>(top) * paddedWidth);
    for (int32_t y = 0; y < height; ++y) {
        int32_t* __restrict line = level0 + static_cast<size_t>(top + y) * paddedWidth;
        const uint16_t* __restrict in = SourceRow(source, pitch, y);
        std::fill(line, line + left, 0);
        for (int32_t x = 0; x < width; ++x)
            line[left + x] = code[in[x]];
        std::fill(line + left + width, line + paddedWidth, 0);
    }
    const int32_t bottom = allocatedHeight - top - height;
    std::memset(level0 + static_cast<size_t>(top + height) * paddedWidth, 0,
                sizeof(int32_t) * static_cast<size_t>(bottom) * paddedWidth);
}

void CHDRConverterLaplace::WriteOutput(uint8_t* target, int32_t width, int32_t height,
                                       int32_t pitch)
{
    const int32_t paddedWidth = allocatedWidth;
    const int32_t left = (paddedWidth - width) / 2;
    const int32_t top = (allocatedHeight - height) / 2;
    const int32_t* level0 = levels[0].get();

    int32_t low = level0[static_cast<size_t>(top) * paddedWidth + left];
    int32_t high = low;
    for (int32_t y = 0; y < height; ++y) {
        const int32_t* __restrict line = level0 + static_cast<size_t>(top + y) * paddedWidth + left;
        for (int32_t x = 0; x < width; ++x) {
            low = std::min(low, line[x]);
            high = std::max(high, line[x]);
        }
    }
    // Every band is at most gain * ln 65535, so the span stays far below 2^31.
    const int32_t range = std::max(high - low, 255);

    if (range != outputRange) {
        if (range + 1 > outputTableSize) {
            const int32_t size = std::max(range + 1, InitialOutputTableSize);
            std::unique_ptr<uint8_t[]> table(new (std::nothrow) uint8_t[size]);
            if (!table)
                throw CCommonException(0xCEF0000A, 324, "HDRConverterLaplace.cpp");
            outputTable = std::move(table);
            outputTableSize = size;
        }
        for (int32_t k = 0; k <= range; ++k)
            outputTable[k] = static_cast<uint8_t>(static_cast<int64_t>(k) * 255 / range);
        outputRange = range;
    }

    const uint8_t* table = outputTable.get();
    for (int32_t y = 0; y < height; ++y) {
        const int32_t* __restrict line = level0 + static_cast<size_t>(top + y) * paddedWidth + left;
        uint8_t* __restrict out = TargetRow(target, pitch, y);
        for (int32_t x = 0; x < width; ++x)
            out[x] = table[line[x] - low];
    }
}

bool CHDRConverterLaplace::Convert(const uint16_t* source, uint8_t* target, int32_t width,
                                   int32_t height, int32_t sourcePitch, int32_t targetPitch,
                                   int32_t pixelType, int32_t bitDepth)
{
    const bool isCode = pixelType == HDRPixelType::ExponentMantissa;
    if (pixelType != HDRPixelType::Mono16 && !isCode)
        return false;
    if (!IsValidImage(source, target, width, height, sourcePitch, targetPitch))
        return false;
    const int32_t paddedWidth = PaddedSize(width);
    const int32_t paddedHeight = PaddedSize(height);
    if (!EnsureSize(paddedWidth, paddedHeight))
        return false;

    FillLevel0(source, width, height, sourcePitch, isCode);
    for (int32_t level = 1; level < LevelCount; ++level)
        Decompose(level);
    Compress(levels[LevelCount - 1].get(),
             static_cast<size_t>(LevelWidth(LevelCount - 1)) * LevelHeight(LevelCount - 1),
             levelGain[LevelCount - 1]);
    for (int32_t level = LevelCount - 1; level > 0; --level)
        Rebuild(level);
    WriteOutput(target, width, height, targetPitch);
    return true;
}

} // namespace Tav
