#pragma once

#include <cstdint>
#include <memory>

namespace Tav {

// Pixel types the HDR converters and their callers deal with.
namespace HDRPixelType {
constexpr int32_t Mono8 = 0;
constexpr int32_t RGB8 = 4;
constexpr int32_t Mono16 = 5;
constexpr int32_t Raw8 = 9;
constexpr int32_t Raw16 = 10;
// Camera-specific: high byte exponent, low byte mantissa.
constexpr int32_t ExponentMantissa = 128;
// Camera-specific: four 12-bit samples in six bytes.
constexpr int32_t Packed12 = 129;
} // namespace HDRPixelType

// Turns a 16-bit image into an 8-bit one. The lookup tables shared by all
// converters are built on the first Init and kept for the object's life.
class CHDRConverterBase {
public:
    static constexpr int32_t TableSize = 65536;

    CHDRConverterBase();
    virtual ~CHDRConverterBase();
    CHDRConverterBase(const CHDRConverterBase&) = delete;
    CHDRConverterBase& operator=(const CHDRConverterBase&) = delete;

    // Prepares for images of the given size; false if the size is refused.
    virtual bool Init(int32_t width, int32_t height);
    // `source` holds 16-bit samples, `target` receives 8-bit samples; pitches
    // are in bytes. False if the pixel type or the geometry is not handled.
    virtual bool Convert(const uint16_t* source, uint8_t* target, int32_t width, int32_t height,
                         int32_t sourcePitch, int32_t targetPitch, int32_t pixelType,
                         int32_t bitDepth) = 0;

    int32_t GetWidth() const { return width; }
    int32_t GetHeight() const { return height; }
    // Null until the first successful Init.
    const int32_t* GetCodeTable() const { return codeTable.get(); }
    const int32_t* GetLinearTable() const { return linearTable.get(); }
    const int32_t* GetLogTable() const { return logTable.get(); }

protected:
    // Runs Init when the size differs from the stored one.
    bool EnsureSize(int32_t width, int32_t height);
    // Sizes are non-negative, a non-empty image has both buffers, and the
    // pitches hold a whole line of 16-bit-aligned source samples and of
    // target bytes.
    static bool IsValidImage(const uint16_t* source, const uint8_t* target, int32_t width,
                             int32_t height, int32_t sourcePitch, int32_t targetPitch);

    static const uint16_t* SourceRow(const uint16_t* source, int32_t pitch, int32_t y)
    {
        return reinterpret_cast<const uint16_t*>(reinterpret_cast<const uint8_t*>(source) +
                                                 static_cast<intptr_t>(pitch) * y);
    }
    static uint8_t* TargetRow(uint8_t* target, int32_t pitch, int32_t y)
    {
        return target + static_cast<intptr_t>(pitch) * y;
    }

    int32_t width;
    int32_t height;
    // Index (exponent << 8) | mantissa: a logarithmic code of mantissa * 2^exponent,
    // never below 0.
    std::unique_ptr<int32_t[]> codeTable;
    // Index (exponent << 8) | mantissa: mantissa << (exponent mod 32).
    std::unique_ptr<int32_t[]> linearTable;
    // logTable[j] = round(ln j); logTable[0] = 0.
    std::unique_ptr<int32_t[]> logTable;

private:
    void FillTables();
};

} // namespace Tav
