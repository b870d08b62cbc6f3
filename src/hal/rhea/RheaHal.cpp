#include "Device.h"

#include <new>

namespace Tav::Hal::Rhea {

CDeviceController::IDevice* OpenDevice(const CDeviceDescriptor* descriptor,
                                       CDeviceController::IChunkBufferSink* sink)
{
    auto* device = new (std::nothrow) CDevice;
    if (!device)
        throw CCommonException(0xCEF0000A, 11, "RheaHal.cpp");
    try {
        device->Open(*descriptor, sink);
    } catch (...) {
        delete device;
        throw;
    }
    return device;
}

} // namespace Tav::Hal::Rhea
