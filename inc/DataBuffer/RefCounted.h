#pragma once

#include "DataBuffer/NotCopyable.h"

#include <atomic>
#include <type_traits>
#include <utility>

// Implements IRefCounted for T with an interlocked count. Instances start at
// count 0 and are meant to be created through Tav::SafeNew and handed to a
// Tav::CSmartPointer at once.
template <class T>
class CRefCounted : public T, public CNotCopyable {
public:
    template <typename... Args,
              typename = std::enable_if_t<!(sizeof...(Args) == 1 &&
                                            (std::is_base_of_v<CRefCounted, std::decay_t<Args>> && ...))>>
    explicit CRefCounted(Args&&... args) : T(std::forward<Args>(args)...)
    {
    }

    int AddRef() override { return refCount.fetch_add(1, std::memory_order_relaxed) + 1; }

    int Release() override
    {
        // acq_rel: the deleting thread must see every write made through
        // other references before they were released.
        int count = refCount.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (count == 0)
            DeleteThis();
        return count;
    }

    virtual void DeleteThis()
    {
        static_assert(std::has_virtual_destructor_v<T>,
                      "a reference-counted class needs a virtual destructor");
        delete this;
    }

    // For diagnostics and tests; stale as soon as it is read.
    int GetRefCount() const { return refCount.load(std::memory_order_relaxed); }

protected:
    std::atomic<int> refCount{0};
};
