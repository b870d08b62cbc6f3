#pragma once

#include "Common/CriticalSection.h"

#include <mutex>

namespace Tav {

// The critical section on the platform's recursive mutex.
class CCriticalSectionWin32 : public CCriticalSection {
public:
    CCriticalSectionWin32() = default;
    ~CCriticalSectionWin32() override;

    void Create() override;
    void Delete() override;
    // Never tries: callers that poll fall back to Enter.
    bool TryEnter() override { return false; }
    void Enter() override { section.lock(); }
    void Leave() override { section.unlock(); }

private:
    std::recursive_mutex section;
};

} // namespace Tav
