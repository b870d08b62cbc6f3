#pragma once

namespace Tav {

// Intrusive reference count shared by every data-buffer object. Objects are
// created with count 0; the holder that takes the first reference owns them,
// and the Release that brings the count to 0 deletes the object.
class IRefCounted {
public:
    // Return the new count.
    virtual int AddRef() = 0;
    virtual int Release() = 0;

protected:
    // Objects are deleted by their last Release, never through this interface.
    ~IRefCounted() = default;
};

} // namespace Tav
