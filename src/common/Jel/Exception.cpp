#include "Common/Jel/Exception.h"

namespace Jel {

Exception::Exception(uint32_t code, std::string message, std::string context)
    : code(code), message(std::move(message)), context(std::move(context))
{
}

Exception::~Exception() = default;

} // namespace Jel
