#include "Core/ModuleBase.h"

#include "Core/ErrorChunk.h"
#include "Core/RegisterRequest.h"
#include "DataBuffer/Packet.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace Tav {

namespace {

bool TraceEnabled()
{
    static const bool enabled = [] {
        const char* v = std::getenv("TAV_TRACE");
        return v && std::strcmp(v, "1") == 0;
    }();
    return enabled;
}

} // namespace

CModuleBase::~CModuleBase()
{
    if (initialised && IsCreated()) {
        Destroy();
        errorPort = -1;
        auxiliaryPort = -1;
    }
}

bool CModuleBase::IsInitialized() const
{
    return initialised && IsCreated();
}

void CModuleBase::OnInitialize()
{
    if (IsInitialized())
        OnDeinitialize();
    Create();
}

void CModuleBase::OnDeinitialize()
{
    Destroy();
    errorPort = -1;
    auxiliaryPort = -1;
}

void CModuleBase::SetErrorPort(int port)
{
    AddOutputPort(port);
    errorPort = port;
    errorPortSet = true;
}

void CModuleBase::SetAuxiliaryPort(int port)
{
    AddOutputPort(port);
    auxiliaryPort = port;
    auxiliaryPortSet = true;
}

void CModuleBase::ReportError(const CException& error)
{
    // -1 means no error port, even where -1 is the declared auxiliary port.
    if (errorPort == -1 || !IsConnected(errorPort))
        return;
    try {
        CSmartPointer<IPacket> packet = CPacket::Create();
        packet->AddChunkBuffer(MakeErrorChunkBuffer(error));
        Send(errorPort, packet);
    } catch (...) {
        Trace("%s: Failed to report error %lx.\n", name.c_str(), static_cast<unsigned long>(error.GetCode()));
    }
}

void CModuleBase::Trace(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    std::string text = FormatString(format, arguments);
    va_end(arguments);
    if (TraceEnabled())
        std::fputs(text.c_str(), stderr);
}

void CModuleBase::HandleRegisterRequests(IRegisterSet& registers, const CSmartPointer<IPacket>& packet)
{
    CSmartPointer<IEnumChunks> chunks;
    packet->EnumChunks(chunks, GUID_RegisterRequestChunk);
    if (!chunks || chunks->GetCount() == 0)
        throw CCoreException(0xCEF10104, 139, "ModuleBase.cpp");
    CChunkPtr<CChunk> chunk;
    while (chunks->Next(chunk)) {
        CRegisterRequestView request(chunk);
        switch (request.GetDirection()) {
        case RegisterRead:
            if (!request.GetData() || request.GetDataSize() < request.GetLength())
                throw CCommonException(0xCEF00006, 163, "ModuleBase.cpp");
            registers.Read(request.GetAddress(), request.GetData(), request.GetLength());
            break;
        case RegisterWrite:
            if (!request.GetData() || request.GetDataSize() < request.GetLength())
                throw CCommonException(0xCEF00006, 171, "ModuleBase.cpp");
            registers.Write(request.GetAddress(), request.GetData(), request.GetLength());
            break;
        default:
            throw CCommonException(0xCEF00004, 177, "ModuleBase.cpp");
        }
    }
}

void CModuleBase::OnData(int inputPort, const CSmartPointer<IPacket>&)
{
    throw CCoreException(0xCEF10103, 128, "ModuleBase.cpp", GetModuleName(), inputPort);
}

} // namespace Tav
