#pragma once

#include <memory>

namespace Tav {

namespace Platform {
class Event;
class Mutex;
}

// Writer-preferring read-write lock from one mutex and two events. Any number
// of shared holders at once; one exclusive holder, never together with shared
// ones; a waiting exclusive locker holds off new shared lockers at once.
// Not re-entrant.
class CRWLock {
public:
    CRWLock();
    ~CRWLock();

    CRWLock(const CRWLock&) = delete;
    CRWLock& operator=(const CRWLock&) = delete;

    void Init();
    void Create();
    void Close();
    void LockShared();
    void LockExclusive();
    void Unlock();

    bool IsCreated() const { return created; }
    int GetSharedCount() const;
    int GetExclusiveCount() const;

private:
    std::unique_ptr<Platform::Mutex> mutex;
    std::unique_ptr<Platform::Event> noExclusive; // manual-reset, set while no writer holds or waits
    std::unique_ptr<Platform::Event> token;       // auto-reset, the right to hold exclusive access
    int sharedCount;
    int exclusiveCount;
    bool created;
};

// Scope guards pairing each lock call with one Unlock.
class CRWLockShared {
public:
    explicit CRWLockShared(CRWLock& lock) : lock(lock) { lock.LockShared(); }
    ~CRWLockShared() { lock.Unlock(); }
    CRWLockShared(const CRWLockShared&) = delete;
    CRWLockShared& operator=(const CRWLockShared&) = delete;

private:
    CRWLock& lock;
};

class CRWLockExclusive {
public:
    explicit CRWLockExclusive(CRWLock& lock) : lock(lock) { lock.LockExclusive(); }
    ~CRWLockExclusive() { lock.Unlock(); }
    CRWLockExclusive(const CRWLockExclusive&) = delete;
    CRWLockExclusive& operator=(const CRWLockExclusive&) = delete;

private:
    CRWLock& lock;
};

} // namespace Tav
