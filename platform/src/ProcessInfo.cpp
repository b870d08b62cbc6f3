#include "Platform/ProcessInfo.h"

#include <climits>
#include <sys/stat.h>
#include <unistd.h>

namespace Tav::Platform {

namespace {

// <exe dir>/../<below>, with the ".." resolved by name.
std::string BesideExecutableDirectory(const std::string& below)
{
    const std::string directory = ExecutableDirectory();
    const size_t slash = directory.rfind('/');
    if (slash == std::string::npos)
        return directory + "/../" + below;
    return directory.substr(0, slash) + "/" + below;
}

} // namespace

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

std::vector<std::string> GetDataDirectories()
{
    return {ExecutableDirectory(), BesideExecutableDirectory("share/tav")};
}

std::vector<std::string> GetLibraryDirectories()
{
    return {ExecutableDirectory(), BesideExecutableDirectory("lib/tav")};
}

std::string FindDataFile(const std::string& relativePath)
{
    if (relativePath.empty())
        return {};
    for (const std::string& directory : GetDataDirectories()) {
        const std::string path = directory + "/" + relativePath;
        struct stat info;
        if (::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode))
            return path;
    }
    return {};
}

} // namespace Tav::Platform
