#pragma once

// Device-interface enumeration: the present interfaces of one interface
// class, as the registered device drivers report them (see DeviceDriver.h),
// listed by index and read back as device paths. Calls that succeed clear
// the thread's last error; failures set it.

#include "Platform/Guid.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Tav::Platform {

constexpr uint32_t DigcfPresent = 0x02;
constexpr uint32_t DigcfDeviceInterface = 0x10;

struct DeviceInterfaceData {
    Guid interfaceClass;
    uint32_t flags = 0;
    uintptr_t reserved = 0; // index into the set
};

class DeviceInfoSet {
public:
    // A snapshot of the interfaces of `interfaceClass` present now. Both
    // DigcfPresent and DigcfDeviceInterface are required (anything else is
    // ErrorInvalidParameter and a null result).
    static std::unique_ptr<DeviceInfoSet> GetClassDevices(const Guid& interfaceClass, uint32_t flags);

    // Interface `index` of the class; false with ErrorNoMoreItems past the
    // last one, ErrorInvalidParameter for another class.
    bool EnumInterfaces(const Guid& interfaceClass, uint32_t index, DeviceInterfaceData& data) const;

    // Copies the interface's device path, NUL-terminated, into `path`.
    // `required` (when given) receives the byte count needed; a null or short
    // buffer fails with ErrorInsufficientBuffer.
    bool GetInterfaceDetail(const DeviceInterfaceData& data, char* path, uint32_t size, uint32_t* required) const;

    size_t Size() const { return paths.size(); }

private:
    Guid interfaceClass;
    std::vector<std::string> paths;
};

} // namespace Tav::Platform
