#pragma once

#include "Core/DeviceDescriptor.h"

#include <string>

namespace Tav::Hal::Sapera {

// The descriptor of a Sapera frame grabber: its name is an ini file whose
// [Coreco] section names the device ("DeviceName"); GetName reads it.
class CDeviceDescriptor : public Tav::CDeviceDescriptor {
public:
    CDeviceDescriptor(std::string name, std::string description);

    // The ini file's [Coreco] DeviceName. Throws the common error 0xCEF00001
    // when the file, the section or the entry is missing, when the value
    // does not fit 254 characters, or when it is empty.
    std::string GetName() const override;

    // Reads `key` of `section` from an ini file as the Windows profile
    // functions do (names without regard to case, the value trimmed, one
    // pair of enclosing quotes removed) into at most `size` - 1 characters.
    // Returns the number of characters stored; `value` is `fallback` when
    // the file, the section or the key is missing.
    static size_t ReadProfileString(const std::string& file, const std::string& section, const std::string& key,
                                    const std::string& fallback, std::string& value, size_t size);

    // `file` as this platform opens it: a Windows path such as ".\Q7.ini"
    // that names no file as it stands is tried with '/' separators, and a
    // relative one missing from the working folder next to the program.
    static std::string LocalPath(const std::string& file);

private:
    std::string iniFile;
};

} // namespace Tav::Hal::Sapera
