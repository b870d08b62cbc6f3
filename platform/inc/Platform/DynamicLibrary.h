#pragma once

// Loading shared libraries by the names the framework uses for them. A name
// ending in ".dll" is mapped to this platform's forms: "KvHal.dll" is looked
// for as "KvHal.so" and "libKvHal.so". A bare name is searched next to the
// executable first, then in the installed library directory (see
// GetLibraryDirectories), then where the dynamic loader looks
// (LD_LIBRARY_PATH, the loader cache); a name with a directory is taken as
// that path only.
// Failures set the last error: ErrorModNotFound (126) when no file exists,
// ErrorBadExeFormat (193) when a file exists but does not load,
// ErrorProcNotFound (127) for a missing symbol.

#include <string>
#include <vector>

namespace Tav::Platform {

using LibraryHandle = void*;

enum class LibrarySymbols {
    Local, // symbols serve this library only
    Global // symbols also resolve later libraries (a Java VM, for example)
};

LibraryHandle LoadLibrary(const char* name, LibrarySymbols symbols = LibrarySymbols::Local);
void* GetProcAddress(LibraryHandle library, const char* symbol);
bool FreeLibrary(LibraryHandle library);

// The file a loaded library was loaded from; empty if unknown.
std::string GetLibraryPath(LibraryHandle library);

// The file names tried for `name`, in order, before the loader's own search.
std::vector<std::string> LibraryCandidates(const char* name);

// The loader's text for the calling thread's last failed load; empty if none.
std::string LastLibraryErrorText();

} // namespace Tav::Platform
