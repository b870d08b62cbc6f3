#pragma once

#include "Common/RWLock.h"
#include "Core/ILinkSink.h"
#include "Core/ILinkSource.h"

#include <utility>
#include <vector>

namespace Tav {

class ISink;
class ISource;

// Carries the packets of one output port to any number of (module, input
// port) receivers, in the order they were added, on the sender's thread.
// Owns neither its source nor its sinks.
class CMultiLink : public ILinkSink, public ILinkSource {
public:
    CMultiLink() = default;
    CMultiLink(const CMultiLink&) = delete;
    CMultiLink& operator=(const CMultiLink&) = delete;

    // If a sink throws, the remaining ones are skipped and the error goes
    // back to the sender.
    void Push(const CSmartPointer<IPacket>& packet) override;
    ~CMultiLink() override;
    // Throws what the source's Connect throws; the link then stays detached.
    void Attach(ISource* source, int sourcePort) override;
    void Detach() override;

    // A pair added again moves to the end of the list.
    void AddSink(ISink* sink, int inputPort) override;
    int RemoveSink(ISink* sink, int inputPort) override;
    void RemoveAllSinks() override;

    bool IsAttached() const { return attached; }
    ISource* GetSource() const { return source; }
    int GetSourcePort() const { return sourcePort; }
    int GetSinkCount();

private:
    void EnsureLock();

    ISource* source = nullptr;
    int sourcePort = 0;
    std::vector<std::pair<ISink*, int>> sinks;
    bool attached = false;
    CRWLock lock;
};

} // namespace Tav
