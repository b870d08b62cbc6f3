#pragma once

#include "DataBuffer/IPacket.h"
#include "DataBuffer/SmartPointer.h"

namespace Tav {

class ISource;

// The face of a link that a source module pushes packets into.
class ILinkSink {
public:
    virtual void Push(const CSmartPointer<IPacket>& packet) = 0;
    virtual ~ILinkSink() = default;
    virtual void Attach(ISource* source, int sourcePort) = 0;
    virtual void Detach() = 0;
};

} // namespace Tav
