#include "DataBuffer/Guid.h"

#include "Common/Exception.h"

#include <cstdio>

namespace Tav {

namespace {

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Reads `digits` hex digits at `text`; false on any other character.
bool ReadHex(const char* text, int digits, uint32_t& value)
{
    value = 0;
    for (int i = 0; i < digits; ++i) {
        int v = HexValue(text[i]);
        if (v < 0)
            return false;
        value = (value << 4) | static_cast<uint32_t>(v);
    }
    return true;
}

} // namespace

bool ParseGuid(const char* text, GUID& out)
{
    // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
    if (!text)
        return false;
    size_t length = 0;
    while (length < 39 && text[length])
        ++length;
    if (length != 38 || text[0] != '{' || text[37] != '}' || text[9] != '-' || text[14] != '-' ||
        text[19] != '-' || text[24] != '-')
        return false;
    GUID guid;
    uint32_t value;
    if (!ReadHex(text + 1, 8, value))
        return false;
    guid.Data1 = value;
    if (!ReadHex(text + 10, 4, value))
        return false;
    guid.Data2 = static_cast<uint16_t>(value);
    if (!ReadHex(text + 15, 4, value))
        return false;
    guid.Data3 = static_cast<uint16_t>(value);
    static const int byteOffsets[8] = {20, 22, 25, 27, 29, 31, 33, 35};
    for (int i = 0; i < 8; ++i) {
        if (!ReadHex(text + byteOffsets[i], 2, value))
            return false;
        guid.Data4[i] = static_cast<uint8_t>(value);
    }
    out = guid;
    return true;
}

GUID GuidFromString(const char* text)
{
    GUID guid;
    if (!ParseGuid(text, guid))
        throw CCommonException(0xCEF00004, __LINE__, "Guid.cpp");
    return guid;
}

std::string GuidToString(const GUID& guid)
{
    char text[39];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", guid.Data1,
                  guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3],
                  guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return text;
}

} // namespace Tav
