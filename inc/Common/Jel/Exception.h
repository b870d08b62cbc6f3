#pragma once

#include <cstdint>
#include <string>

namespace Jel {

// Base of the bitmap, image-file and driver-client failures: a code, a
// ready-made message and the name of the failing operation.
class Exception {
public:
    Exception(uint32_t code, std::string message, std::string context);
    virtual ~Exception();

    uint32_t GetCode() const { return code; }
    const std::string& GetMessage() const { return message; }
    const std::string& GetContext() const { return context; }

protected:
    uint32_t code;
    std::string message;
    std::string context;
};

} // namespace Jel
