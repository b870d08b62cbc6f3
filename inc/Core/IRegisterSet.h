#pragma once

#include <cstdint>

namespace Tav {

// Registers addressed by 64-bit addresses, read and written in place.
class IRegisterSet {
public:
    virtual void Read(uint64_t address, void* buffer, uint32_t length) = 0;
    virtual void Write(uint64_t address, const void* buffer, uint32_t length) = 0;
    virtual ~IRegisterSet() = default;
};

} // namespace Tav
