#pragma once

#include "Core/IRegisterSet.h"
#include "DataBuffer/IPacket.h"
#include "DataBuffer/SmartPointer.h"

#include <cstdint>

namespace Tav {

// Serves register-access packets against a module's own registers, which are
// addressed by the two 32-bit halves of the request's address.
class CRegisterPortImpl : public IRegisterSet {
public:
    ~CRegisterPortImpl() override = default;

    virtual void Read(uint32_t addressLow, uint32_t addressHigh, void* data, uint32_t length) = 0;
    virtual void Write(uint32_t addressLow, uint32_t addressHigh, const void* data, uint32_t length) = 0;
    // Executes every register-access chunk of `packet` in order; a read leaves
    // its result in the chunk's data area for the sender.
    virtual void HandleRequests(const CSmartPointer<IPacket>& packet);

    // IRegisterSet, for callers holding a 64-bit address.
    void Read(uint64_t address, void* buffer, uint32_t length) final;
    void Write(uint64_t address, const void* buffer, uint32_t length) final;

protected:
    // Registers served through this class are 4 bytes wide.
    static void CheckRegisterLength(uint32_t length);
};

} // namespace Tav
