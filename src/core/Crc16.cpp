#include "Core/Crc16.h"

#include <array>

namespace Tav {

namespace {

// tables[k][x]: the CRC register after byte x followed by k zero bytes, so
// eight bytes fold into the register with eight independent look-ups.
using Tables = std::array<std::array<uint16_t, 256>, 8>;

constexpr Tables MakeTables()
{
    Tables tables{};
    for (unsigned x = 0; x < 256; ++x) {
        uint16_t crc = static_cast<uint16_t>(x << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
        tables[0][x] = crc;
    }
    for (int k = 1; k < 8; ++k)
        for (unsigned x = 0; x < 256; ++x) {
            uint16_t previous = tables[k - 1][x];
            tables[k][x] = static_cast<uint16_t>((previous << 8) ^ tables[0][previous >> 8]);
        }
    return tables;
}

constexpr Tables tables = MakeTables();

} // namespace

uint16_t Crc16Xmodem(const void* data, size_t size, uint16_t crc)
{
    const auto* p = static_cast<const unsigned char*>(data);
    while (size >= 8) {
        crc = static_cast<uint16_t>(tables[7][p[0] ^ (crc >> 8)] ^ tables[6][p[1] ^ (crc & 0xFF)] ^
                                    tables[5][p[2]] ^ tables[4][p[3]] ^ tables[3][p[4]] ^ tables[2][p[5]] ^
                                    tables[1][p[6]] ^ tables[0][p[7]]);
        p += 8;
        size -= 8;
    }
    while (size--)
        crc = static_cast<uint16_t>((crc << 8) ^ tables[0][(crc >> 8) ^ *p++]);
    return crc;
}

} // namespace Tav
