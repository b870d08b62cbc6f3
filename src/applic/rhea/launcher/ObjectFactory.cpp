#include "ObjectFactory.h"

#include "Core/DeviceController.h"
#include "HDRFilter.h"
#include "Device.h"
#include "RheaDeviceEnumerator.h"
#include "TavTiff.h"
#include "ImageViewer.h"
#include "FpsViewer.h"

namespace Tav {

namespace {

// The controller injects TIFF files through the viewers' reader and opens
// the built-in 1394 camera layer, neither of which the core library can
// depend on.
IComponent* CreateDeviceController()
{
    auto* controller = new CDeviceController;
    controller->SetImageFileLoader(&LoadTiffAsChunk);
    controller->SetBuiltInDevice(&Hal::Rhea::OpenDevice);
    return controller;
}

const CCoreFactory::Kind applicationKinds[] = {
    {"DeviceEnumerator", &CCoreFactory::Create<CRheaDeviceEnumerator>},
    {"ImageViewer", &CCoreFactory::Create<CImageViewer>},
    {"DeviceController", &CreateDeviceController},
    {"FpsViewer", &CCoreFactory::Create<CFpsViewer>},
    {"HDRFilter", &CCoreFactory::Create<CHDRFilter>},
    {"StatisticsDecoupler", nullptr},
    {"ImageStatistics", nullptr},
};

} // namespace

CObjectFactory::~CObjectFactory()
{
    // Components may call back into the factory while they are released;
    // release them while this is still a whole CObjectFactory.
    try {
        ReleaseAll();
    } catch (...) {
    }
}

IComponent* CObjectFactory::CreateObject(const std::string& kind)
{
    if (IComponent* component = CreateFromTable(applicationKinds, std::size(applicationKinds), kind))
        return component;
    return CCoreFactory::CreateObject(kind);
}

} // namespace Tav
