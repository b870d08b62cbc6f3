#pragma once

#include "DataBuffer/IPacket.h"
#include "DataBuffer/SmartPointer.h"

namespace Tav {

// The input face of a module: links deliver packets through it.
class ISink {
public:
    virtual void Push(int inputPort, const CSmartPointer<IPacket>& packet) = 0;
    virtual ~ISink() = default;
};

} // namespace Tav
