#include "SettingsKey.h"

#include <QMetaObject>
#include <QRect>
#include <QSettings>
#include <QString>
#include <QWidget>

namespace Tav {

namespace {

constexpr char rootPath[] = "Software\\Quarlo\\Tav";
constexpr uint32_t ShowNormal = 1;
constexpr uint32_t ShowMaximized = 3;
constexpr uint32_t ShowMinimized = 6;

QSettings OpenStore()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, "Quarlo", "Tav");
}

QString Key(const std::string& group, const char* name)
{
    return QString::fromStdString(group) + "/" + QString::fromLatin1(name);
}

} // namespace

CSettingsKey::CSettingsKey(const std::string& keyPath)
{
    std::string path = keyPath;
    const std::string root = rootPath;
    if (path.compare(0, root.size(), root) == 0)
        path.erase(0, root.size());
    for (char& c : path)
        if (c == '\\')
            c = '/';
    while (!path.empty() && path.front() == '/')
        path.erase(path.begin());
    group = path;
}

std::optional<uint32_t> CSettingsKey::ReadDword(const char* name) const
{
    QSettings store = OpenStore();
    QVariant value = store.value(Key(group, name));
    if (!value.isValid())
        return std::nullopt;
    bool ok = false;
    qlonglong number = value.toLongLong(&ok);
    if (!ok || number < INT32_MIN || number > UINT32_MAX)
        return std::nullopt;
    return static_cast<uint32_t>(number);
}

bool CSettingsKey::WriteDword(const char* name, uint32_t value)
{
    QSettings store = OpenStore();
    store.setValue(Key(group, name), qlonglong(value));
    store.sync();
    return store.status() == QSettings::NoError;
}

std::optional<std::string> CSettingsKey::ReadString(const char* name, size_t maxLength) const
{
    QSettings store = OpenStore();
    QVariant value = store.value(Key(group, name));
    // Numbers and string lists are no file names.
    if (!value.isValid() || value.typeId() != QMetaType::QString)
        return std::nullopt;
    std::string text = value.toString().toStdString();
    if (text.size() > maxLength)
        return std::nullopt;
    return text;
}

bool CSettingsKey::WriteString(const char* name, const std::string& value)
{
    QSettings store = OpenStore();
    store.setValue(Key(group, name), QString::fromStdString(value));
    store.sync();
    return store.status() == QSettings::NoError;
}

std::string ComponentKeyPath(const std::string& componentName)
{
    return std::string(rootPath) + "\\" + componentName;
}

bool RestoreWindowPlacement(QWidget& window, const std::string& keyPath)
{
    CSettingsKey key(keyPath);
    auto left = key.ReadDword("left");
    auto right = key.ReadDword("right");
    auto top = key.ReadDword("top");
    auto bottom = key.ReadDword("bottom");
    auto showCmd = key.ReadDword("showCmd");
    if (!left || !right || !top || !bottom || !showCmd)
        return false;
    int l = int32_t(*left), t = int32_t(*top), r = int32_t(*right), b = int32_t(*bottom);
    if (r <= l || b <= t)
        return false;
    window.setGeometry(QRect(l, t, r - l, b - t));
    // Like the posted system commands, the state change follows later.
    if (*showCmd == ShowMaximized)
        QMetaObject::invokeMethod(&window, [w = &window] { w->setWindowState(w->windowState() | Qt::WindowMaximized); },
                                  Qt::QueuedConnection);
    else if (*showCmd == ShowMinimized)
        QMetaObject::invokeMethod(&window, [w = &window] { w->setWindowState(w->windowState() | Qt::WindowMinimized); },
                                  Qt::QueuedConnection);
    return true;
}

void StoreWindowPlacement(const QWidget& window, const std::string& keyPath)
{
    QRect normal = window.normalGeometry();
    if (!normal.isValid())
        normal = window.geometry();
    uint32_t showCmd = window.isMaximized() ? ShowMaximized : window.isMinimized() ? ShowMinimized : ShowNormal;
    CSettingsKey key(keyPath);
    key.WriteDword("left", uint32_t(normal.left())) && key.WriteDword("right", uint32_t(normal.left() + normal.width())) &&
        key.WriteDword("top", uint32_t(normal.top())) &&
        key.WriteDword("bottom", uint32_t(normal.top() + normal.height())) && key.WriteDword("showCmd", showCmd);
}

} // namespace Tav
