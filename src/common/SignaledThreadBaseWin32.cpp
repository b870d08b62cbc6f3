#include "Common/SignaledThreadBaseWin32.h"

#include "Platform/Waitable.h"

#include <new>

namespace Tav {

CSignaledThreadBaseWin32::CSignaledThreadBaseWin32() : signalHandles(nullptr) {}

CSignaledThreadBaseWin32::~CSignaledThreadBaseWin32()
{
    RequestStop();
    if (!Join(stopTimeout))
        Terminate();
    WaitForAbandonedThreads();
    CSignaledThreadBaseWin32::CloseThreadResources();
}

void CSignaledThreadBaseWin32::CreateThreadResources()
{
    CSignaledThreadBase::CreateThreadResources();
    try {
        signalHandles = new (std::nothrow) Platform::Waitable*[signalCapacity];
        if (!signalHandles)
            throw CCommonException(0xCEF0000A, 36, "SignaledThreadWin32.cpp");
        for (int i = 0; i < signalCapacity; ++i)
            signalHandles[i] = nullptr;
        AddStopSignal();
    } catch (...) {
        CloseThreadResources();
        throw;
    }
}

void CSignaledThreadBaseWin32::CloseThreadResources()
{
    CSignaledThreadBase::CloseThreadResources();
    delete[] signalHandles;
    signalHandles = nullptr;
}

void CSignaledThreadBaseWin32::CreateSignal(int index)
{
    if (!signals || !signalHandles || index >= GetMaxSignals() || index >= signalCapacity || index < 0)
        throw CCommonException(0xCEF00000, 92, "SignaledThreadWin32.cpp");
    auto* signal = new (std::nothrow) CThreadSignalWin32;
    if (!signal)
        throw CCommonException(0xCEF0000A, 97, "SignaledThreadWin32.cpp");
    try {
        signal->Create();
    } catch (...) {
        delete signal;
        throw;
    }
    signals[index].signal = signal;
    signalHandles[index] = signal->GetHandle();
}

void CSignaledThreadBaseWin32::StartThread()
{
    Stop();
    for (int i = 0; i < signalCount; ++i)
        signals[i].signal->Reset();
    CSignaledThreadBase::StartThread();
}

void CSignaledThreadBaseWin32::Run()
{
    while (!IsStopRequested()) {
        uint32_t result = Platform::WaitForMultipleObjects(static_cast<uint32_t>(signalCount), signalHandles, false,
                                                           Platform::Infinite);
        uint32_t index = result - Platform::WaitObject0;
        if (index >= static_cast<uint32_t>(signalCount))
            throw CCommonException(0xCEF00202, 79, "SignaledThreadWin32.cpp");
        signals[index].signal->Reset();
        if (!OnSignal(signals[index].key))
            break;
    }
}

} // namespace Tav
