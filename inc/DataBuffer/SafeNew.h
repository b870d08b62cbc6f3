#pragma once

#include <new>
#include <utility>

namespace Tav {

namespace Detail {
// Throws the common error 0xCEF0000A ("out of memory") for SafeNew.
[[noreturn]] void ThrowSafeNewFailure(int line);
}

// Allocates and constructs a T. Running out of memory, whether the
// allocation itself fails or T's constructor runs out, becomes the common
// error 0xCEF0000A; other exceptions from the constructor pass unchanged.
template <class T, typename... Args>
T* SafeNew(Args&&... args)
{
    T* object = nullptr;
    bool constructorOutOfMemory = false;
    try {
        object = new (std::nothrow) T(std::forward<Args>(args)...);
    } catch (const std::bad_alloc&) {
        constructorOutOfMemory = true;
    }
    // Thrown outside the handler: building the exception may allocate.
    if (constructorOutOfMemory)
        Detail::ThrowSafeNewFailure(62);
    if (!object)
        Detail::ThrowSafeNewFailure(55);
    return object;
}

} // namespace Tav
