#pragma once

#include <cstddef>
#include <type_traits>
#include <utility>

namespace Tav {

// Holds one reference on an intrusively counted T (anything with AddRef and
// Release). Null means "none" and is allowed everywhere.
template <class T>
class CSmartPointer {
public:
    using ElementType = T;

    CSmartPointer() noexcept : pointer(nullptr) {}
    CSmartPointer(std::nullptr_t) noexcept : pointer(nullptr) {}

    // Takes a new reference on `p`.
    CSmartPointer(T* p) noexcept : pointer(p)
    {
        if (pointer)
            pointer->AddRef();
    }

    CSmartPointer(const CSmartPointer& other) noexcept : CSmartPointer(other.pointer) {}
    CSmartPointer(CSmartPointer&& other) noexcept : pointer(other.pointer) { other.pointer = nullptr; }

    template <class U, typename = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    CSmartPointer(const CSmartPointer<U>& other) noexcept : CSmartPointer(static_cast<T*>(other.Get()))
    {
    }

    template <class U, typename = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    CSmartPointer(CSmartPointer<U>&& other) noexcept : pointer(other.Detach())
    {
    }

    ~CSmartPointer()
    {
        if (pointer)
            pointer->Release();
    }

    // The new pointer is referenced before the old one is released, so
    // assigning an object to a pointer that holds it is safe.
    CSmartPointer& operator=(T* p) noexcept
    {
        if (p)
            p->AddRef();
        T* old = pointer;
        pointer = p;
        if (old)
            old->Release();
        return *this;
    }

    CSmartPointer& operator=(const CSmartPointer& other) noexcept { return *this = other.pointer; }

    CSmartPointer& operator=(CSmartPointer&& other) noexcept
    {
        if (this != &other) {
            T* old = pointer;
            pointer = other.pointer;
            other.pointer = nullptr;
            if (old)
                old->Release();
        }
        return *this;
    }

    template <class U, typename = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    CSmartPointer& operator=(const CSmartPointer<U>& other) noexcept
    {
        return *this = static_cast<T*>(other.Get());
    }

    CSmartPointer& operator=(std::nullptr_t) noexcept
    {
        Reset();
        return *this;
    }

    void Reset() noexcept
    {
        T* old = pointer;
        pointer = nullptr;
        if (old)
            old->Release();
    }

    // Adopts a reference the caller already owns (no AddRef).
    void Attach(T* p) noexcept
    {
        T* old = pointer;
        pointer = p;
        if (old)
            old->Release();
    }

    // Gives up the held reference to the caller (no Release).
    T* Detach() noexcept
    {
        T* p = pointer;
        pointer = nullptr;
        return p;
    }

    T* Get() const noexcept { return pointer; }
    T* operator->() const noexcept { return pointer; }
    T& operator*() const noexcept { return *pointer; }
    operator T*() const noexcept { return pointer; }

    bool IsNull() const noexcept { return pointer == nullptr; }

    void Swap(CSmartPointer& other) noexcept { std::swap(pointer, other.pointer); }

private:
    T* pointer;
};

} // namespace Tav
