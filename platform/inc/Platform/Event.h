#pragma once

// An event: manual-reset (stays set until reset; releases every waiter) or
// auto-reset (a satisfied wait resets it; releases one waiter).

#include "Platform/Waitable.h"

#include <atomic>

namespace Tav::Platform {

class Event final : public Waitable {
public:
    Event(bool manualReset, bool initiallySet);

    void Set();
    void Reset();
    bool IsSet() const { return state.load(std::memory_order_acquire); }
    bool IsManualReset() const { return manualReset; }

private:
    bool TryAcquire() override;
    void UndoAcquire() override;

    const bool manualReset;
    std::atomic<bool> state;
};

} // namespace Tav::Platform
