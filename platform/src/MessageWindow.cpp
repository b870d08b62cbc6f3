#include "Platform/MessageWindow.h"

#include "Platform/Event.h"
#include "Platform/SystemError.h"

#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace Tav::Platform {

namespace {

struct SendState {
    Event done{true, false};
    intptr_t result = 0;
};

struct Item {
    WindowHandle window;
    uint32_t message;
    uintptr_t wParam;
    intptr_t lParam;
    std::shared_ptr<SendState> send; // null for posted messages
};

// The message queue of one thread, shared by its windows.
struct ThreadQueue {
    std::mutex mutex;
    std::condition_variable arrived;
    std::deque<Item> items;
    bool quit = false;
    int quitCode = 0;
    bool gone = false; // the thread has ended
};

struct Window {
    std::string name;
    WindowProcedure procedure;
    std::shared_ptr<ThreadQueue> queue;
    std::thread::id owner;
};

struct Windows {
    std::mutex mutex;
    std::map<WindowHandle, std::shared_ptr<Window>> windows;
    WindowHandle next = 0x10010;
};

Windows& All()
{
    static Windows* all = new Windows; // used during exit by other threads
    return *all;
}

void AnswerAll(ThreadQueue& q)
{
    std::deque<Item> left;
    {
        std::lock_guard<std::mutex> guard(q.mutex);
        left.swap(q.items);
    }
    for (Item& item : left)
        if (item.send)
            item.send->done.Set();
}

// Ends the windows of a thread when it ends; senders waiting get 0.
struct ThreadWindows {
    std::shared_ptr<ThreadQueue> queue;
    ~ThreadWindows()
    {
        if (!queue)
            return;
        {
            Windows& w = All();
            std::lock_guard<std::mutex> guard(w.mutex);
            std::erase_if(w.windows, [this](const auto& entry) { return entry.second->queue == queue; });
        }
        {
            std::lock_guard<std::mutex> guard(queue->mutex);
            queue->gone = true;
        }
        AnswerAll(*queue);
    }
};

thread_local ThreadWindows current;

ThreadQueue& CurrentQueue()
{
    if (!current.queue)
        current.queue = std::make_shared<ThreadQueue>();
    return *current.queue;
}

std::shared_ptr<Window> Find(WindowHandle handle)
{
    Windows& w = All();
    std::lock_guard<std::mutex> guard(w.mutex);
    auto it = w.windows.find(handle);
    return it == w.windows.end() ? nullptr : it->second;
}

intptr_t Call(WindowHandle handle, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    WindowProcedure procedure;
    {
        Windows& w = All();
        std::lock_guard<std::mutex> guard(w.mutex);
        auto it = w.windows.find(handle);
        if (it == w.windows.end())
            return 0;
        procedure = it->second->procedure;
    }
    if (!procedure)
        return DefaultWindowProcedure(handle, message, wParam, lParam);
    return procedure(handle, message, wParam, lParam);
}

bool Enqueue(const std::shared_ptr<Window>& window, Item item)
{
    ThreadQueue& q = *window->queue;
    {
        std::lock_guard<std::mutex> guard(q.mutex);
        if (q.gone)
            return false;
        q.items.push_back(std::move(item));
    }
    q.arrived.notify_one();
    return true;
}

} // namespace

WindowHandle CreateMessageWindow(const std::string& name, WindowProcedure procedure)
{
    auto window = std::make_shared<Window>();
    window->name = name;
    window->procedure = std::move(procedure);
    CurrentQueue();
    window->queue = current.queue;
    window->owner = std::this_thread::get_id();
    Windows& w = All();
    std::lock_guard<std::mutex> guard(w.mutex);
    WindowHandle handle = w.next;
    w.next += 2;
    w.windows[handle] = std::move(window);
    SetLastError(ErrorSuccess);
    return handle;
}

bool IsWindow(WindowHandle window)
{
    return window && Find(window) != nullptr;
}

bool SetWindowProcedure(WindowHandle handle, WindowProcedure procedure, WindowProcedure* previous)
{
    Windows& w = All();
    std::lock_guard<std::mutex> guard(w.mutex);
    auto it = w.windows.find(handle);
    if (it == w.windows.end()) {
        SetLastError(ErrorInvalidWindowHandle);
        return false;
    }
    if (previous)
        *previous = std::move(it->second->procedure);
    it->second->procedure = std::move(procedure);
    return true;
}

intptr_t DefaultWindowProcedure(WindowHandle window, uint32_t message, uintptr_t, intptr_t)
{
    if (message == WmClose)
        DestroyWindow(window);
    return 0;
}

bool PostMessage(WindowHandle handle, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    auto window = Find(handle);
    if (!window || !Enqueue(window, Item{handle, message, wParam, lParam, nullptr})) {
        SetLastError(ErrorInvalidWindowHandle);
        return false;
    }
    return true;
}

intptr_t SendMessage(WindowHandle handle, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    auto window = Find(handle);
    if (!window) {
        SetLastError(ErrorInvalidWindowHandle);
        return 0;
    }
    if (window->owner == std::this_thread::get_id())
        return Call(handle, message, wParam, lParam);
    auto send = std::make_shared<SendState>();
    if (!Enqueue(window, Item{handle, message, wParam, lParam, send}))
        return 0;
    WaitForSingleObject(send->done, Infinite);
    return send->result;
}

bool DestroyWindow(WindowHandle handle)
{
    auto window = Find(handle);
    if (!window) {
        SetLastError(ErrorInvalidWindowHandle);
        return false;
    }
    if (window->owner != std::this_thread::get_id()) {
        SetLastError(ErrorAccessDenied);
        return false;
    }
    Call(handle, WmDestroy, 0, 0);
    Windows& w = All();
    std::lock_guard<std::mutex> guard(w.mutex);
    w.windows.erase(handle);
    return true;
}

void PostQuitMessage(int code)
{
    ThreadQueue& q = CurrentQueue();
    {
        std::lock_guard<std::mutex> guard(q.mutex);
        q.quit = true;
        q.quitCode = code;
    }
    q.arrived.notify_one();
}

int RunMessageLoop()
{
    ThreadQueue& q = CurrentQueue();
    for (;;) {
        Item item;
        {
            std::unique_lock<std::mutex> lock(q.mutex);
            q.arrived.wait(lock, [&q] { return q.quit || !q.items.empty(); });
            // Like WM_QUIT, the quit request comes after what was queued before it.
            if (q.items.empty()) {
                q.quit = false;
                return q.quitCode;
            }
            item = std::move(q.items.front());
            q.items.pop_front();
        }
        intptr_t result = Call(item.window, item.message, item.wParam, item.lParam);
        if (item.send) {
            item.send->result = result;
            item.send->done.Set();
        }
    }
}

} // namespace Tav::Platform
