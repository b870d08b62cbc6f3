// Test HAL plug-ins: one source, built three times with different exports.
#include "Core/DeviceDescriptor.h"
#include "Core/HalPlugin.h"

#include <string>

namespace {

using Tav::CDeviceController;

// Reports every state at once, on the caller's thread. Descriptors whose
// name is "refuse" are not opened.
class PluginDevice : public CDeviceController::IDevice {
public:
    void Open(const Tav::CDeviceDescriptor&, CDeviceController::IChunkBufferSink* newSink) override
    {
        sink = newSink;
        sink->OnStateChanged(1);
    }
    void Close() override { sink->OnStateChanged(0); }
    void StartContinuousGrab() override { sink->OnStateChanged(2); }
    void StopContinuousGrab() override { sink->OnStateChanged(1); }
    void InitSingleShot() override { sink->OnStateChanged(3); }
    void CancelSingleShot() override { sink->OnStateChanged(1); }
    bool HasCheckWord() override { return false; }
    Tav::IRegisterSet* GetRegisterSet(int) override { return nullptr; }

private:
    CDeviceController::IChunkBufferSink* sink = nullptr;
};

} // namespace

extern "C" {

#ifndef OMIT_ENUM_DEVICES
void EnumDevices(Tav::CHalPlugin::EnumDevicesCallback callback, void* context)
{
    const Tav::CDeviceDescriptor first("plugin-0", "First plug-in camera");
    const Tav::CDeviceDescriptor second("plugin-1", "Second plug-in camera");
    callback(&first, context);
    callback(&second, context);
}
#endif

#ifndef OMIT_OPEN_DEVICE
CDeviceController::IDevice* OpenDevice(const Tav::CDeviceDescriptor* descriptor,
                                       CDeviceController::IChunkBufferSink* sink)
{
    if (!descriptor || descriptor->GetName() == "refuse")
        return nullptr;
    auto* device = new PluginDevice;
    device->Open(*descriptor, sink);
    return device;
}
#endif
}
