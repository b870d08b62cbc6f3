#pragma once

#include "HDRConverterBase.h"

#include <cstddef>

namespace Tav {

// Dynamic-range compression on a six-level Laplacian pyramid of the image's
// logarithmic codes: every band is compressed logarithmically with its own
// gain, the pyramid is rebuilt and the result stretched over 8 bits.
class CHDRConverterLaplace : public CHDRConverterBase {
public:
    static constexpr int32_t LevelCount = 6;
    // Image sizes are padded to multiples of this (2^(LevelCount - 1)).
    static constexpr int32_t SizeAlignment = 32;

    CHDRConverterLaplace();
    ~CHDRConverterLaplace() override;

    // Takes the padded size; refuses sizes that are zero or not multiples of 32.
    bool Init(int32_t width, int32_t height) override;
    bool Convert(const uint16_t* source, uint8_t* target, int32_t width, int32_t height,
                 int32_t sourcePitch, int32_t targetPitch, int32_t pixelType,
                 int32_t bitDepth) override;

    // The next multiple of 32 at or above `size`; 0 when it does not fit.
    static int32_t PaddedSize(int32_t size);
    int32_t GetLevelGain(int32_t level) const { return levelGain[level]; }

    // The pyramid's buffers as the last Convert left them (level 0 holds the
    // rebuilt image); for inspection.
    const int32_t* GetLevel(int32_t level) const { return levels[level].get(); }

private:
    // Laplacian band of level - 1 against level, compressed in place.
    void Decompose(int32_t level);
    // Adds level, enlarged, to level - 1.
    void Rebuild(int32_t level);
    void Compress(int32_t* values, size_t count, int32_t gain) const;
    void FillLevel0(const uint16_t* source, int32_t width, int32_t height, int32_t pitch,
                    bool isCode);
    void WriteOutput(uint8_t* target, int32_t width, int32_t height, int32_t pitch);
    int32_t LevelWidth(int32_t level) const { return allocatedWidth >> level; }
    int32_t LevelHeight(int32_t level) const { return allocatedHeight >> level; }

    std::unique_ptr<int32_t[]> levels[LevelCount];
    int32_t levelGain[LevelCount];
    // Maps (value - minimum) of the rebuilt image to 8 bits; built for
    // outputRange, with room for outputTableSize entries.
    std::unique_ptr<uint8_t[]> outputTable;
    int32_t outputTableSize;
    int32_t outputRange;

    // Code of every Mono16 sample, built once.
    std::unique_ptr<int32_t[]> monoCodeTable;
    // Two lines of padded width for the row passes.
    std::unique_ptr<int32_t[]> scratch;
    int32_t allocatedWidth;
    int32_t allocatedHeight;
};

} // namespace Tav
