#pragma once

#include "DataBuffer/IRefCounted.h"

namespace Tav {

// A forward enumerator over a snapshot of elements.
template <class T>
class IEnumXxx : public IRefCounted {
public:
    using ElementType = T;

    // Stores the element at the cursor in `out` and advances; at the end,
    // stores an empty element. Returns whether an element was stored.
    virtual bool Next(T& out) = 0;
    virtual int GetCount() const = 0;

protected:
    ~IEnumXxx() = default;
};

} // namespace Tav
