#pragma once

#include "Core/FactoryBase.h"

namespace Tav {

// Creates the framework's own kinds: "Decoupler", "ErrorViewer",
// "DroppedFramesChecker".
class CCoreFactory : public CFactoryBase {
public:
    IComponent* CreateObject(const std::string& kind) override;

    using Creator = IComponent* (*)();
    struct Kind {
        const char* name;
        Creator create; // null while the kind is not available in this build
    };

    // Tries `kinds` in order; null for a name not in the table.
    static IComponent* CreateFromTable(const Kind* kinds, size_t count, const std::string& kind);

    template <class T>
    static IComponent* Create()
    {
        return new T;
    }
};

} // namespace Tav
