#pragma once

#include "Common/Jel/JelException.h"

#include <string>

namespace Rhea {

// Failure of the driver client: a Win32 error of the failing call or one of
// the client's own 0xCFF0xxxx codes, the name of the failing operation, and
// the text from "RheaError.dll". Driver codes 0xEFE0xxxx are reported as
// 0xCFE0xxxx.
class RheaException : public Jel::Exception {
public:
    template <typename... Args>
    RheaException(uint32_t code, const std::string& context, Args... args)
        : Jel::Exception(Normalize(code), Jel::LookUpMessageWith("RheaError.dll", Normalize(code), args...), context)
    {
    }

    static constexpr uint32_t Normalize(uint32_t code)
    {
        return ((code >> 16) & 0xFFFu) == 0xFE0u ? code & ~0x20000000u : code;
    }
};

// The client's own codes.
enum : uint32_t {
    ErrorNotificationWindow = 0xCFF00001,
    ErrorClientRegisterWithDevices = 0xCFF00002,
    ErrorClientUnregisterWithDevices = 0xCFF00003,
    ErrorNoDevice = 0xCFF00004,
    ErrorPacketSize = 0xCFF00006,
    ErrorModeNotDefined = 0xCFF00007,
    ErrorUnknownColorCoding = 0xCFF00008,
    ErrorColorCodingRange = 0xCFF0000D,
    ErrorAlreadyOpen = 0xCFF00016,
    ErrorOutOfMemory = 0x8007000E,
};

} // namespace Rhea
