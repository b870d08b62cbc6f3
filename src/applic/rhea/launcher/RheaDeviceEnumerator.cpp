#include "RheaDeviceEnumerator.h"

#include "Rhea.h"

#include "Common/Exception.h"

namespace Tav {

std::vector<CDeviceDescriptor> CRheaDeviceEnumerator::EnumDevices()
{
    std::vector<CDeviceDescriptor> devices;
    try {
        for (const std::string& name : ::Rhea::CRhea::DeviceNames()) {
            ::Rhea::CRhea camera;
            camera.Open(name);
            const std::string nodeId = camera.info.NodeId();
            const size_t dash = nodeId.find('-');
            const std::string serial = dash == std::string::npos ? nodeId : nodeId.substr(dash + 1);
            devices.emplace_back(name, camera.info.ModelName() + " (" + serial + ")");
            camera.Close();
        }
    } catch (const ::Rhea::RheaException& e) {
        throw CCommonException(0xCEF00001, 35, "RheaDeviceEnumerator.cpp", e.GetMessage().c_str());
    }
    return devices;
}

} // namespace Tav
