#pragma once

#include "Core/DeviceController.h"
#include "Platform/DynamicLibrary.h"

namespace Tav {

class CDeviceDescriptor;

// The HAL plug-in chosen on the command line ("SaperaHal.dll", "KvHal.dll"),
// or null for the built-in 1394 layer. Set once during start-up.
extern const char* halPluginName;

// Loader of a HAL plug-in library and its two C entry points.
class CHalPlugin {
public:
    // Called by EnumDevices once per device, in listing order; the callee
    // copies the descriptor.
    using EnumDevicesCallback = void (*)(const CDeviceDescriptor* descriptor, void* context);
    using EnumDevicesFunction = void (*)(EnumDevicesCallback callback, void* context);
    // (descriptor, the device controller's chunk-buffer sink) -> the opened
    // device, owned by the caller.
    using OpenDeviceFunction = CDeviceController::OpenDeviceFunction;

    CHalPlugin() = default;
    ~CHalPlugin();

    CHalPlugin(const CHalPlugin&) = delete;
    CHalPlugin& operator=(const CHalPlugin&) = delete;

    // Loads `fileName` and resolves EnumDevices, then OpenDevice. Throws a
    // CException with the system error as an HRESULT on failure; nothing
    // stays loaded then.
    void Load(const char* fileName);
    void Unload();

    bool IsLoaded() const { return module != nullptr; }
    EnumDevicesFunction GetEnumDevices() const { return enumDevices; }
    OpenDeviceFunction GetOpenDevice() const { return openDevice; }

private:
    Platform::LibraryHandle module = nullptr;
    EnumDevicesFunction enumDevices = nullptr;
    OpenDeviceFunction openDevice = nullptr;
};

} // namespace Tav
