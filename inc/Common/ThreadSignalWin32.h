#pragma once

#include "Common/ThreadSignal.h"

#include <memory>

namespace Tav {

namespace Platform {
class Event;
class Waitable;
}

class CThreadSignalWin32 : public CThreadSignal {
public:
    CThreadSignalWin32();
    ~CThreadSignalWin32() override;

    void Create() override;
    void Close() override;
    bool Wait(int milliseconds, bool reset) override;
    void Set() override;
    void Reset() override;

    // The event for multi-object waits; null when not created.
    Platform::Waitable* GetHandle() const;

private:
    std::unique_ptr<Platform::Event> event;
};

} // namespace Tav
