#pragma once

#include "Common/ThreadBaseWin32.h"

namespace Tav {

// A worker whose body waits on a small table of keyed signals and dispatches
// on the key of the one that fired. Key -1 is the stop signal, always entry
// 0, so it wins over pending work; user keys are >= 0 and unique.
class CSignaledThreadBase : public CThreadBaseWin32 {
public:
    struct SignalEntry {
        CThreadSignal* signal;
        int index;
        int key;
    };

    CSignaledThreadBase();
    ~CSignaledThreadBase() override;

    void CreateThreadResources() override;
    void CloseThreadResources() override;
    void RequestStop() override;

    virtual bool OnStopSignal() { return false; }
    // Capacity of the signal table, the stop signal included.
    virtual int GetMaxSignals() { return 1; }
    // Return false to end the loop.
    virtual bool OnSignal(int key);
    virtual void AddStopSignal();
    virtual void AddSignal(int key);
    virtual void CreateSignal(int index) = 0;

    // Sets the signal with `key`; unknown keys are ignored.
    void SetSignal(int key);

    int GetSignalCount() const { return signalCount; }

protected:
    SignalEntry* signals;
    int signalCount;
    int signalCapacity;

private:
    void AddEntry(int key);
};

} // namespace Tav
