#include "Platform/DeviceNotification.h"

#include "DeviceRegistry.h"
#include "Platform/DeviceDriver.h"
#include "Platform/SystemError.h"

namespace Tav::Platform {

using Detail::Registry;

NotificationHandle RegisterDeviceNotification(WindowHandle window, const DevBroadcastHeader* filter)
{
    if (!IsWindow(window)) {
        SetLastError(ErrorInvalidWindowHandle);
        return 0;
    }
    if (!filter) {
        SetLastError(ErrorInvalidParameter);
        return 0;
    }
    Detail::Registration entry;
    entry.window = window;
    auto& r = Registry();
    std::lock_guard<std::mutex> guard(r.mutex);
    if (filter->deviceType == DbtDevtypHandle && filter->size >= sizeof(DevBroadcastHandle)) {
        const auto* f = reinterpret_cast<const DevBroadcastHandle*>(filter);
        auto it = r.handles.find(f->handle);
        if (it == r.handles.end()) {
            SetLastError(ErrorInvalidHandle);
            return 0;
        }
        entry.byHandle = true;
        entry.handle = f->handle;
        entry.device = it->second.file->Device();
    } else if (filter->deviceType == DbtDevtypDeviceInterface && filter->size >= sizeof(DevBroadcastDeviceInterface)) {
        entry.interfaceClass = reinterpret_cast<const DevBroadcastDeviceInterface*>(filter)->classGuid;
    } else {
        SetLastError(ErrorInvalidParameter);
        return 0;
    }
    NotificationHandle handle = r.nextNotification++;
    r.registrations[handle] = entry;
    SetLastError(ErrorSuccess);
    return handle;
}

bool UnregisterDeviceNotification(NotificationHandle notification)
{
    auto& r = Registry();
    std::lock_guard<std::mutex> guard(r.mutex);
    if (r.registrations.erase(notification) == 0) {
        SetLastError(ErrorInvalidHandle);
        return false;
    }
    return true;
}

namespace {

bool StillRegistered(NotificationHandle handle)
{
    auto& r = Registry();
    std::lock_guard<std::mutex> guard(r.mutex);
    return r.registrations.count(handle) != 0;
}

} // namespace

bool BroadcastHandleEvent(const void* device, uint32_t event)
{
    std::vector<std::pair<NotificationHandle, Detail::Registration>> targets;
    {
        auto& r = Registry();
        std::lock_guard<std::mutex> guard(r.mutex);
        for (const auto& [handle, entry] : r.registrations)
            if (entry.byHandle && entry.device == device)
                targets.emplace_back(handle, entry);
    }
    bool allowed = true;
    for (const auto& [handle, entry] : targets) {
        // An earlier recipient may have given this registration up.
        if (!StillRegistered(handle))
            continue;
        DevBroadcastHandle broadcast;
        broadcast.handle = entry.handle;
        broadcast.notification = handle;
        intptr_t answer = SendMessage(entry.window, WmDeviceChange, event, reinterpret_cast<intptr_t>(&broadcast));
        if (event == DbtDeviceQueryRemove && answer == BroadcastQueryDeny)
            allowed = false;
    }
    return allowed;
}

void BroadcastInterfaceEvent(const Guid& interfaceClass, const std::string& path, uint32_t event)
{
    std::vector<std::pair<NotificationHandle, WindowHandle>> targets;
    {
        auto& r = Registry();
        std::lock_guard<std::mutex> guard(r.mutex);
        for (const auto& [handle, entry] : r.registrations)
            if (!entry.byHandle && entry.interfaceClass == interfaceClass)
                targets.emplace_back(handle, entry.window);
    }
    for (const auto& [handle, window] : targets) {
        if (!StillRegistered(handle))
            continue;
        DevBroadcastDeviceInterface broadcast;
        broadcast.classGuid = interfaceClass;
        broadcast.name = path.c_str();
        SendMessage(window, WmDeviceChange, event, reinterpret_cast<intptr_t>(&broadcast));
    }
}

} // namespace Tav::Platform
