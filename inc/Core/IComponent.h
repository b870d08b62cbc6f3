#pragma once

#include <string>

namespace Tav {

class IFactory;

// Every configurable object: named, created and owned by a factory,
// initialised once with its name before use.
class IComponent {
public:
    virtual void Initialize(std::string name, IFactory* factory) = 0;
    virtual void Deinitialize() = 0;
    virtual const char* GetName() const = 0;
    virtual ~IComponent() = default;
};

} // namespace Tav
