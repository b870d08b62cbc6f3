#pragma once

namespace Tav {

class ISink;

// The face of a link that manages the receivers behind it.
class ILinkSource {
public:
    virtual void AddSink(ISink* sink, int inputPort) = 0;
    // Returns how many receivers remain.
    virtual int RemoveSink(ISink* sink, int inputPort) = 0;
    virtual void RemoveAllSinks() = 0;
    virtual ~ILinkSource() = default;
};

} // namespace Tav
