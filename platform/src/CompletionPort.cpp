#include "Platform/CompletionPort.h"

#include "Platform/SystemError.h"

#include <chrono>
#include <new>

namespace Tav::Platform {

std::shared_ptr<CompletionPort> CompletionPort::Create()
{
    try {
        return std::shared_ptr<CompletionPort>(new CompletionPort);
    } catch (const std::bad_alloc&) {
        SetLastError(ErrorNotEnoughMemory);
        return nullptr;
    }
}

bool CompletionPort::Post(uint32_t bytes, uintptr_t key, Overlapped* overlapped)
{
    try {
        Enqueue(bytes, key, overlapped, ErrorSuccess);
        return true;
    } catch (const std::bad_alloc&) {
        SetLastError(ErrorNotEnoughMemory);
        return false;
    }
}

void CompletionPort::Enqueue(uint32_t bytes, uintptr_t key, Overlapped* overlapped, uint32_t status)
{
    {
        std::lock_guard<std::mutex> guard(mutex);
        packets.push_back(Packet{bytes, key, overlapped, status});
    }
    arrived.notify_one();
}

bool CompletionPort::Get(uint32_t& bytes, uintptr_t& key, Overlapped*& overlapped, int32_t milliseconds)
{
    std::unique_lock<std::mutex> lock(mutex);
    auto ready = [this] { return !packets.empty(); };
    if (milliseconds < 0)
        arrived.wait(lock, ready);
    else if (!arrived.wait_for(lock, std::chrono::milliseconds(milliseconds), ready)) {
        overlapped = nullptr;
        SetLastError(WaitTimeout);
        return false;
    }
    Packet p = packets.front();
    packets.pop_front();
    lock.unlock();
    bytes = p.bytes;
    key = p.key;
    overlapped = p.overlapped;
    SetLastError(p.status);
    return p.status == ErrorSuccess;
}

size_t CompletionPort::Pending() const
{
    std::lock_guard<std::mutex> guard(mutex);
    return packets.size();
}

} // namespace Tav::Platform
