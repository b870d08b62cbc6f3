#pragma once

// A native thread that runs one function, can be joined with a time-out and,
// when it will not end, abandoned: it then runs on detached and is never
// joined. The thread's end is a waitable event.

#include "Platform/Event.h"

#include <functional>
#include <memory>

namespace Tav::Platform {

enum class ThreadPriority { Normal, AboveNormal, Highest, TimeCritical };

class Thread {
public:
    Thread() = default;
    ~Thread();

    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // Starts `body` on a new thread. False, with the last error set, when the
    // system cannot start one. Fails with ErrorInvalidParameter while a
    // thread is attached.
    bool Start(std::function<void()> body);

    // True when no thread is attached or the thread ended within the time;
    // the thread is then reaped and detached from this object.
    bool Join(int32_t milliseconds);

    // Gives the thread up: it runs on, detached, and this object forgets it.
    void Abandon();

    bool IsAttached() const { return state != nullptr; }
    bool HasEnded() const;

    // Raises the calling thread's scheduling priority where the system lets
    // it; false (and nothing changed) otherwise.
    static bool SetCurrentPriority(ThreadPriority priority);
    static ThreadPriority GetCurrentPriority();
    // The calling thread's raw scheduling value (its nice value), for code
    // that must put back what a foreign library changed.
    static int GetCurrentSchedulingValue();
    static bool SetCurrentSchedulingValue(int value);

private:
    struct State;
    std::shared_ptr<State> state;
};

} // namespace Tav::Platform
