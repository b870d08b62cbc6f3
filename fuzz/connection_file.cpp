// Graph assembly from arbitrary connection files: every input either builds
// a graph or raises one of the assembly's own errors.

#include "Launcher.h"
#include "XmlHelper.h"

#include "Common/Exception.h"
#include "Core/FactoryBase.h"
#include "Core/ModuleBase.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

class FuzzModule : public Tav::CModuleBase {
public:
    void OnInitialize() override
    {
        CModuleBase::OnInitialize();
        SetErrorPort(0);
        SetAuxiliaryPort(-1);
        AddOutputPort(1);
        AddOutputPort(2);
    }
    void OnData(int, const Tav::CSmartPointer<Tav::IPacket>&) override {}
};

// Kinds "A" to "D"; anything else is the factory's unknown-kind error.
class FuzzFactory : public Tav::CFactoryBase {
public:
    ~FuzzFactory() override { ReleaseAll(); }
    Tav::IComponent* CreateObject(const std::string& kind) override
    {
        return kind.size() == 1 && kind[0] >= 'A' && kind[0] <= 'D' ? new FuzzModule : nullptr;
    }
};

bool Expected(const Tav::CException& e)
{
    switch (e.GetCode()) {
    case 0xCEF00001: // file structure, parse errors
    case 0xCEF10200: // unknown kind
    case 0xCEF10102: // the linker: an output port the module does not have
        return true;
    default:
        std::fprintf(stderr, "unexpected error 0x%08X at %s:%d: %s\n", e.GetCode(), e.GetFile().c_str(),
                     e.GetLine(), e.GetDescription().c_str());
        return false;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzFactory factory;
    Tav::CModuleLinker linker;
    try {
        auto document = Tav::LoadXmlDocumentFromBuffer(data, size, "fuzz.xml");
        Tav::CLauncher::AssembleGraph(*document, factory, linker);
    } catch (const Tav::CException& e) {
        if (!Expected(e))
            std::abort();
    } catch (const Tav::CComError& e) {
        if (e.GetCode() != 0x80020005u && e.GetCode() != 0x8002000Au)
            std::abort();
    }
    linker.UnlinkAll();
    return 0;
}
