#include "Common/SignaledThreadBase.h"

#include <new>

namespace Tav {

CSignaledThreadBase::CSignaledThreadBase() : signals(nullptr), signalCount(0), signalCapacity(0) {}

CSignaledThreadBase::~CSignaledThreadBase()
{
    // The base destructor would only raise the flag; a worker blocked on its
    // signals needs the stop signal to see it.
    RequestStop();
    if (!Join(stopTimeout))
        Terminate();
    WaitForAbandonedThreads();
    CSignaledThreadBase::CloseThreadResources();
}

void CSignaledThreadBase::CreateThreadResources()
{
    CloseThreadResources();
    try {
        CThreadBase::CreateThreadResources();
        signalCapacity = GetMaxSignals();
        if (signalCapacity < 1)
            signalCapacity = 1;
        signals = new (std::nothrow) SignalEntry[signalCapacity];
        if (!signals)
            throw CCommonException(0xCEF0000A, 35, "SignaledThreadBase.cpp");
        for (int i = 0; i < signalCapacity; ++i)
            signals[i] = SignalEntry{nullptr, i, 0};
    } catch (...) {
        CloseThreadResources();
        throw;
    }
}

void CSignaledThreadBase::CloseThreadResources()
{
    if (!Stop()) {
        // The table must outlive a worker that is still waiting on it.
        Terminate();
        WaitForAbandonedThreads();
    }
    if (signals) {
        for (int i = 0; i < signalCount; ++i)
            delete signals[i].signal;
        delete[] signals;
        signals = nullptr;
    }
    signalCount = 0;
    signalCapacity = 0;
    CThreadBase::CloseThreadResources();
}

void CSignaledThreadBase::RequestStop()
{
    SetStopRequest();
    try {
        SetSignal(-1);
    } catch (const CException&) {
    }
}

bool CSignaledThreadBase::OnSignal(int key)
{
    if (key == -1)
        return OnStopSignal();
    throw CCommonException(0xCEF00000, 86, "TavSignaledThreadBase.cpp");
}

void CSignaledThreadBase::AddStopSignal()
{
    AddEntry(-1);
}

void CSignaledThreadBase::AddSignal(int key)
{
    if (key < 0)
        throw CCommonException(0xCEF00000, 74, "SignaledThreadBase.cpp");
    for (int i = 0; i < signalCount; ++i)
        if (signals[i].key == key)
            throw CCommonException(0xCEF00000, 77, "SignaledThreadBase.cpp");
    AddEntry(key);
}

void CSignaledThreadBase::AddEntry(int key)
{
    CreateSignal(signalCount);
    signals[signalCount].index = signalCount;
    signals[signalCount].key = key;
    ++signalCount;
}

void CSignaledThreadBase::SetSignal(int key)
{
    for (int i = 0; i < signalCount; ++i) {
        if (signals[i].key == key) {
            signals[i].signal->Set();
            return;
        }
    }
}

} // namespace Tav
