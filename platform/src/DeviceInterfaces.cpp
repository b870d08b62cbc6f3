#include "Platform/DeviceInterfaces.h"

#include "DeviceRegistry.h"
#include "Platform/SystemError.h"

#include <cstring>
#include <new>

namespace Tav::Platform {

std::unique_ptr<DeviceInfoSet> DeviceInfoSet::GetClassDevices(const Guid& interfaceClass, uint32_t flags)
{
    if ((flags & (DigcfPresent | DigcfDeviceInterface)) != (DigcfPresent | DigcfDeviceInterface)) {
        SetLastError(ErrorInvalidParameter);
        return nullptr;
    }
    std::vector<std::shared_ptr<DeviceDriver>> drivers;
    {
        auto& r = Detail::Registry();
        std::lock_guard<std::mutex> guard(r.mutex);
        drivers = r.drivers;
    }
    try {
        std::unique_ptr<DeviceInfoSet> set(new DeviceInfoSet);
        set->interfaceClass = interfaceClass;
        for (const auto& driver : drivers)
            for (std::string& path : driver->InterfacePaths(interfaceClass))
                set->paths.push_back(std::move(path));
        SetLastError(ErrorSuccess);
        return set;
    } catch (const std::bad_alloc&) {
        SetLastError(ErrorNotEnoughMemory);
        return nullptr;
    }
}

bool DeviceInfoSet::EnumInterfaces(const Guid& cls, uint32_t index, DeviceInterfaceData& data) const
{
    if (!(cls == interfaceClass)) {
        SetLastError(ErrorInvalidParameter);
        return false;
    }
    if (index >= paths.size()) {
        SetLastError(ErrorNoMoreItems);
        return false;
    }
    data.interfaceClass = cls;
    data.flags = 1; // active
    data.reserved = index;
    SetLastError(ErrorSuccess);
    return true;
}

bool DeviceInfoSet::GetInterfaceDetail(const DeviceInterfaceData& data, char* path, uint32_t size,
                                       uint32_t* required) const
{
    if (data.reserved >= paths.size() || !(data.interfaceClass == interfaceClass)) {
        SetLastError(ErrorInvalidParameter);
        return false;
    }
    const std::string& p = paths[data.reserved];
    const uint32_t needed = static_cast<uint32_t>(p.size() + 1);
    if (required)
        *required = needed;
    if (!path || size < needed) {
        SetLastError(ErrorInsufficientBuffer);
        return false;
    }
    std::memcpy(path, p.c_str(), needed);
    SetLastError(ErrorSuccess);
    return true;
}

} // namespace Tav::Platform
