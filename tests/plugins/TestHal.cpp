// Test HAL plug-ins: one source, built three times with different exports.
#include "Core/HalPlugin.h"

extern "C" {

#ifndef OMIT_ENUM_DEVICES
void EnumDevices(Tav::CHalPlugin::EnumDevicesCallback callback, void* context)
{
    // Reports itself twice so the caller can check order and count.
    callback(nullptr, context);
    callback(nullptr, context);
}
#endif

#ifndef OMIT_OPEN_DEVICE
void* OpenDevice(const Tav::CDeviceDescriptor*, void* sink)
{
    return sink;
}
#endif
}
