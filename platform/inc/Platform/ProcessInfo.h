#pragma once

// Facts about the running process.

#include <string>
#include <vector>

namespace Tav::Platform {

// Directory of the running executable, without a trailing slash.
std::string ExecutableDirectory();

// Where the program's data files are looked for, in this order: the
// executable's directory (a build tree keeps everything there), then the
// installed data directory <exe dir>/../share/tav.
std::vector<std::string> GetDataDirectories();

// Where plug-in libraries are looked for: the executable's directory, then
// the installed library directory <exe dir>/../lib/tav.
std::vector<std::string> GetLibraryDirectories();

// The first existing `relativePath` below GetDataDirectories(); empty when
// there is none.
std::string FindDataFile(const std::string& relativePath);

} // namespace Tav::Platform
