#pragma once

// Device-change notifications. A window registers for the broadcasts of one
// open device handle or of one device-interface class; drivers raise the
// events (DeviceDriver.h) and each registered window is sent WM_DEVICECHANGE
// with the event as wParam and a pointer to the broadcast record as lParam,
// on the window's own thread.

#include "Platform/DeviceIo.h"
#include "Platform/Guid.h"
#include "Platform/MessageWindow.h"

#include <cstdint>

namespace Tav::Platform {

constexpr uint32_t DbtDeviceArrival = 0x8000;
constexpr uint32_t DbtDeviceQueryRemove = 0x8001;
constexpr uint32_t DbtDeviceQueryRemoveFailed = 0x8002;
constexpr uint32_t DbtDeviceRemoveComplete = 0x8004;

constexpr uint32_t DbtDevtypDeviceInterface = 5;
constexpr uint32_t DbtDevtypHandle = 6;

// Answer of a window that refuses a query remove.
constexpr intptr_t BroadcastQueryDeny = 0x424D5144;

using NotificationHandle = uintptr_t; // 0: none

struct DevBroadcastHeader {
    uint32_t size;
    uint32_t deviceType;
    uint32_t reserved;
};

struct DevBroadcastHandle {
    DevBroadcastHeader header{sizeof(DevBroadcastHandle), DbtDevtypHandle, 0};
    DeviceHandle handle = InvalidDeviceHandle;
    NotificationHandle notification = 0; // filled in broadcasts
};

struct DevBroadcastDeviceInterface {
    DevBroadcastHeader header{sizeof(DevBroadcastDeviceInterface), DbtDevtypDeviceInterface, 0};
    Guid classGuid;
    const char* name = nullptr; // device path, filled in broadcasts
};

// Registers `window` for the broadcasts the filter selects. 0 with the last
// error set: ErrorInvalidWindowHandle, ErrorInvalidHandle (a handle filter
// naming no open handle) or ErrorInvalidParameter (unknown filter).
NotificationHandle RegisterDeviceNotification(WindowHandle window, const DevBroadcastHeader* filter);

// False with ErrorInvalidHandle for an unknown or already removed handle.
bool UnregisterDeviceNotification(NotificationHandle notification);

} // namespace Tav::Platform
