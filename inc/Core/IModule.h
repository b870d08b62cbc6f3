#pragma once

namespace Tav {

class IModule {
public:
    virtual void Start() = 0;
    virtual void Stop() = 0;
    virtual ~IModule() = default;
};

} // namespace Tav
