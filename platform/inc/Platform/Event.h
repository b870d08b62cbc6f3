#pragma once

// An event: manual-reset (stays set until reset; releases every waiter) or
// auto-reset (a satisfied wait resets it; releases one waiter).

#include "Platform/Waitable.h"

#include <atomic>

namespace Tav::Platform {

class Event final : public Waitable {
public:
    Event(bool manualReset, bool initiallySet);

    void Set()
    {
        // Already set: the state does not change and nobody waits for it.
        if (state.load(std::memory_order_seq_cst))
            return;
        state.store(true, std::memory_order_seq_cst);
        NotifyStateChanged();
    }
    // Sets the event without waking blocked waiters: for a caller whose next
    // step wakes them anyway (releasing a mutex does), so that a release
    // and a set cost one wake-up check together.
    void SetWithoutWaking() { state.store(true, std::memory_order_release); }
    void Reset()
    {
        if (state.load(std::memory_order_relaxed))
            state.store(false, std::memory_order_release);
    }
    bool IsSet() const { return state.load(std::memory_order_seq_cst); }
    // Takes the event as a satisfied wait would (an auto-reset event is
    // reset); never blocks.
    bool TryTake() { return TryAcquire(); }
    bool IsManualReset() const { return manualReset; }

private:
    bool TryAcquire() override;
    void UndoAcquire() override;

    const bool manualReset;
    std::atomic<bool> state;
};

} // namespace Tav::Platform
