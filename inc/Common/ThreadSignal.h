#pragma once

namespace Tav {

// An auto-reset event a worker thread waits on.
class CThreadSignal {
public:
    CThreadSignal() = default;
    virtual ~CThreadSignal() = default;

    CThreadSignal(const CThreadSignal&) = delete;
    CThreadSignal& operator=(const CThreadSignal&) = delete;

    virtual void Create() = 0;
    virtual void Close() = 0;
    // True when signalled within `milliseconds` (negative: no limit).
    virtual bool Wait(int milliseconds, bool reset) = 0;
    virtual void Set() = 0;
    virtual void Reset() = 0;
};

} // namespace Tav
