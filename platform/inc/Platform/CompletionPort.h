#pragma once

// An I/O completion port: a queue of completion packets (bytes transferred,
// key, request record and status) filled by finished overlapped requests of
// the devices associated with it (DeviceIo.h) and by Post, and emptied in
// order by Get. Any number of threads may post and get.

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <condition_variable>

namespace Tav::Platform {

struct Overlapped;

class CompletionPort {
public:
    // Null, with the last error set, when no port can be made.
    static std::shared_ptr<CompletionPort> Create();

    CompletionPort(const CompletionPort&) = delete;
    CompletionPort& operator=(const CompletionPort&) = delete;

    // Queues a packet with status success.
    bool Post(uint32_t bytes, uintptr_t key, Overlapped* overlapped);

    // Takes the oldest packet, waiting up to `milliseconds` (negative: no
    // limit). True for a packet of a successful request or a posted one.
    // False with `overlapped` non-null: a failed request, its status is the
    // last error. False with `overlapped` null: no packet; the last error is
    // WaitTimeout (258) after a time-out.
    bool Get(uint32_t& bytes, uintptr_t& key, Overlapped*& overlapped, int32_t milliseconds);

    // Packets waiting now.
    size_t Pending() const;

    // Queues a packet carrying `status` (used by finished device requests).
    void Enqueue(uint32_t bytes, uintptr_t key, Overlapped* overlapped, uint32_t status);

private:
    CompletionPort() = default;

    struct Packet {
        uint32_t bytes;
        uintptr_t key;
        Overlapped* overlapped;
        uint32_t status;
    };

    mutable std::mutex mutex;
    std::condition_variable arrived;
    std::deque<Packet> packets;
};

} // namespace Tav::Platform
