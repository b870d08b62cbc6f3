#include "Platform/Thread.h"

#include "Platform/SystemError.h"

#include <cerrno>
#include <sys/resource.h>
#include <unistd.h>
#include <system_error>
#include <thread>

namespace Tav::Platform {

struct Thread::State {
    Event ended{true, false};
    std::thread thread;
};

namespace {
thread_local ThreadPriority currentPriority = ThreadPriority::Normal;
}

Thread::~Thread()
{
    // A thread still attached is given up rather than joined without limit;
    // its state lives on with it.
    Abandon();
}

bool Thread::Start(std::function<void()> body)
{
    if (state) {
        SetLastError(ErrorInvalidParameter);
        return false;
    }
    auto s = std::make_shared<State>();
    try {
        s->thread = std::thread([s, body = std::move(body)]() mutable {
            body();
            body = nullptr;
            s->ended.Set();
        });
    } catch (const std::system_error& e) {
        SetLastError(SystemErrorFromErrno(e.code().value()));
        return false;
    }
    state = std::move(s);
    return true;
}

bool Thread::Join(int32_t milliseconds)
{
    if (!state)
        return true;
    if (WaitForSingleObject(state->ended, milliseconds) != WaitObject0)
        return false;
    if (state->thread.joinable()) {
        if (state->thread.get_id() == std::this_thread::get_id())
            state->thread.detach();
        else
            state->thread.join();
    }
    state.reset();
    return true;
}

void Thread::Abandon()
{
    if (!state)
        return;
    if (state->thread.joinable())
        state->thread.detach();
    state.reset();
}

bool Thread::HasEnded() const
{
    return !state || state->ended.IsSet();
}

bool Thread::SetCurrentPriority(ThreadPriority priority)
{
    // Per-thread nice values: real-time scheduling could starve the desktop.
    int nice = 0;
    switch (priority) {
    case ThreadPriority::Normal: nice = 0; break;
    case ThreadPriority::AboveNormal: nice = -5; break;
    case ThreadPriority::Highest: nice = -10; break;
    case ThreadPriority::TimeCritical: nice = -15; break;
    }
    if (setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), nice) != 0) {
        SetLastError(SystemErrorFromErrno(errno));
        return false;
    }
    currentPriority = priority;
    return true;
}

int Thread::GetCurrentSchedulingValue()
{
    errno = 0;
    int value = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
    return errno == 0 ? value : 0;
}

bool Thread::SetCurrentSchedulingValue(int value)
{
    if (setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), value) != 0) {
        SetLastError(SystemErrorFromErrno(errno));
        return false;
    }
    return true;
}

ThreadPriority Thread::GetCurrentPriority()
{
    return currentPriority;
}

} // namespace Tav::Platform
