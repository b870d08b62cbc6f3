#include "DataBuffer/SafeNew.h"

#include "Common/Exception.h"

namespace Tav::Detail {

void ThrowSafeNewFailure(int line)
{
    throw CCommonException(0xCEF0000A, line, "SafeNew.cpp");
}

} // namespace Tav::Detail
