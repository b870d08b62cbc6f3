#pragma once

#include "Core/IComponent.h"

namespace Tav {

class CComponentBase : public IComponent {
public:
    CComponentBase() = default;

    // Re-initialises (deinitialises first) when already initialised.
    void Initialize(std::string name, IFactory* factory) override;
    void Deinitialize() override;
    const char* GetName() const override { return name.c_str(); }
    ~CComponentBase() override = default;

    virtual bool IsInitialized() const { return initialised; }
    virtual void OnInitialize() {}
    virtual void OnDeinitialize() {}

    IFactory* GetFactory() const { return factory; }

protected:
    bool initialised = false;
    std::string name;
    IFactory* factory = nullptr;
};

} // namespace Tav
