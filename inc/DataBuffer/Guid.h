#pragma once

#include <cstdint>
#include <cstring>
#include <string>

namespace Tav {

// A 16-byte type identifier. In memory: Data1, Data2, Data3 little-endian,
// then Data4 as written, the usual Windows GUID byte order. The framework
// only runs on little-endian hosts, where the struct's own layout is that order.
struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
static_assert(sizeof(GUID) == 16);

inline bool operator==(const GUID& a, const GUID& b)
{
    return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}

// Parses the registry form "{94ED7C88-1C0F-11D8-82E0-00105A5BAE55}" (braces
// required, hex digits in either case). False, with `out` unchanged, on any
// other text.
bool ParseGuid(const char* text, GUID& out);

// Like ParseGuid, but throws the common error 0xCEF00004 for malformed text.
GUID GuidFromString(const char* text);

// The registry form, upper-case hex digits.
std::string GuidToString(const GUID& guid);

// Chunk types used across the framework.
inline constexpr GUID GUID_ImageChunk = {0x94ED7C88, 0x1C0F, 0x11D8, {0x82, 0xE0, 0x00, 0x10, 0x5A, 0x5B, 0xAE, 0x55}};
inline constexpr GUID GUID_FrameCounterChunk = {0x8C5DB844, 0x1C0F, 0x11D8, {0x96, 0x5F, 0x00, 0x10, 0x5A, 0x5B, 0xAE, 0x55}};
inline constexpr GUID GUID_CycleTimeChunk = {0x994DD430, 0x1C0F, 0x11D8, {0x8F, 0x6B, 0x00, 0x10, 0x5A, 0x5B, 0xAE, 0x55}};
inline constexpr GUID GUID_RefreshChunk = {0x45304633, 0xCC6D, 0x4E19, {0xBB, 0x29, 0x21, 0xAF, 0xEB, 0x4B, 0x01, 0x58}};
inline constexpr GUID GUID_ErrorChunk = {0xA92FB3AC, 0xC72E, 0x4BE0, {0xA5, 0x6B, 0x60, 0x27, 0x9C, 0x19, 0xC1, 0x08}};
inline constexpr GUID GUID_StringChunk = {0x15199C40, 0x8530, 0x466E, {0xB6, 0xED, 0xA6, 0x1C, 0xF4, 0x92, 0x3C, 0xE9}};
inline constexpr GUID GUID_RegisterRequestChunk = {0xB75156C9, 0x4CB2, 0x42CF, {0x8E, 0x5B, 0x92, 0xED, 0xCC, 0xA3, 0x4D, 0x4A}};
inline constexpr GUID GUID_AcquisitionMarkerChunk = {0x744F2D67, 0x94C9, 0x446B, {0xAC, 0x04, 0x55, 0x74, 0x72, 0x35, 0x60, 0xA9}};
inline constexpr GUID GUID_DeviceStateChunk = {0xF360302C, 0xBDBF, 0x43DA, {0x96, 0x85, 0x49, 0xCF, 0x27, 0x64, 0xEE, 0x32}};

} // namespace Tav
