#pragma once

#include "Core/IFactory.h"

#include <map>

namespace Tav {

class CFactoryBase : public IFactory {
public:
    CFactoryBase() = default;
    CFactoryBase(const CFactoryBase&) = delete;
    CFactoryBase& operator=(const CFactoryBase&) = delete;

    void Reserved(void*) override {}
    IComponent* GetObject(const std::string& name) override;
    std::vector<IComponent*> GetObjects() override;
    // The component is registered before it is initialised, so one whose
    // initialisation throws is still released by ReleaseAll.
    void Register(const std::string& name, IComponent* component) override;
    bool Contains(const std::string& name) override;
    // Deinitialises every component, then deletes them, in name order.
    void ReleaseAll() override;
    ~CFactoryBase() override;

    virtual bool ContainsObject(IComponent* component);
    // A new, uninitialised component for a kind name, or null.
    virtual IComponent* CreateObject(const std::string& kind) = 0;

protected:
    // Byte-wise ordered, as std::string compares.
    std::map<std::string, IComponent*> components;
};

} // namespace Tav
