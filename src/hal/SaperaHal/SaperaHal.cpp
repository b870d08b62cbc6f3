// The C entry points of the SaperaHal stand-in.
#include "Device.h"

#include "Common/Exception.h"
#include "Core/HalPlugin.h"

#include <new>

extern "C" {

// The one board the launcher lists for this plug-in: its ini file.
void EnumDevices(Tav::CHalPlugin::EnumDevicesCallback callback, void* context)
{
    if (!callback)
        return;
    try {
        const Tav::CDeviceDescriptor board(".\\Q7.ini", "X64 - 1");
        callback(&board, context);
    } catch (...) {
    }
}

Tav::CDeviceController::IDevice* OpenDevice(const Tav::CDeviceDescriptor* descriptor,
                                            Tav::CDeviceController::IChunkBufferSink* sink)
{
    if (!descriptor || !sink)
        throw Tav::CCommonException(0xCEF00006, __LINE__, "SaperaHal.cpp");
    auto* device = new (std::nothrow) Tav::Hal::Sapera::CDevice;
    if (!device)
        throw Tav::CCommonException(0xCEF0000A, __LINE__, "SaperaHal.cpp");
    try {
        device->Open(*descriptor, sink);
    } catch (...) {
        delete device;
        throw;
    }
    return device;
}

int SaperaHalLiveBlocks() { return Tav::Hal::Sapera::CDevice::LiveBlocks(); }
}
