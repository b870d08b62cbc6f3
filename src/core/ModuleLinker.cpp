#include "Core/ModuleLinker.h"

#include "Common/Exception.h"
#include "Core/IComponent.h"
#include "Core/ISink.h"
#include "Core/ISource.h"
#include "Core/MultiLink.h"

#include <new>

namespace Tav {

CModuleLinker::~CModuleLinker()
{
    UnlinkAll();
}

void CModuleLinker::Link(IComponent* sourceModule, int sourcePort, IComponent* destinationModule, int destinationPort)
{
    auto* source = dynamic_cast<ISource*>(sourceModule);
    if (!source)
        throw CCommonException(0xCEF00000, 42, "ModuleLinker.cpp");
    auto* sink = dynamic_cast<ISink*>(destinationModule);
    if (!sink)
        throw CCommonException(0xCEF00000, 52, "ModuleLinker.cpp");

    const auto key = std::make_pair(source, sourcePort);
    if (auto it = links.find(key); it != links.end()) {
        static_cast<CMultiLink*>(it->second)->AddSink(sink, destinationPort);
        return;
    }

    auto* link = new (std::nothrow) CMultiLink;
    if (!link)
        throw CCommonException(0xCEF0000A, 84, "ModuleLinker.cpp");
    try {
        link->Attach(source, sourcePort);
        links.emplace(key, link);
    } catch (...) {
        delete link;
        throw;
    }
    link->AddSink(sink, destinationPort);
}

void CModuleLinker::UnlinkAll()
{
    for (auto& [key, link] : links) {
        key.first->Disconnect(key.second);
        if (link) {
            delete link;
            link = nullptr;
        }
    }
    links.clear();
}

ILinkSink* CModuleLinker::FindLink(ISource* source, int sourcePort) const
{
    auto it = links.find(std::make_pair(source, sourcePort));
    return it == links.end() ? nullptr : it->second;
}

} // namespace Tav
