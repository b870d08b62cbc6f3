#include "RheaUtility.h"

#include "RheaException.h"

namespace Rhea::RheaUtility {

namespace {

// Bytes per packet at rate index 7; 0 where the mode is not defined.
constexpr uint32_t fullRate[3][8] = {
    {1920, 5120, 15360, 20480, 30720, 10240, 20480, 0},
    {32000, 48000, 16000, 49152, 73728, 24576, 32000, 49152},
    {81920, 122880, 40960, 128000, 192000, 64000, 81920, 128000},
};

} // namespace

uint32_t BytePerPacket(uint32_t format, uint32_t mode, uint32_t rate)
{
    const char* context = "RheaUtility::BytePerPacket()";
    if (format > 2 || mode > 7 || fullRate[format][mode] == 0)
        throw RheaException(ErrorModeNotDefined, context);
    if (rate > 7)
        throw RheaException(ErrorPacketSize, context);
    if (format == 1) {
        const bool allowed = (mode == 0 || mode == 6) ? rate >= 1
                           : mode == 1               ? rate >= 2 && rate <= 6
                           : mode == 2               ? rate >= 2
                                                     : true;
        if (!allowed)
            throw RheaException(ErrorPacketSize, context);
    }
    const uint32_t bytes = fullRate[format][mode] >> (7 - rate);
    if (format == 0 ? (bytes < 40 || bytes > 4000) : bytes > 4000)
        throw RheaException(ErrorPacketSize, context);
    return bytes;
}

uint32_t BitsPerPixel(uint32_t coding)
{
    static constexpr uint32_t bits[11] = {8, 12, 16, 24, 24, 16, 48, 16, 48, 8, 16};
    if (coding < 11)
        return bits[coding];
    if (coding >= 128 && coding <= 255)
        return 0;
    throw RheaException(ErrorUnknownColorCoding, "RheaUtility::BitsPerPixel");
}

} // namespace Rhea::RheaUtility
