#include "RheaException.h"

namespace Rhea {

static_assert(RheaException::Normalize(0xEFE00021u) == 0xCFE00021u);
static_assert(RheaException::Normalize(0xEFF00021u) == 0xEFF00021u);

} // namespace Rhea
