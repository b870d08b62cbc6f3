#pragma once

// A 128-bit interface or class identifier with the Windows field layout
// (32-bit, 16-bit, 16-bit little-endian, then 8 bytes as written).

#include <cstdint>
#include <cstring>
#include <string>

namespace Tav::Platform {

struct Guid {
    uint32_t data1 = 0;
    uint16_t data2 = 0;
    uint16_t data3 = 0;
    uint8_t data4[8] = {};

    friend bool operator==(const Guid& a, const Guid& b)
    {
        return a.data1 == b.data1 && a.data2 == b.data2 && a.data3 == b.data3 &&
               std::memcmp(a.data4, b.data4, sizeof a.data4) == 0;
    }
};

static_assert(sizeof(Guid) == 16);

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper case.
std::string GuidToString(const Guid& guid);

} // namespace Tav::Platform
