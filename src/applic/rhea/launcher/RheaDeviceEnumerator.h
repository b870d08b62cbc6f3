#pragma once

#include "Core/ComponentBase.h"
#include "Core/IDeviceEnumerator.h"

namespace Tav {

// Lists the 1394 cameras of the driver as "model (serial)", the serial
// being the node id's text after its first '-'. A camera that cannot be
// opened (one in use by another process) fails the whole listing.
class CRheaDeviceEnumerator : public CComponentBase, public IDeviceEnumerator {
public:
    std::vector<CDeviceDescriptor> EnumDevices() override;
};

} // namespace Tav
