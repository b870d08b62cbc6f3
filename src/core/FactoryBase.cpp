#include "Core/FactoryBase.h"

#include "Common/Exception.h"
#include "Core/IComponent.h"

#include <exception>

namespace Tav {

CFactoryBase::~CFactoryBase()
{
    try {
        ReleaseAll();
    } catch (...) {
        // Every component is deleted all the same; a destructor cannot report.
    }
}

IComponent* CFactoryBase::GetObject(const std::string& name)
{
    if (auto it = components.find(name); it != components.end())
        return it->second;
    IComponent* component = CreateObject(name);
    if (!component)
        throw CCoreException(0xCEF10200, 47, "FactoryBase.cpp", name.c_str());
    Register(name, component);
    return component;
}

std::vector<IComponent*> CFactoryBase::GetObjects()
{
    std::vector<IComponent*> list;
    list.reserve(components.size());
    for (const auto& entry : components)
        list.push_back(entry.second);
    return list;
}

void CFactoryBase::Register(const std::string& name, IComponent* component)
{
    if (!component)
        throw CCommonException(0xCEF00006, __LINE__, "FactoryBase.cpp");
    if (Contains(name))
        throw CCoreException(0xCEF10201, 84, "FactoryBase.cpp", name.c_str());
    if (ContainsObject(component))
        throw CCoreException(0xCEF10202, 89, "FactoryBase.cpp");
    components[name] = component;
    component->Initialize(name, this);
}

bool CFactoryBase::Contains(const std::string& name)
{
    return components.count(name) != 0;
}

bool CFactoryBase::ContainsObject(IComponent* component)
{
    for (const auto& entry : components)
        if (entry.second == component)
            return true;
    return false;
}

void CFactoryBase::ReleaseAll()
{
    if (components.empty())
        return;
    // One component failing to deinitialise must not keep the others alive;
    // the first failure is passed on once all are gone.
    std::exception_ptr firstError;
    for (const auto& entry : components) {
        try {
            if (entry.second)
                entry.second->Deinitialize();
        } catch (...) {
            if (!firstError)
                firstError = std::current_exception();
        }
    }
    std::map<std::string, IComponent*> released;
    released.swap(components);
    for (const auto& entry : released)
        delete entry.second;
    if (firstError)
        std::rethrow_exception(firstError);
}

} // namespace Tav
