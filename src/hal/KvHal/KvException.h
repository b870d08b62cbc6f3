#pragma once

#include "Common/Exception.h"

namespace Tav::Hal::Kv {

// The camera layer's catalog, shared with the 1394 device.
struct KvHalErrorResourceName {
    static const char* GetName() { return "TavRheaHalError.dll"; }
};

// Failure of the GenICam camera layer.
class CException : public CExceptionDerivation<KvHalErrorResourceName> {
public:
    using CExceptionDerivation<KvHalErrorResourceName>::CExceptionDerivation;
};

enum : uint32_t {
    ErrorControlLost = 0xCEF30002,   // the camera is gone (shared with the 1394 layer)
    ErrorNoRegister = 0xCEF30003,    // (index, high address half)
    ErrorReadOnly = 0xCEF30004,      // (index, high address half)
    ErrorCamera = 0xCEF30010,        // (the camera library's message, its error code)
    ErrorPixelFormat = 0xCEF30011,   // (pixel format name, pixel format code)
    ErrorNotOpen = 0xCEF30012,
    ErrorBusy = 0xCEF30013,          // a frame setting written during a grab
};

} // namespace Tav::Hal::Kv
