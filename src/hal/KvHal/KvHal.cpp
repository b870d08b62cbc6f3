// The C entry points of the GenICam plug-in.
#include "Device.h"

#include "Core/HalPlugin.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace {

// TAV_KVHAL_FAKE=1 adds Aravis' built-in fake camera to the devices, for
// trying the launcher without hardware.
void EnableInterfaces()
{
    const char* fake = std::getenv("TAV_KVHAL_FAKE");
    if (fake && std::strcmp(fake, "1") == 0)
        arv_enable_interface("Fake");
}

std::string Text(const char* text) { return text ? text : ""; }

} // namespace

extern "C" {

// Every camera Aravis finds, named by its device id; exceptions do not cross
// the C boundary, so a failing discovery lists what was found before it.
__attribute__((visibility("default"))) void EnumDevices(Tav::CHalPlugin::EnumDevicesCallback callback, void* context)
{
    if (!callback)
        return;
    try {
        EnableInterfaces();
        arv_update_device_list();
        const unsigned count = arv_get_n_devices();
        for (unsigned i = 0; i < count; ++i) {
            const std::string id = Text(arv_get_device_id(i));
            if (id.empty())
                continue;
            const Tav::CDeviceDescriptor descriptor(id, Text(arv_get_device_vendor(i)) + " " +
                                                            Text(arv_get_device_model(i)) + " (" +
                                                            Text(arv_get_device_serial_nbr(i)) + ")");
            callback(&descriptor, context);
        }
    } catch (...) {
    }
}

__attribute__((visibility("default"))) Tav::CDeviceController::IDevice*
OpenDevice(const Tav::CDeviceDescriptor* descriptor, Tav::CDeviceController::IChunkBufferSink* sink)
{
    if (!descriptor || !sink)
        throw Tav::CCommonException(0xCEF00006, __LINE__, "KvHal.cpp");
    EnableInterfaces();
    auto* device = new (std::nothrow) Tav::Hal::Kv::CDevice;
    if (!device)
        throw Tav::CCommonException(0xCEF0000A, __LINE__, "KvHal.cpp");
    try {
        device->Open(*descriptor, sink);
    } catch (...) {
        delete device;
        throw;
    }
    return device;
}

// Memory blocks of the plug-in still alive; for tests and diagnostics.
__attribute__((visibility("default"))) int KvHalLiveBlocks() { return Tav::Hal::Kv::CDevice::LiveBlocks(); }
}
