#pragma once

namespace Tav {

// Called by the GUI thread's message loop whenever its queue has run empty,
// to refresh command states. Runs on the GUI thread.
class IIdleHandler {
public:
    // True when more idle work is wanted.
    virtual bool OnIdle() = 0;
    virtual ~IIdleHandler() = default;
};

} // namespace Tav
