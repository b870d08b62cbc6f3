#pragma once

// Base that forbids copying; reference-counted objects have identity.
class CNotCopyable {
protected:
    CNotCopyable() = default;
    ~CNotCopyable() = default;

public:
    CNotCopyable(const CNotCopyable&) = delete;
    CNotCopyable& operator=(const CNotCopyable&) = delete;
};
