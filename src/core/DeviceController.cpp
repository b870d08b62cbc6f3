#include "Core/DeviceController.h"

#include "Core/Crc16.h"
#include "Core/DeviceDescriptor.h"
#include "Core/HalPlugin.h"
#include "Core/IFactory.h"
#include "Core/IModule.h"
#include "Core/RegisterRequest.h"
#include "DataBuffer/Guid.h"
#include "DataBuffer/Packet.h"
#include "DataBuffer/ValueChunk.h"

#include <cstring>
#include <new>
#include <vector>

namespace Tav {

namespace {

constexpr const char* sourceFile = "DeviceController.cpp";

enum MarkerAction { NoMarker = 0, MarkStart = 1, MarkEnd = 2 };

// Row: old state, column: new state. Unexpected transitions get no marker.
constexpr MarkerAction markerActions[5][5] = {
    {NoMarker, NoMarker, NoMarker, NoMarker, NoMarker},
    {NoMarker, NoMarker, MarkStart, MarkStart, NoMarker},
    {NoMarker, MarkEnd, NoMarker, NoMarker, MarkEnd},
    {NoMarker, MarkEnd, NoMarker, NoMarker, MarkEnd},
    {NoMarker, NoMarker, NoMarker, NoMarker, NoMarker},
};

MarkerAction MarkerFor(int oldState, int newState)
{
    if (oldState < 0 || oldState > 4 || newState < 0 || newState > 4)
        return NoMarker;
    return markerActions[oldState][newState];
}

// Keeps a block locked for a scope.
struct CBlockLock {
    explicit CBlockLock(IMemBlock* block) : block(block), data(block->Lock()) {}
    ~CBlockLock() { block->Unlock(); }
    IMemBlock* block;
    void* data;
};

} // namespace

CDeviceController::CDeviceController() : controlRegisters(*this), sink(*this), checkWordEnabled(1)
{
    lock.Create();
}

CDeviceController::~CDeviceController()
{
    try {
        if (HasDevice()) {
            CloseDevice();
            DestroyDevice();
        }
    } catch (...) {
        // A destructor cannot report; the device is destroyed below regardless.
    }
    DestroyDevice();
    // The device's code may live in the plug-in: unload only after it is gone.
    halLibrary.reset();
}

int CDeviceController::GetState()
{
    CCriticalSectionLock guard(lock);
    return state;
}

void CDeviceController::OnInitialize()
{
    if (IsInitialized())
        throw CCommonException(0xCEF00003, 95, sourceFile);
    CModuleBase::OnInitialize();
    stateChanged.Create();
    SetErrorPort(0);
    SetAuxiliaryPort(-1);
    AddOutputPort(1);
    AddOutputPort(2);
}

void CDeviceController::OnDeinitialize()
{
    CloseDevice();
    // The device's thread must not call into a module whose ports are gone.
    DestroyDevice();
    CModuleBase::OnDeinitialize();
}

void CDeviceController::DestroyDevice()
{
    // Outside `lock`: the device's destructor waits for its thread, which
    // may need `lock` to report a state.
    delete device.exchange(nullptr, std::memory_order_acq_rel);
}

void CDeviceController::OpenDevice(const CDeviceDescriptor& descriptor)
{
    if (HasDevice()) {
        CloseDevice();
        DestroyDevice();
    }
    if (!stateChanged.GetHandle())
        stateChanged.Create();

    CCriticalSectionLock guard(lock);
    if (state != 0)
        throw CCommonException(0xCEF00001, __LINE__, sourceFile,
                               "The previous camera has not reported that it is closed.");
    IDevice* opened = nullptr;
    if (halPluginName && *halPluginName) {
        if (!halLibrary)
            halLibrary.reset(new (std::nothrow) CHalPlugin);
        if (!halLibrary)
            throw CCommonException(0xCEF0000A, __LINE__, sourceFile);
        halLibrary->Load(halPluginName);
        opened = halLibrary->GetOpenDevice()(&descriptor, &sink);
        if (!opened) {
            std::string text = FormatString("The HAL plug-in %s did not open the camera %s.", halPluginName,
                                            descriptor.GetName().c_str());
            throw CCommonException(0xCEF00001, __LINE__, sourceFile, text.c_str());
        }
    } else {
        if (!builtInDevice)
            throw CCommonException(0xCEF00001, __LINE__, sourceFile,
                                   "No HAL plug-in was chosen and the built-in 1394 camera layer is not available.");
        opened = builtInDevice(&descriptor, &sink);
        if (!opened)
            throw CCommonException(0xCEF0000A, 11, "RheaHal.cpp");
    }
    device.store(opened, std::memory_order_release);
    opening = true;
    closeRequested = false;
}

void CDeviceController::CloseDevice()
{
    IDevice* current = device.load(std::memory_order_acquire);
    if (!current)
        return;
    bool stopIssued = false;
    {
        CCriticalSectionLock guard(lock);
        if (state == 2) {
            stateChanged.Reset();
            current->StopContinuousGrab();
            stopIssued = true;
        } else if (state == 3) {
            stateChanged.Reset();
            current->CancelSingleShot();
            stopIssued = true;
        }
    }
    // Without `lock`: the device's thread needs it to report the state.
    if (stopIssued)
        stateChanged.Wait(-1, false);
    CCriticalSectionLock guard(lock);
    if (closeRequested)
        return;
    // A device that has not reported yet is open all the same: its reports
    // come in the order of the calls, so it reports 1, then 0.
    if (state == 1 || (state == 0 && opening)) {
        StopOtherModules();
        current->Close();
        closeRequested = true;
    }
}

void CDeviceController::ForOtherModules(void (IModule::*operation)())
{
    if (!factory)
        return;
    for (IComponent* component : factory->GetObjects()) {
        if (component == static_cast<IComponent*>(this))
            continue;
        if (auto* module = dynamic_cast<IModule*>(component))
            (module->*operation)();
    }
}

void CDeviceController::StopOtherModules()
{
    ForOtherModules(&IModule::Stop);
}

void CDeviceController::StartOtherModules()
{
    ForOtherModules(&IModule::Start);
}

CDeviceController::IDevice* CDeviceController::CurrentDevice(int requiredState)
{
    IDevice* current = device.load(std::memory_order_acquire);
    // A state without a device is one the last device left behind; a device
    // told to close may still report states of before.
    return state == requiredState && !closeRequested ? current : nullptr;
}

void CDeviceController::StartContinuousGrab()
{
    CCriticalSectionLock guard(lock);
    if (IDevice* current = CurrentDevice(1)) {
        StopOtherModules();
        StartOtherModules();
        current->StartContinuousGrab();
    }
}

void CDeviceController::InitSingleShot()
{
    CCriticalSectionLock guard(lock);
    if (IDevice* current = CurrentDevice(1)) {
        StopOtherModules();
        StartOtherModules();
        current->InitSingleShot();
    }
}

void CDeviceController::StopContinuousGrab()
{
    CCriticalSectionLock guard(lock);
    if (IDevice* current = CurrentDevice(2))
        current->StopContinuousGrab();
}

void CDeviceController::CancelSingleShot()
{
    CCriticalSectionLock guard(lock);
    if (IDevice* current = CurrentDevice(3))
        current->CancelSingleShot();
}

void CDeviceController::StopAcquisition()
{
    CCriticalSectionLock guard(lock);
    if (state == 2)
        StopContinuousGrab();
    else if (state == 3)
        CancelSingleShot();
}

void CDeviceController::StopAfterFault()
{
    try {
        StopAcquisition();
    } catch (const CException& error) {
        ReportError(error);
    }
}

void CDeviceController::InjectImageFile()
{
    CCriticalSectionLock guard(lock);
    if (!CurrentDevice(1))
        return;
    StopOtherModules();
    StartOtherModules();
    if (!imageFileLoader)
        throw CCommonException(0xCEF00001, __LINE__, sourceFile, "No image file reader is available.");
    CSmartPointer<CChunkBuffer> image = imageFileLoader(imageFileName.c_str());
    CSmartPointer<IPacket> packet = CPacket::Create();
    packet->AddChunkBuffer(image);
    // Sent with `lock` held (it is re-entrant, so receivers may call back);
    // the state stays 1 meanwhile, so there is no shot to end afterwards.
    Send(1, packet);
}

void CDeviceController::SendValueChunk(int port, const GUID& type, uint32_t value)
{
    CSmartPointer<IPacket> packet = CPacket::Create();
    packet->AddChunkBuffer(MakeValueChunkBuffer(type, value));
    Send(port, packet);
}

void CDeviceController::DeliverBlock(IMemBlock* block)
{
    IDevice* current = device.load(std::memory_order_acquire);
    // A device may deliver while it is still being opened.
    const bool hasCheckWord = current && current->HasCheckWord();
    if (hasCheckWord && checkWordEnabled) {
        bool matches = false;
        {
            CBlockLock locked(block);
            const uint32_t size = block->GetSize();
            if (locked.data && size >= 4) {
                // The last four bytes; for sizes that are a multiple of four
                // this is the word at index size / 4 - 1.
                const auto* bytes = static_cast<const unsigned char*>(locked.data);
                uint32_t word = LoadU32(bytes + size - 4);
                matches = Crc16Xmodem(bytes, size - 4) == word;
            }
        }
        if (!matches) {
            StopAfterFault();
            ReportError(CCoreException(0xCEF10301, 844, sourceFile));
            return;
        }
    }

    CSmartPointer<CChunkBuffer> buffer;
    CException* fault = nullptr;
    bool valid = false;
    try {
        buffer = CChunkBuffer::Create(block, hasCheckWord ? -4 : 0);
        valid = buffer->Validate(&fault);
    } catch (const CException& error) {
        StopAfterFault();
        ReportError(error);
        return;
    }
    if (!valid) {
        StopAfterFault();
        if (fault)
            ReportError(*fault);
        else
            ReportError(CCommonException(0xCEF0000A, __LINE__, sourceFile));
        delete fault;
        return;
    }

    CSmartPointer<IPacket> packet = CPacket::Create();
    packet->AddChunkBuffer(buffer);
    packet->SetSequenceNumber(CPacket::NextSequenceNumber());
    try {
        Send(1, packet);
    } catch (const CException& error) {
        // A receiver's failure must not keep a single shot armed.
        ReportError(error);
    }

    CCriticalSectionLock guard(lock);
    // A single shot ends with its first delivered frame.
    if (IDevice* armed = CurrentDevice(3))
        armed->CancelSingleShot();
}

void CDeviceController::ChangeState(int newState)
{
    MarkerAction action;
    bool closeAfterFailure = false;
    {
        CCriticalSectionLock guard(lock);
        const int oldState = state;
        action = MarkerFor(oldState, newState);
        state = newState;
        opening = false;
        if (newState == 4) {
            closeAfterFailure = !closeRequested;
            closeRequested = true;
        }
        // Also when acquisition ends in a failure or a close, so that a
        // CloseDevice waiting for the stop is not left waiting for ever.
        if (oldState != 0 && (newState == 1 || newState == 0 || newState == 4))
            stateChanged.Set();
    }
    try {
        if (action == MarkStart)
            SendValueChunk(1, GUID_AcquisitionMarkerChunk, 0);
        else if (action == MarkEnd)
            SendValueChunk(1, GUID_AcquisitionMarkerChunk, 1);
        SendValueChunk(2, GUID_DeviceStateChunk, static_cast<uint32_t>(newState));
    } catch (const CException& error) {
        ReportError(error);
    }
    if (newState == 4) {
        ReportError(CCoreException(0xCEF10300, 646, sourceFile));
        StopOtherModules();
        if (IDevice* current = device.load(std::memory_order_acquire); current && closeAfterFailure)
            current->Close();
    }
}

void CDeviceController::OnData(int inputPort, const CSmartPointer<IPacket>& packet)
{
    if (inputPort == 1) {
        HandleRegisterRequests(controlRegisters, packet);
        return;
    }
    {
        CCriticalSectionLock guard(lock);
        IDevice* current = device.load(std::memory_order_acquire);
        if (current && state != 0 && state != 4) {
            if (IRegisterSet* registers = current->GetRegisterSet(inputPort)) {
                HandleRegisterRequests(*registers, packet);
                return;
            }
        }
    }
    CModuleBase::OnData(inputPort, packet);
}

void CDeviceController::HandleRegisterRequests(IRegisterSet& registers, const CSmartPointer<IPacket>& packet)
{
    CSmartPointer<IEnumChunks> chunks;
    packet->EnumChunks(chunks, GUID_RegisterRequestChunk);
    if (!chunks || chunks->GetCount() == 0)
        throw CCommonException(0xCEF00004, 508, sourceFile);
    CChunkPtr<CChunk> chunk;
    while (chunks->Next(chunk)) {
        CRegisterRequestView request(chunk);
        // A request longer than its data area would make the set read or
        // write past the chunk.
        if (request.GetData() && request.GetLength() > request.GetDataSize())
            throw CCommonException(0xCEF00006, __LINE__, sourceFile);
        switch (request.GetDirection()) {
        case RegisterRead:
            registers.Read(request.GetAddress(), request.GetData(), request.GetLength());
            break;
        case RegisterWrite:
            registers.Write(request.GetAddress(), request.GetData(), request.GetLength());
            break;
        default:
            throw CCommonException(0xCEF00004, 538, sourceFile);
        }
    }
}

void CDeviceController::CControlRegisterSet::Read(uint64_t address, void* buffer, uint32_t length)
{
    if (!buffer)
        throw CCommonException(0xCEF00006, 700, sourceFile);
    auto* out = static_cast<uint8_t*>(buffer);
    switch (address) {
    case 0:
        if (length == 0)
            throw CCommonException(0xCEF00006, 707, sourceFile);
        *out = owner.GetState() == 2 ? 1 : 0;
        break;
    case 1:
        if (length == 0)
            throw CCommonException(0xCEF00006, 714, sourceFile);
        *out = owner.GetState() == 3 ? 1 : 0;
        break;
    case 2:
        if (length == 0)
            throw CCommonException(0xCEF00006, 721, sourceFile);
        *out = 0;
        break;
    default:
        throw CCommonException(0xCEF00008, 728, sourceFile);
    }
}

void CDeviceController::CControlRegisterSet::Write(uint64_t address, const void* buffer, uint32_t length)
{
    if (!buffer)
        throw CCommonException(0xCEF00006, 752, sourceFile);
    const auto* in = static_cast<const uint8_t*>(buffer);
    switch (address) {
    case 0:
        if (length != 1)
            throw CCommonException(0xCEF00006, 759, sourceFile);
        if (*in)
            owner.StartContinuousGrab();
        else
            owner.StopContinuousGrab();
        break;
    case 1:
        if (length != 1)
            throw CCommonException(0xCEF00006, 770, sourceFile);
        if (*in)
            owner.InitSingleShot();
        else
            owner.CancelSingleShot();
        break;
    case 2:
        if (length != 1)
            throw CCommonException(0xCEF00006, 781, sourceFile);
        if (*in)
            owner.StopAcquisition();
        break;
    case 3: {
        // Up to the first NUL, never past the request's data.
        const char* text = static_cast<const char*>(buffer);
        std::string name(text, strnlen(text, length));
        CCriticalSectionLock guard(owner.lock);
        owner.imageFileName = std::move(name);
        break;
    }
    case 4:
        if (length != 1)
            throw CCommonException(0xCEF00006, 797, sourceFile);
        if (*in)
            owner.InjectImageFile();
        break;
    default:
        throw CCommonException(0xCEF00008, 808, sourceFile);
    }
}

void CDeviceController::CChunkBufferSink::OnChunkBuffer(IMemBlock* block)
{
    if (!block)
        return;
    // The device's thread must never see an exception from here.
    CSmartPointer<IMemBlock> reference(block);
    try {
        owner.DeliverBlock(block);
    } catch (const CException& error) {
        owner.ReportError(error);
    } catch (const std::bad_alloc&) {
        owner.ReportError(CCommonException(0xCEF0000A, __LINE__, sourceFile));
    } catch (...) {
        owner.ReportError(CCommonException(0xCEF00002, __LINE__, sourceFile));
    }
}

void CDeviceController::CChunkBufferSink::OnStateChanged(int newState)
{
    try {
        owner.ChangeState(newState);
    } catch (const CException& error) {
        owner.ReportError(error);
    } catch (...) {
        owner.ReportError(CCommonException(0xCEF00002, __LINE__, sourceFile));
    }
}

void CDeviceController::CChunkBufferSink::OnError(CException& error)
{
    try {
        owner.ReportError(error);
    } catch (...) {
    }
}

} // namespace Tav
