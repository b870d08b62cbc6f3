#pragma once

namespace Tav {

class ILinkSink;

// The face links use to attach to a module's output ports.
class ISource {
public:
    virtual void Connect(int outputPort, ILinkSink* link) = 0;
    virtual void Disconnect(int outputPort) = 0;
    virtual ~ISource() = default;
};

} // namespace Tav
