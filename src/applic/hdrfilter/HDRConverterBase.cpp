#include "HDRConverterBase.h"

#include "Common/Exception.h"

#include <cmath>
#include <new>

namespace Tav {

CHDRConverterBase::CHDRConverterBase() : width(0), height(0) {}

CHDRConverterBase::~CHDRConverterBase() = default;

bool CHDRConverterBase::Init(int32_t width, int32_t height)
{
    if (!codeTable)
        FillTables();
    this->width = width;
    this->height = height;
    return true;
}

bool CHDRConverterBase::EnsureSize(int32_t width, int32_t height)
{
    if (codeTable && width == this->width && height == this->height)
        return true;
    return Init(width, height);
}

bool CHDRConverterBase::IsValidImage(const uint16_t* source, const uint8_t* target,
                                     int32_t width, int32_t height, int32_t sourcePitch,
                                     int32_t targetPitch)
{
    if (width < 0 || height < 0)
        return false;
    if (width == 0 || height == 0)
        return true;
    if (!source || !target)
        return false;
    if (height == 1)
        return true;
    return sourcePitch % 2 == 0 && sourcePitch / 2 >= width && targetPitch >= width;
}

void CHDRConverterBase::FillTables()
{
    std::unique_ptr<int32_t[]> code(new (std::nothrow) int32_t[TableSize]);
    std::unique_ptr<int32_t[]> linear(new (std::nothrow) int32_t[TableSize]);
    std::unique_ptr<int32_t[]> log(new (std::nothrow) int32_t[TableSize]);
    if (!code || !linear || !log)
        throw CCommonException(0xCEF0000A, __LINE__, "HDRConverterBase.cpp");

    for (int32_t i = 0; i < TableSize; ++i) {
        int32_t e = i >> 8;
        int32_t m = i & 0xFF;
        linear[i] = static_cast<int32_t>(static_cast<uint32_t>(m) << (e % 32));
        if (m < 128) {
            // Normalise the mantissa towards the top of its byte. Exponent 0 leaves
            // the loop at -1, which would give codes below 0 for mantissas under
            // 64; those are held at 0 so every code stays a valid index.
            do {
                --e;
                m *= 2;
            } while (e > 0 && m < 127);
        }
        int32_t entry = m + 128 * e;
        code[i] = entry < 0 ? 0 : entry;
    }

    log[0] = 0;
    for (int32_t j = 1; j < TableSize; ++j)
        log[j] = static_cast<int32_t>(std::floor(std::log2(static_cast<double>(j)) *
                                                     0.69314718055994530943 +
                                                 0.5));

    codeTable = std::move(code);
    linearTable = std::move(linear);
    logTable = std::move(log);
}

} // namespace Tav
