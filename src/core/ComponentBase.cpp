#include "Core/ComponentBase.h"

namespace Tav {

void CComponentBase::Initialize(std::string newName, IFactory* newFactory)
{
    if (IsInitialized())
        Deinitialize();
    name = std::move(newName);
    factory = newFactory;
    OnInitialize();
    initialised = true;
}

void CComponentBase::Deinitialize()
{
    OnDeinitialize();
    initialised = false;
}

} // namespace Tav
