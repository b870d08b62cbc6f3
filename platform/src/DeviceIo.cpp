#include "Platform/DeviceIo.h"

#include "DeviceRegistry.h"
#include "Platform/CompletionPort.h"
#include "Platform/Mutex.h"
#include "Platform/SystemError.h"

#include <algorithm>
#include <new>

namespace Tav::Platform {

namespace Detail {

DeviceRegistry& Registry()
{
    static DeviceRegistry* registry = new DeviceRegistry; // outlives every static user
    return *registry;
}

} // namespace Detail

using Detail::Registry;

DeviceFile::~DeviceFile() = default;
DeviceDriver::~DeviceDriver() = default;
IoRequest::~IoRequest() = default;

struct IoDispatch {
    static IoRequestPtr Make()
    {
        return IoRequestPtr(new IoRequest);
    }

    static bool Issue(DeviceHandle handle, uint32_t code, const void* input, uint32_t inputSize, void* output,
                      uint32_t outputSize, uint32_t* bytesReturned, Overlapped* overlapped);

    // Publishes the result of a request finished after its dispatch.
    static void Finish(IoRequest& r)
    {
        if (r.overlapped) {
            Overlapped* o = r.overlapped;
            // The record may be freed as soon as the packet is out.
            const uintptr_t event = o->event;
            std::atomic_ref<uintptr_t>(o->internalHigh).store(r.bytes, std::memory_order_relaxed);
            std::atomic_ref<uintptr_t>(o->internal).store(r.status, std::memory_order_release);
            if (r.port && !(event & 1u))
                r.port->Enqueue(r.bytes, r.key, o, r.status);
            if (Event* e = reinterpret_cast<Event*>(event & ~uintptr_t(1)))
                e->Set();
        }
        if (r.done)
            r.done->Set();
    }
};

bool IoRequest::Complete(uint32_t result, uint32_t transferred)
{
    bool expected = false;
    if (!completed.compare_exchange_strong(expected, true, std::memory_order_acq_rel))
        return false;
    status = result;
    bytes = std::min(transferred, outputSize);
    int dispatching = 0;
    // Finished while the driver still has it in Dispatch: the issuing call reports it.
    if (phase.compare_exchange_strong(dispatching, 2, std::memory_order_acq_rel))
        return true;
    IoDispatch::Finish(*this);
    return true;
}

uint32_t RequestStatus(const Overlapped& overlapped)
{
    return static_cast<uint32_t>(
        std::atomic_ref<uintptr_t>(const_cast<uintptr_t&>(overlapped.internal)).load(std::memory_order_acquire));
}

uint32_t RequestBytes(const Overlapped& overlapped)
{
    RequestStatus(overlapped);
    return static_cast<uint32_t>(
        std::atomic_ref<uintptr_t>(const_cast<uintptr_t&>(overlapped.internalHigh)).load(std::memory_order_relaxed));
}

namespace {

bool FindHandle(DeviceHandle handle, Detail::OpenHandle& found)
{
    auto& r = Registry();
    std::lock_guard<std::mutex> guard(r.mutex);
    auto it = r.handles.find(handle);
    if (it == r.handles.end()) {
        SetLastError(ErrorInvalidHandle);
        return false;
    }
    found = it->second;
    return true;
}

} // namespace

bool IoDispatch::Issue(DeviceHandle handle, uint32_t code, const void* input, uint32_t inputSize, void* output,
                     uint32_t outputSize, uint32_t* bytesReturned, Overlapped* overlapped)
{
    Detail::OpenHandle h;
    if (!FindHandle(handle, h))
        return false;
    IoRequestPtr request;
    try {
        request = IoDispatch::Make();
        if (!overlapped)
            request->done = std::make_unique<Event>(true, false);
    } catch (const std::bad_alloc&) {
        SetLastError(ErrorNotEnoughMemory);
        return false;
    }
    IoRequest& r = *request;
    r.code = code;
    r.input = input;
    r.inputSize = input ? inputSize : 0;
    r.output = output;
    r.outputSize = output ? outputSize : 0;
    r.thread = Mutex::CurrentThreadTag();
    r.overlapped = overlapped;
    r.port = h.port;
    r.key = h.key;
    if (overlapped) {
        overlapped->internalHigh = 0;
        std::atomic_ref<uintptr_t>(overlapped->internal).store(ErrorIoPending, std::memory_order_relaxed);
    }
    if (bytesReturned)
        *bytesReturned = 0;

    h.file->Dispatch(request);

    int dispatching = 0;
    if (r.phase.compare_exchange_strong(dispatching, 1, std::memory_order_acq_rel)) {
        // Kept by the driver.
        if (overlapped) {
            SetLastError(ErrorIoPending);
            return false;
        }
        WaitForSingleObject(*r.done, Infinite);
    } else if (overlapped) {
        // Finished at once: a success still reaches the port and the event,
        // a failure reaches neither.
        if (r.status == ErrorSuccess) {
            IoDispatch::Finish(r);
        } else {
            overlapped->internalHigh = r.bytes;
            std::atomic_ref<uintptr_t>(overlapped->internal).store(r.status, std::memory_order_release);
        }
    }
    if (bytesReturned)
        *bytesReturned = r.bytes;
    SetLastError(r.status);
    return r.status == ErrorSuccess;
}

bool DeviceIoControl(DeviceHandle handle, uint32_t code, const void* input, uint32_t inputSize, void* output,
                     uint32_t outputSize, uint32_t* bytesReturned, Overlapped* overlapped)
{
    return IoDispatch::Issue(handle, code, input, inputSize, output, outputSize, bytesReturned, overlapped);
}

void RegisterDeviceDriver(const std::shared_ptr<DeviceDriver>& driver)
{
    auto& r = Registry();
    std::lock_guard<std::mutex> guard(r.mutex);
    if (driver && std::find(r.drivers.begin(), r.drivers.end(), driver) == r.drivers.end())
        r.drivers.push_back(driver);
}

void UnregisterDeviceDriver(const DeviceDriver* driver)
{
    auto& r = Registry();
    std::lock_guard<std::mutex> guard(r.mutex);
    std::erase_if(r.drivers, [driver](const auto& d) { return d.get() == driver; });
}

DeviceHandle OpenDevice(const std::string& path)
{
    std::vector<std::shared_ptr<DeviceDriver>> drivers;
    {
        auto& r = Registry();
        std::lock_guard<std::mutex> guard(r.mutex);
        drivers = r.drivers;
    }
    uint32_t error = ErrorFileNotFound;
    try {
        for (const auto& driver : drivers) {
            uint32_t e = ErrorFileNotFound;
            std::shared_ptr<DeviceFile> file = driver->Open(path, e);
            if (file) {
                auto& r = Registry();
                std::lock_guard<std::mutex> guard(r.mutex);
                DeviceHandle handle = r.nextHandle;
                r.nextHandle += 4;
                r.handles[handle].file = std::move(file);
                SetLastError(ErrorSuccess);
                return handle;
            }
            if (e != ErrorFileNotFound)
                error = e;
        }
    } catch (const std::bad_alloc&) {
        error = ErrorNotEnoughMemory;
    }
    SetLastError(error);
    return InvalidDeviceHandle;
}

bool CloseDevice(DeviceHandle handle)
{
    std::shared_ptr<DeviceFile> file;
    {
        auto& r = Registry();
        std::lock_guard<std::mutex> guard(r.mutex);
        auto it = r.handles.find(handle);
        if (it == r.handles.end()) {
            SetLastError(ErrorInvalidHandle);
            return false;
        }
        file = std::move(it->second.file);
        r.handles.erase(it);
    }
    file->Close();
    SetLastError(ErrorSuccess);
    return true;
}

bool GetOverlappedResult(DeviceHandle handle, Overlapped* overlapped, uint32_t* bytesTransferred, bool wait)
{
    if (!overlapped) {
        SetLastError(ErrorInvalidParameter);
        return false;
    }
    uint32_t status = RequestStatus(*overlapped);
    if (status == ErrorIoPending) {
        if (!wait) {
            SetLastError(ErrorIoIncomplete);
            return false;
        }
        auto* event = reinterpret_cast<Event*>(overlapped->event & ~uintptr_t(1));
        if (!event) {
            SetLastError(ErrorInvalidParameter);
            return false;
        }
        while ((status = RequestStatus(*overlapped)) == ErrorIoPending)
            WaitForSingleObject(*event, Infinite);
    }
    if (bytesTransferred)
        *bytesTransferred = RequestBytes(*overlapped);
    SetLastError(status);
    return status == ErrorSuccess;
}

bool CancelIo(DeviceHandle handle)
{
    Detail::OpenHandle h;
    if (!FindHandle(handle, h))
        return false;
    h.file->Cancel(Mutex::CurrentThreadTag());
    SetLastError(ErrorSuccess);
    return true;
}

bool AssociateDeviceWithPort(DeviceHandle handle, const std::shared_ptr<CompletionPort>& port, uintptr_t key)
{
    auto& r = Registry();
    std::lock_guard<std::mutex> guard(r.mutex);
    auto it = r.handles.find(handle);
    if (it == r.handles.end()) {
        SetLastError(ErrorInvalidHandle);
        return false;
    }
    if (!port || it->second.port) {
        SetLastError(ErrorInvalidParameter);
        return false;
    }
    it->second.port = port;
    it->second.key = key;
    SetLastError(ErrorSuccess);
    return true;
}

} // namespace Tav::Platform
