#include "Core/RegisterPortImpl.h"

#include "Common/Exception.h"
#include "Core/RegisterRequest.h"
#include "DataBuffer/Guid.h"

namespace Tav {

void CRegisterPortImpl::HandleRequests(const CSmartPointer<IPacket>& packet)
{
    CSmartPointer<IEnumChunks> chunks;
    if (packet)
        packet->EnumChunks(chunks, GUID_RegisterRequestChunk);
    if (!chunks || chunks->GetCount() == 0)
        throw CCommonException(0xCEF00004, 29, "RegisterPortImpl.cpp");

    CChunkPtr<CChunk> chunk;
    while (chunks->Next(chunk)) {
        CRegisterRequestView request(chunk);
        // The data area must hold `length` bytes either way: a shorter one
        // would be read or written past its end.
        const bool dataFits = request.GetData() && request.GetDataSize() >= request.GetLength();
        switch (request.GetDirection()) {
        case RegisterRead:
            if (!dataFits)
                throw CCommonException(0xCEF00006, 52, "RegisterPortImpl.cpp");
            Read(request.GetAddressLow(), request.GetAddressHigh(), request.GetData(), request.GetLength());
            break;
        case RegisterWrite:
            if (!dataFits)
                throw CCommonException(0xCEF00006, 60, "RegisterPortImpl.cpp");
            Write(request.GetAddressLow(), request.GetAddressHigh(), request.GetData(), request.GetLength());
            break;
        default:
            throw CCommonException(0xCEF00004, 66, "RegisterPortImpl.cpp");
        }
    }
}

void CRegisterPortImpl::CheckRegisterLength(uint32_t length)
{
    if (length != 4)
        throw CCommonException(0xCEF00006, 73, "RegisterPortImpl.cpp");
}

void CRegisterPortImpl::Read(uint64_t address, void* buffer, uint32_t length)
{
    Read(static_cast<uint32_t>(address), static_cast<uint32_t>(address >> 32), buffer, length);
}

void CRegisterPortImpl::Write(uint64_t address, const void* buffer, uint32_t length)
{
    Write(static_cast<uint32_t>(address), static_cast<uint32_t>(address >> 32), buffer, length);
}

} // namespace Tav
