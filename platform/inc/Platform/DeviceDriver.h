#pragma once

// The driver side of device I/O: device drivers registered here serve the
// device-interface enumeration (DeviceInterfaces.h), open device paths and
// take the I/O control requests of DeviceIo.h; they raise device-change
// notifications (DeviceNotification.h) for their devices.

#include "Platform/Guid.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Tav::Platform {

class CompletionPort;
struct Overlapped;
class Event;

// One I/O control request. The driver finishes it exactly once with
// Complete; until then it may read the input and write the output.
class IoRequest {
public:
    uint32_t Code() const { return code; }
    const void* Input() const { return input; }
    uint32_t InputSize() const { return inputSize; }
    void* Output() const { return output; }
    uint32_t OutputSize() const { return outputSize; }
    // Names the issuing thread (as Mutex::CurrentThreadTag does).
    uint64_t Thread() const { return thread; }

    // Finishes the request with a status (0 success) and the bytes written
    // to the output. True for the call that finished it; later calls do
    // nothing and return false.
    bool Complete(uint32_t status, uint32_t bytes);
    bool IsComplete() const { return completed.load(std::memory_order_acquire); }

    ~IoRequest();

private:
    friend struct IoDispatch;
    IoRequest() = default;

    uint32_t code = 0;
    const void* input = nullptr;
    uint32_t inputSize = 0;
    void* output = nullptr;
    uint32_t outputSize = 0;
    uint64_t thread = 0;
    Overlapped* overlapped = nullptr;
    std::shared_ptr<CompletionPort> port;
    uintptr_t key = 0;
    std::unique_ptr<Event> done; // synchronous requests
    std::atomic<bool> completed{false};
    std::atomic<int> phase{0}; // 0 dispatching, 1 kept, 2 finished during dispatch
    uint32_t status = 0;
    uint32_t bytes = 0;
};

using IoRequestPtr = std::shared_ptr<IoRequest>;

// The driver's side of one open handle.
class DeviceFile {
public:
    virtual ~DeviceFile();
    // Identifies the device in notifications (BroadcastHandleEvent).
    virtual const void* Device() const = 0;
    // Takes a request: finish it before returning, or keep it and finish it later.
    virtual void Dispatch(const IoRequestPtr& request) = 0;
    // Finishes every kept request issued by `thread` (0: every one) with
    // ErrorOperationAborted before returning.
    virtual void Cancel(uint64_t thread) = 0;
    // The handle closes: finish every kept request before returning.
    virtual void Close() = 0;
};

class DeviceDriver {
public:
    virtual ~DeviceDriver();
    // Paths of the present interfaces of a class, in enumeration order.
    virtual std::vector<std::string> InterfacePaths(const Guid& interfaceClass) = 0;
    // Opens one of its paths (compared without regard to case); null with
    // `error` set otherwise (ErrorFileNotFound for a path it does not know).
    virtual std::shared_ptr<DeviceFile> Open(const std::string& path, uint32_t& error) = 0;
};

// Registering the same driver twice registers it once.
void RegisterDeviceDriver(const std::shared_ptr<DeviceDriver>& driver);
void UnregisterDeviceDriver(const DeviceDriver* driver);

// Sends the event to every window registered for a handle open on `device`
// (also one closed since, while its registration lasts), on the caller's
// thread waiting for each. False when a window answered BroadcastQueryDeny.
// Never call it while holding a lock a window procedure may need.
bool BroadcastHandleEvent(const void* device, uint32_t event);

// Sends an interface arrival or removal to the windows registered for the class.
void BroadcastInterfaceEvent(const Guid& interfaceClass, const std::string& path, uint32_t event);

} // namespace Tav::Platform
