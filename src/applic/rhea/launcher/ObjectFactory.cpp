#include "ObjectFactory.h"

#include "ImageViewer.h"

namespace Tav {

namespace {

const CCoreFactory::Kind applicationKinds[] = {
    {"DeviceEnumerator", nullptr},
    {"ImageViewer", &CCoreFactory::Create<CImageViewer>},
    {"DeviceController", nullptr},
    {"FpsViewer", nullptr},
    {"HDRFilter", nullptr},
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
