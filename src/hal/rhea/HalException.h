#pragma once

#include "Common/Exception.h"

namespace Tav::Hal::Rhea {

struct RheaHalErrorResourceName {
    static const char* GetName() { return "TavRheaHalError.dll"; }
};

// Failure of the 1394 camera layer; texts from "TavRheaHalError.dll".
class CException : public CExceptionDerivation<RheaHalErrorResourceName> {
public:
    using CExceptionDerivation<RheaHalErrorResourceName>::CExceptionDerivation;
};

// Camera layer codes.
enum : uint32_t {
    ErrorDriver = 0xCEF30000,        // (driver client message, driver client code)
    ErrorNotFormat7 = 0xCEF30001,    // (format, mode)
    ErrorRemoved = 0xCEF30002,
    ErrorNoRegister = 0xCEF30003,    // (index, high address half)
    ErrorReadOnly = 0xCEF30004,      // (index, high address half)
    ErrorProbeAddress = 0xCEF30005,  // (low address half, high address half)
};

} // namespace Tav::Hal::Rhea
