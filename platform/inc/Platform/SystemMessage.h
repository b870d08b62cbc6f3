#pragma once

// The system message table: texts for the system error numbers (and their
// HRESULT forms) that the platform layer and its callers produce.

#include <cstdint>
#include <string>

namespace Tav::Platform {

// True and the text (ending in a line break, as system texts do) when the
// table knows `code`; false otherwise.
bool FindSystemMessage(uint32_t code, std::string& text);

} // namespace Tav::Platform
