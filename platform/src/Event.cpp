#include "Platform/Event.h"

namespace Tav::Platform {

Event::Event(bool manualReset, bool initiallySet) : manualReset(manualReset), state(initiallySet) {}

bool Event::TryAcquire()
{
    if (manualReset)
        return state.load(std::memory_order_seq_cst);
    bool expected = true;
    return state.compare_exchange_strong(expected, false, std::memory_order_seq_cst);
}

void Event::UndoAcquire()
{
    if (!manualReset)
        state.store(true, std::memory_order_seq_cst);
}

} // namespace Tav::Platform
