#include "DeviceDescriptor.h"

#include "Common/Exception.h"
#include "Platform/ProcessInfo.h"

#include <algorithm>
#include <cctype>
#include <fstream>

namespace Tav::Hal::Sapera {

namespace {

std::string Trim(const std::string& text)
{
    const char* blanks = " \t\r\n";
    const size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

bool SameName(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

} // namespace

CDeviceDescriptor::CDeviceDescriptor(std::string name, std::string description)
    : Tav::CDeviceDescriptor(name, std::move(description)), iniFile(name)
{
}

size_t CDeviceDescriptor::ReadProfileString(const std::string& file, const std::string& section,
                                            const std::string& key, const std::string& fallback, std::string& value,
                                            size_t size)
{
    std::string found = fallback;
    std::ifstream in(LocalPath(file), std::ios::binary);
    bool inSection = false;
    std::string line;
    while (in && std::getline(in, line)) {
        const std::string text = Trim(line);
        if (text.empty() || text[0] == ';')
            continue;
        if (text[0] == '[') {
            const size_t end = text.find(']');
            inSection = end != std::string::npos && SameName(Trim(text.substr(1, end - 1)), section);
            continue;
        }
        if (!inSection)
            continue;
        const size_t equals = text.find('=');
        if (equals == std::string::npos || !SameName(Trim(text.substr(0, equals)), key))
            continue;
        found = Trim(text.substr(equals + 1));
        if (found.size() >= 2 && (found.front() == '"' || found.front() == '\'') && found.back() == found.front())
            found = found.substr(1, found.size() - 2);
        break;
    }
    if (size == 0) {
        value.clear();
        return 0;
    }
    value = found.substr(0, size - 1);
    return value.size();
}

std::string CDeviceDescriptor::LocalPath(const std::string& file)
{
    auto exists = [](const std::string& path) { return std::ifstream(path).good(); };
    if (file.empty() || exists(file))
        return file;
    std::string local = file;
    std::replace(local.begin(), local.end(), '\\', '/');
    if (exists(local))
        return local;
    // A relative name not found in the working folder: the copy shipped
    // next to the program.
    if (local[0] != '/') {
        const std::string shipped = Platform::ExecutableDirectory() + "/" + local;
        if (exists(shipped))
            return shipped;
    }
    return local;
}

std::string CDeviceDescriptor::GetName() const
{
    static const char* const missing = "\x01";
    std::string value;
    const size_t count = ReadProfileString(iniFile, "Coreco", "DeviceName", missing, value, 256);
    if (value == missing)
        throw CCommonException(0xCEF00001, 33, "DeviceDescriptor.cpp", "Device Description not found");
    if (count >= 255)
        throw CCommonException(0xCEF00001, 35, "DeviceDescriptor.cpp", "Internal Buffer Overflow");
    if (count == 0)
        throw CCommonException(0xCEF00001, 37, "DeviceDescriptor.cpp", "'DeviceName' not found");
    return value;
}

} // namespace Tav::Hal::Sapera
