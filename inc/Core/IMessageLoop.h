#pragma once

namespace Tav {

class IIdleHandler;
class IMessageFilter;

// The message loop of a GUI thread as components see it: they add their
// filters and idle handlers to the loop of the thread that creates them.
class IMessageLoop {
public:
    // False when `filter` is null or already added.
    virtual bool AddMessageFilter(IMessageFilter* filter) = 0;
    // False when `filter` was not added.
    virtual bool RemoveMessageFilter(IMessageFilter* filter) = 0;
    virtual bool AddIdleHandler(IIdleHandler* handler) = 0;
    virtual bool RemoveIdleHandler(IIdleHandler* handler) = 0;
    virtual ~IMessageLoop() = default;
};

// Registers `loop` as the calling thread's loop; false when the thread
// already has one or `loop` is null.
bool AddMessageLoop(IMessageLoop* loop);
// Unregisters the calling thread's loop; false when it has none.
bool RemoveMessageLoop();
// The calling thread's loop, or null.
IMessageLoop* GetMessageLoop();

} // namespace Tav
