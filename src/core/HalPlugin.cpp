#include "Core/HalPlugin.h"

#include "Common/Exception.h"
#include "Platform/SystemError.h"

namespace Tav {

const char* halPluginName = nullptr;

namespace {

[[noreturn]] void ThrowLastError(int line)
{
    throw CException(Platform::HresultFromWin32(Platform::GetLastError()), line, "TavDeviceController.cpp");
}

} // namespace

CHalPlugin::~CHalPlugin()
{
    Unload();
}

void CHalPlugin::Load(const char* fileName)
{
    Unload();
    module = Platform::LoadLibrary(fileName);
    if (!module)
        ThrowLastError(322);
    void* enumEntry = Platform::GetProcAddress(module, "EnumDevices");
    if (!enumEntry) {
        uint32_t error = Platform::GetLastError();
        Unload();
        Platform::SetLastError(error);
        ThrowLastError(329);
    }
    void* openEntry = Platform::GetProcAddress(module, "OpenDevice");
    if (!openEntry) {
        uint32_t error = Platform::GetLastError();
        Unload();
        Platform::SetLastError(error);
        ThrowLastError(336);
    }
    enumDevices = reinterpret_cast<EnumDevicesFunction>(enumEntry);
    openDevice = reinterpret_cast<OpenDeviceFunction>(openEntry);
}

void CHalPlugin::Unload()
{
    if (module) {
        Platform::FreeLibrary(module);
        module = nullptr;
    }
    enumDevices = nullptr;
    openDevice = nullptr;
}

} // namespace Tav
