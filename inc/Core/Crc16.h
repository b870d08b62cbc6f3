#pragma once

#include <cstddef>
#include <cstdint>

namespace Tav {

// CRC-16/XMODEM (polynomial 0x1021, initial value 0, not reflected, no final
// XOR) of `size` bytes, continuing from `crc`. Eight bytes per step.
uint16_t Crc16Xmodem(const void* data, size_t size, uint16_t crc = 0);

} // namespace Tav
