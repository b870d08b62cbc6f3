#pragma once

#include <cstddef>
#include <map>
#include <utility>

namespace Tav {

class IComponent;
class ILinkSink;
class ISource;

// Turns connections into links: one link per source output port, fanning
// out to every destination connected to it. Owns every link it creates.
class CModuleLinker {
public:
    CModuleLinker() = default;
    CModuleLinker(const CModuleLinker&) = delete;
    CModuleLinker& operator=(const CModuleLinker&) = delete;
    virtual ~CModuleLinker();

    // A failure before the link is stored leaves the table as it was.
    void Link(IComponent* sourceModule, int sourcePort, IComponent* destinationModule, int destinationPort);
    void UnlinkAll();

    size_t GetLinkCount() const { return links.size(); }
    ILinkSink* FindLink(ISource* source, int sourcePort) const;

private:
    std::map<std::pair<ISource*, int>, ILinkSink*> links;
};

} // namespace Tav
