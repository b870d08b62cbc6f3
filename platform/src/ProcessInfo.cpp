#include "Platform/ProcessInfo.h"

#include <climits>
#include <unistd.h>

namespace Tav::Platform {

std::string ExecutableDirectory()
{
    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (n <= 0)
        return ".";
    path[n] = '\0';
    std::string s(path);
    size_t slash = s.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return s.substr(0, slash);
}

} // namespace Tav::Platform
