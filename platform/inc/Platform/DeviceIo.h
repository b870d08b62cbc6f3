#pragma once

// Device handles and device I/O control, dispatched to the device drivers
// registered with the platform layer (DeviceDriver.h).
//
// A request is synchronous without an Overlapped record: the call returns
// when the driver has finished it. With a record it is overlapped: the call
// returns true when the driver finished it at once with success, false with
// ErrorIoPending when the driver keeps it, false with the driver's status
// when it failed at once. A kept or successful overlapped request signals
// the record's event (if any) when it finishes and, unless bit 0 of the
// event field is set, queues a packet on the completion port the handle is
// associated with. Statuses are system errors or driver codes, passed on
// unchanged.

#include "Platform/Event.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

namespace Tav::Platform {

class CompletionPort;

using DeviceHandle = intptr_t;
constexpr DeviceHandle InvalidDeviceHandle = -1;

// The record of one overlapped request. `internal` holds ErrorIoPending
// while the request runs, then its status; `internalHigh` the bytes
// transferred. Read both through RequestStatus/RequestBytes while a request
// may still be running.
struct Overlapped {
    uintptr_t internal = 0;
    uintptr_t internalHigh = 0;
    uint32_t offset = 0;
    uint32_t offsetHigh = 0;
    uintptr_t event = 0; // Event*, bit 0: no completion packet
};

inline uintptr_t OverlappedEvent(Event* event, bool noCompletionPacket)
{
    return reinterpret_cast<uintptr_t>(event) | (noCompletionPacket ? 1u : 0u);
}

uint32_t RequestStatus(const Overlapped& overlapped);
uint32_t RequestBytes(const Overlapped& overlapped);

// Opens a device path for reading and writing (shared, existing only,
// overlapped). InvalidDeviceHandle with the last error set on failure
// (ErrorFileNotFound when no driver knows the path).
DeviceHandle OpenDevice(const std::string& path);

// Closes the handle. Requests still kept by the driver finish (aborted)
// before this returns.
bool CloseDevice(DeviceHandle handle);

bool DeviceIoControl(DeviceHandle handle, uint32_t code, const void* input, uint32_t inputSize, void* output,
                     uint32_t outputSize, uint32_t* bytesReturned, Overlapped* overlapped);

// The result of an overlapped request. Without `wait`, a running request
// fails with ErrorIoIncomplete; with `wait`, the record's event is waited
// for (a record without event: ErrorInvalidParameter).
bool GetOverlappedResult(DeviceHandle handle, Overlapped* overlapped, uint32_t* bytesTransferred, bool wait);

// Asks the driver to abort the requests the calling thread issued on the
// handle; they finish with ErrorOperationAborted.
bool CancelIo(DeviceHandle handle);

// Completions of the handle's overlapped requests go to `port` with `key`.
// A handle is associated once (ErrorInvalidParameter afterwards).
bool AssociateDeviceWithPort(DeviceHandle handle, const std::shared_ptr<CompletionPort>& port, uintptr_t key);

} // namespace Tav::Platform
