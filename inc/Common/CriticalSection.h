#pragma once

namespace Tav {

// A mutual-exclusion lock with an explicit create/delete life. Re-entrant:
// the holder may enter again and leaves once per entry.
class CCriticalSection {
public:
    CCriticalSection() = default;
    virtual ~CCriticalSection() = default;

    CCriticalSection(const CCriticalSection&) = delete;
    CCriticalSection& operator=(const CCriticalSection&) = delete;

    virtual void Create() { created = true; }
    virtual void Delete() { created = false; }
    virtual bool TryEnter() = 0;
    virtual void Enter() = 0;
    virtual void Leave() = 0;

    bool IsCreated() const { return created; }

protected:
    bool created = false;
};

// Scope guard: enters on construction, leaves on destruction.
class CCriticalSectionLock {
public:
    explicit CCriticalSectionLock(CCriticalSection& section) : section(section) { section.Enter(); }
    ~CCriticalSectionLock() { section.Leave(); }
    CCriticalSectionLock(const CCriticalSectionLock&) = delete;
    CCriticalSectionLock& operator=(const CCriticalSectionLock&) = delete;

private:
    CCriticalSection& section;
};

} // namespace Tav
