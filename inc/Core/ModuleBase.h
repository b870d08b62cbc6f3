#pragma once

#include "Common/Exception.h"
#include "Core/ComponentBase.h"
#include "Core/ConnectorBase.h"
#include "Core/IRegisterSet.h"

namespace Tav {

// Base of every processing module: a component with ports.
class CModuleBase : public CComponentBase, public CConnectorBase {
public:
    CModuleBase() = default;
    ~CModuleBase() override;

    bool IsInitialized() const override;
    // Creates the connector; modules call this first, then declare ports.
    void OnInitialize() override;
    void OnDeinitialize() override;

    // Sends `error` as an error packet on the error port; dropped when the
    // port is not connected. Never throws.
    virtual void ReportError(const CException& error);
    // Diagnostic text; written to standard error only when TAV_TRACE=1.
    virtual void Trace(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // Executes the register-access chunks of `packet` against `registers`.
    virtual void HandleRegisterRequests(IRegisterSet& registers, const CSmartPointer<IPacket>& packet);

    // Rejects every input: the module takes none unless it overrides this.
    void OnData(int inputPort, const CSmartPointer<IPacket>& packet) override;
    const char* GetModuleName() const override { return GetName(); }

    void SetErrorPort(int port);
    void SetAuxiliaryPort(int port);
    int GetErrorPort() const { return errorPort; }
    int GetAuxiliaryPort() const { return auxiliaryPort; }

protected:
    int errorPort = -1;
    int auxiliaryPort = -1;
    bool errorPortSet = false;
    bool auxiliaryPortSet = false;
};

} // namespace Tav
