#pragma once

// The per-user settings store: QSettings of organisation "Quarlo",
// application "Tav". A key path such as "Software\Quarlo\Tav\ImageViewer"
// names the group "ImageViewer"; values are integers or strings.

#include <cstdint>
#include <optional>
#include <string>

class QWidget;

namespace Tav {

class CSettingsKey {
public:
    explicit CSettingsKey(const std::string& keyPath);

    // The value, or nothing when it is missing or not an integer.
    std::optional<uint32_t> ReadDword(const char* name) const;
    // False when the store cannot be written.
    bool WriteDword(const char* name, uint32_t value);
    // The text, or nothing when it is missing or longer than `maxLength`
    // bytes (UTF-8).
    std::optional<std::string> ReadString(const char* name, size_t maxLength) const;
    bool WriteString(const char* name, const std::string& value);

    const std::string& Group() const { return group; }

private:
    std::string group;
};

// "Software\Quarlo\Tav\" followed by `componentName`.
std::string ComponentKeyPath(const std::string& componentName);

// Window placement as the values "left", "top", "right", "bottom" (the normal
// rectangle, right and bottom exclusive) and "showCmd" (1 normal, 3
// maximised, 6 minimised). Restore applies nothing unless all five exist.
bool RestoreWindowPlacement(QWidget& window, const std::string& keyPath);
void StoreWindowPlacement(const QWidget& window, const std::string& keyPath);

} // namespace Tav
