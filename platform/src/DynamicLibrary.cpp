#include "Platform/DynamicLibrary.h"

#include "Platform/ProcessInfo.h"
#include "Platform/SystemError.h"

#include <dlfcn.h>
#include <link.h>
#include <strings.h>
#include <sys/stat.h>

namespace Tav::Platform {

namespace {

thread_local std::string lastLoaderText;

bool EndsWithDll(const std::string& name)
{
    return name.size() > 4 && strcasecmp(name.c_str() + name.size() - 4, ".dll") == 0;
}

bool FileExists(const std::string& path)
{
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The platform file names for one library name, without directories.
std::vector<std::string> FileNames(const std::string& base)
{
    if (!EndsWithDll(base))
        return {base};
    std::string stem = base.substr(0, base.size() - 4);
    return {stem + ".so", "lib" + stem + ".so"};
}

} // namespace

std::vector<std::string> LibraryCandidates(const char* name)
{
    std::vector<std::string> out;
    if (!name || !*name)
        return out;
    std::string n(name);
    size_t slash = n.rfind('/');
    if (slash != std::string::npos) {
        std::string dir = n.substr(0, slash + 1);
        for (const std::string& f : FileNames(n.substr(slash + 1)))
            out.push_back(dir + f);
        return out;
    }
    for (const std::string& directory : GetLibraryDirectories())
        for (const std::string& f : FileNames(n))
            out.push_back(directory + "/" + f);
    return out;
}

LibraryHandle LoadLibrary(const char* name, LibrarySymbols symbols)
{
    lastLoaderText.clear();
    if (!name || !*name) {
        SetLastError(ErrorModNotFound);
        return nullptr;
    }
    const int flags = RTLD_NOW | (symbols == LibrarySymbols::Global ? RTLD_GLOBAL : RTLD_LOCAL);
    bool fileSeen = false;
    for (const std::string& path : LibraryCandidates(name)) {
        if (!FileExists(path))
            continue;
        fileSeen = true;
        if (void* h = dlopen(path.c_str(), flags))
            return h;
        const char* text = dlerror();
        lastLoaderText = text ? text : "";
    }
    std::string n(name);
    if (n.find('/') == std::string::npos) {
        // The loader's own search.
        for (const std::string& f : FileNames(n)) {
            if (void* h = dlopen(f.c_str(), flags))
                return h;
            const char* text = dlerror();
            std::string t = text ? text : "";
            // "No such file" means nothing was found under that name.
            if (t.find("No such file") == std::string::npos) {
                fileSeen = true;
                lastLoaderText = t;
            } else if (lastLoaderText.empty()) {
                lastLoaderText = t;
            }
        }
    }
    SetLastError(fileSeen ? ErrorBadExeFormat : ErrorModNotFound);
    return nullptr;
}

void* GetProcAddress(LibraryHandle library, const char* symbol)
{
    if (!library || !symbol) {
        SetLastError(ErrorInvalidHandle);
        return nullptr;
    }
    dlerror();
    void* p = dlsym(library, symbol);
    if (!p) {
        const char* text = dlerror();
        lastLoaderText = text ? text : "";
        SetLastError(ErrorProcNotFound);
    }
    return p;
}

bool FreeLibrary(LibraryHandle library)
{
    if (!library) {
        SetLastError(ErrorInvalidHandle);
        return false;
    }
    return dlclose(library) == 0;
}

std::string GetLibraryPath(LibraryHandle library)
{
    struct link_map* map = nullptr;
    if (!library || dlinfo(library, RTLD_DI_LINKMAP, &map) != 0 || !map || !map->l_name)
        return std::string();
    return map->l_name;
}

std::string LastLibraryErrorText()
{
    return lastLoaderText;
}

} // namespace Tav::Platform
