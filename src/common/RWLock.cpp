#include "Common/RWLock.h"

#include "Common/Exception.h"
#include "Platform/Event.h"
#include "Platform/Mutex.h"
#include "Platform/SystemError.h"

#include <new>

namespace Tav {

namespace {

template <typename T, typename... Args>
std::unique_ptr<T> CreateHandle(int line, Args... args)
{
    T* object = new (std::nothrow) T(args...);
    if (!object)
        throw CCommonException(Platform::ErrorNotEnoughMemory, line, "RWLock.cpp");
    return std::unique_ptr<T>(object);
}

// Locking a lock that was never created is a caller's fault; it must not
// crash the program.
void RequireCreated(bool created)
{
    if (!created)
        throw CCommonException(0xCEF00000, __LINE__, "RWLock.cpp");
}

void Take(Platform::Mutex& mutex)
{
    if (!mutex.TryLock())
        Platform::WaitForSingleObject(mutex, Platform::Infinite);
}

// Waits for `event` and `mutex` together, as one wait-all does: the mutex is
// taken only while the event is set. Uncontended, no wait is entered.
void TakeWhenSet(Platform::Event& event, Platform::Mutex& mutex)
{
    if (event.IsSet() && mutex.TryLock()) {
        if (event.IsSet())
            return;
        mutex.Release();
    }
    Platform::WaitForMultipleObjects({&event, &mutex}, true, Platform::Infinite);
}

// Waits for the auto-reset `event` and `mutex` together, consuming the event.
void TakeBoth(Platform::Event& event, Platform::Mutex& mutex)
{
    if (mutex.TryLock()) {
        if (event.TryTake())
            return;
        mutex.Release();
    }
    Platform::WaitForMultipleObjects({&event, &mutex}, true, Platform::Infinite);
}

} // namespace

CRWLock::CRWLock()
{
    Init();
}

CRWLock::~CRWLock()
{
    Close();
}

void CRWLock::Init()
{
    sharedCount = 0;
    exclusiveCount = 0;
    created = false;
}

void CRWLock::Create()
{
    if (created)
        return;
    auto m = CreateHandle<Platform::Mutex>(26);
    auto n = CreateHandle<Platform::Event>(29, true, true);
    auto t = CreateHandle<Platform::Event>(32, false, true);
    mutex = std::move(m);
    noExclusive = std::move(n);
    token = std::move(t);
    sharedCount = 0;
    exclusiveCount = 0;
    created = true;
}

void CRWLock::Close()
{
    if (!created)
        return;
    mutex.reset();
    noExclusive.reset();
    token.reset();
    created = false;
}

void CRWLock::LockShared()
{
    RequireCreated(created);
    TakeWhenSet(*noExclusive, *mutex);
    ++sharedCount;
    token->Reset();
    mutex->Release();
}

void CRWLock::LockExclusive()
{
    RequireCreated(created);
    Take(*mutex);
    ++exclusiveCount;
    noExclusive->Reset();
    mutex->Release();

    TakeBoth(*token, *mutex);
    mutex->Release();
}

void CRWLock::Unlock()
{
    RequireCreated(created);
    Take(*mutex);
    // The events are set quietly: releasing the mutex below wakes every
    // blocked waiter, and each of them waits for the mutex as well.
    if (sharedCount > 0) {
        if (--sharedCount == 0)
            token->SetWithoutWaking();
    } else {
        token->SetWithoutWaking();
        if (--exclusiveCount == 0)
            noExclusive->SetWithoutWaking();
    }
    mutex->Release();
}

int CRWLock::GetSharedCount() const
{
    RequireCreated(created);
    Take(*mutex);
    int n = sharedCount;
    mutex->Release();
    return n;
}

int CRWLock::GetExclusiveCount() const
{
    RequireCreated(created);
    Take(*mutex);
    int n = exclusiveCount;
    mutex->Release();
    return n;
}

} // namespace Tav
