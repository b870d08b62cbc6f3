// Camera description texts of the simulated 1394 driver: any input is
// either parsed into consistent cameras or refused with a reason.

#include "Sim1394/Sim1394.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<Tav::Sim1394::CameraDescription> cameras;
    std::string error;
    const bool ok = Tav::Sim1394::ParseDescription(std::string(reinterpret_cast<const char*>(data), size), cameras, error);
    if (ok != error.empty())
        __builtin_trap();
    for (const auto& c : cameras)
        if (c.maxWidth == 0 || c.maxHeight == 0 || (c.width ? c.width : c.maxWidth) + c.left > c.maxWidth)
            __builtin_trap();
    return 0;
}
