#pragma once

#include <string>
#include <vector>

namespace Tav {

class IComponent;

// Turns a component name, which is also its kind, into the one component of
// that name; owns every component registered with it.
class IFactory {
public:
    // Kept for the interface's layout; does nothing.
    virtual void Reserved(void* unused) = 0;
    virtual IComponent* GetObject(const std::string& name) = 0;
    // Every registered component, in name order.
    virtual std::vector<IComponent*> GetObjects() = 0;
    virtual void Register(const std::string& name, IComponent* component) = 0;
    virtual bool Contains(const std::string& name) = 0;
    virtual void ReleaseAll() = 0;
    virtual ~IFactory() = default;
};

} // namespace Tav
