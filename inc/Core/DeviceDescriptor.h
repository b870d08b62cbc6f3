#pragma once

#include <string>
#include <utility>

namespace Tav {

// A camera as offered by a device list: the name opening looks it up by
// (for 1394 cameras the driver's device name) and the text shown to users.
// Defined in the header so that HAL plug-ins can build descriptors without
// linking the framework.
class CDeviceDescriptor {
public:
    CDeviceDescriptor(std::string name, std::string description)
        : name(std::move(name)), description(std::move(description))
    {
    }
    CDeviceDescriptor(const CDeviceDescriptor&) = default;
    CDeviceDescriptor& operator=(const CDeviceDescriptor&) = default;
    virtual ~CDeviceDescriptor() = default;

    virtual std::string GetDescription() const { return description; }
    virtual std::string GetName() const { return name; }

protected:
    std::string name;
    std::string description;
};

} // namespace Tav
