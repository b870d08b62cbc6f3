#pragma once

#include <string>

namespace Tav {

// What connecting and disconnecting a camera needs of the host of the
// configuration GUI: hand it the configuration file, take it back.
class IConfigurationHost {
public:
    virtual void Attach(const std::string& configFile) = 0;
    virtual void Detach() = 0;

protected:
    ~IConfigurationHost() = default;
};

} // namespace Tav
