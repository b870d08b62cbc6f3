#pragma once

#include <cstdint>

namespace Rhea::RheaUtility {

// Bytes per isochronous packet of a fixed IIDC format (0-2), mode and rate
// index. Throws RheaException 0xCFF00007 for an undefined format or mode,
// 0xCFF00006 for a rate the mode cannot run at.
uint32_t BytePerPacket(uint32_t format, uint32_t mode, uint32_t rate);

// Bits per pixel of an IIDC colour coding; 0 for vendor codings 128-255.
// Throws RheaException 0xCFF00008 for anything else.
uint32_t BitsPerPixel(uint32_t coding);

} // namespace Rhea::RheaUtility
