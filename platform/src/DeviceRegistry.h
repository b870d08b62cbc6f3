#pragma once

// Shared state of the device stand-ins: registered drivers, open handles and
// notification registrations.

#include "Platform/DeviceDriver.h"
#include "Platform/DeviceIo.h"
#include "Platform/DeviceNotification.h"

#include <map>
#include <mutex>
#include <vector>

namespace Tav::Platform::Detail {

struct OpenHandle {
    std::shared_ptr<DeviceFile> file;
    std::shared_ptr<CompletionPort> port;
    uintptr_t key = 0;
};

struct Registration {
    WindowHandle window = 0;
    bool byHandle = false;
    DeviceHandle handle = InvalidDeviceHandle; // by handle
    const void* device = nullptr;              // by handle: the device it was open on
    Guid interfaceClass;                       // by class
};

struct DeviceRegistry {
    std::mutex mutex;
    std::vector<std::shared_ptr<DeviceDriver>> drivers;
    std::map<DeviceHandle, OpenHandle> handles;
    DeviceHandle nextHandle = 0x104;
    std::map<NotificationHandle, Registration> registrations;
    NotificationHandle nextNotification = 0x1000;
};

DeviceRegistry& Registry();

} // namespace Tav::Platform::Detail
