#pragma once

#include "Core/DeviceDescriptor.h"

#include <vector>

namespace Tav {

// A source of device lists for the user to choose from.
class IDeviceEnumerator {
public:
    // The devices present, in discovery order.
    virtual std::vector<CDeviceDescriptor> EnumDevices() = 0;
    virtual ~IDeviceEnumerator() = default;
};

// The entry points of HAL plug-in libraries are CHalPlugin's
// EnumDevicesFunction and OpenDeviceFunction (Core/HalPlugin.h).

} // namespace Tav
