#pragma once

// Facts about the running process.

#include <string>

namespace Tav::Platform {

// Directory of the running executable, without a trailing slash.
std::string ExecutableDirectory();

} // namespace Tav::Platform
