#include "Core/CoreFactory.h"

#include "Core/Decoupler.h"
#include "Core/DroppedFramesChecker.h"
#include "Core/ErrorView.h"

#include <new>

namespace Tav {

namespace {

const CCoreFactory::Kind coreKinds[] = {
    {"Decoupler", &CCoreFactory::Create<CDecoupler>},
    {"ErrorViewer", &CCoreFactory::Create<CErrorView>},
    {"DroppedFramesChecker", &CCoreFactory::Create<CDroppedFramesChecker>},
};

} // namespace

IComponent* CCoreFactory::CreateFromTable(const Kind* kinds, size_t count, const std::string& kind)
{
    for (size_t i = 0; i < count; ++i) {
        if (kind == kinds[i].name) {
            if (!kinds[i].create)
                return nullptr;
            try {
                return kinds[i].create();
            } catch (const std::bad_alloc&) {
                return nullptr;
            }
        }
    }
    return nullptr;
}

IComponent* CCoreFactory::CreateObject(const std::string& kind)
{
    return CreateFromTable(coreKinds, std::size(coreKinds), kind);
}

} // namespace Tav
