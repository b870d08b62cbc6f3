#pragma once

#include "Core/CoreFactory.h"

namespace Tav {

// The launcher's factory: the application kinds first, then the core ones.
class CObjectFactory : public CCoreFactory {
public:
    CObjectFactory() = default;
    ~CObjectFactory() override;
    IComponent* CreateObject(const std::string& kind) override;
};

} // namespace Tav
