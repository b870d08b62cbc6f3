#pragma once

#include "Common/CriticalSectionWin32.h"
#include "Common/Exception.h"
#include "Common/ThreadSignalWin32.h"
#include "Core/IRegisterSet.h"
#include "Core/ModuleBase.h"
#include "DataBuffer/ChunkBuffer.h"
#include "DataBuffer/IMemBlock.h"
#include "DataBuffer/SmartPointer.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

namespace Tav {

class CDeviceDescriptor;
class CHalPlugin;

// The module that turns a camera into a source of packets.
//
// Ports: output 0 errors, -1 auxiliary, 1 image and acquisition-marker
// packets, 2 device-state packets; input 1 register requests for the
// control registers, 1024-1026 register requests for the open device's
// register sets.
//
// Acquisition states: 0 closed, 1 open and idle, 2 continuous grab,
// 3 single shot armed, 4 failed. Only the device changes the state, through
// IChunkBufferSink::OnStateChanged, possibly later and on its own thread.
//
// Control registers (high address half 0; writes of one byte unless noted):
//   0  read: grabbing continuously; write: start (non-zero) / stop (zero)
//   1  read: single shot armed; write: arm (non-zero) / cancel (zero)
//   2  read: always 0; write non-zero: stop whatever acquisition runs
//   3  write only: the name of an image file to inject (text, NUL-terminated)
//   4  write only, non-zero: inject that file as a frame
class CDeviceController : public CModuleBase {
public:
    // Callbacks of an open device into the controller.
    class IChunkBufferSink {
    public:
        // A filled frame buffer; the callee takes its own reference.
        virtual void OnChunkBuffer(IMemBlock* block) = 0;
        virtual void OnStateChanged(int state) = 0;
        // An asynchronous device error; goes to the error port.
        virtual void OnError(CException& error) = 0;

    protected:
        ~IChunkBufferSink() = default;
    };

    // A camera. State changes are reported through the sink given to Open,
    // not by the operations' return.
    class IDevice {
    public:
        virtual void Open(const CDeviceDescriptor& descriptor, IChunkBufferSink* sink) = 0;
        virtual void Close() = 0;
        virtual void StartContinuousGrab() = 0;
        virtual void StopContinuousGrab() = 0;
        virtual void InitSingleShot() = 0;
        virtual void CancelSingleShot() = 0;
        // Every delivered buffer ends in a 32-bit CRC-16/XMODEM check word.
        virtual bool HasCheckWord() = 0;
        // The register set behind a port id; null for unknown ids.
        virtual IRegisterSet* GetRegisterSet(int id) = 0;
        virtual ~IDevice() = default;
    };

    // Creates and opens a device: a HAL plug-in's "OpenDevice" entry, or the
    // built-in camera layer's. The caller owns the result.
    using OpenDeviceFunction = IDevice* (*)(const CDeviceDescriptor* descriptor, IChunkBufferSink* sink);
    // Reads an image file into a chunk buffer holding one image chunk.
    using ImageFileLoader = CSmartPointer<CChunkBuffer> (*)(const char* fileName);

    CDeviceController();
    ~CDeviceController() override;

    // Closes and destroys a device already open, then opens `descriptor`
    // through the HAL plug-in named by halPluginName, or through the built-in
    // camera layer when no plug-in is chosen. The state becomes 1 when the
    // device reports it.
    void OpenDevice(const CDeviceDescriptor& descriptor);
    // Stops a running acquisition and waits until the device reports it
    // idle, then stops the other modules and tells the device to close.
    void CloseDevice();

    // The camera layer used when no plug-in is chosen; none by default.
    void SetBuiltInDevice(OpenDeviceFunction open) { builtInDevice = open; }
    // The reader behind control register 4; none by default.
    void SetImageFileLoader(ImageFileLoader loader) { imageFileLoader = loader; }

    int GetState();
    bool HasDevice() const { return device.load(std::memory_order_acquire) != nullptr; }

    void OnInitialize() override;
    void OnDeinitialize() override;
    void OnData(int inputPort, const CSmartPointer<IPacket>& packet) override;
    void HandleRegisterRequests(IRegisterSet& registers, const CSmartPointer<IPacket>& packet) override;

private:
    class CControlRegisterSet : public IRegisterSet {
    public:
        explicit CControlRegisterSet(CDeviceController& owner) : owner(owner) {}
        void Read(uint64_t address, void* buffer, uint32_t length) override;
        void Write(uint64_t address, const void* buffer, uint32_t length) override;

    private:
        CDeviceController& owner;
    };

    class CChunkBufferSink : public IChunkBufferSink {
    public:
        explicit CChunkBufferSink(CDeviceController& owner) : owner(owner) {}
        void OnChunkBuffer(IMemBlock* block) override;
        void OnStateChanged(int state) override;
        void OnError(CException& error) override;

    private:
        CDeviceController& owner;
    };

    void DeliverBlock(IMemBlock* block);
    void ChangeState(int newState);

    // The device when the state is `requiredState`, else null; under `lock`.
    IDevice* CurrentDevice(int requiredState);
    void StartContinuousGrab();
    void StopContinuousGrab();
    void InitSingleShot();
    void CancelSingleShot();
    void StopAcquisition();
    // StopAcquisition on the device's thread: failures go to the error port.
    void StopAfterFault();
    void InjectImageFile();
    // Stops or starts every module of the factory's graph but this one.
    // Runs `operation` on every module of the factory but this one.
    void ForOtherModules(void (IModule::*operation)());
    void StopOtherModules();
    void StartOtherModules();
    void SendValueChunk(int port, const GUID& type, uint32_t value);
    void DestroyDevice();

    std::string imageFileName;
    std::atomic<IDevice*> device{nullptr};
    CControlRegisterSet controlRegisters;
    CChunkBufferSink sink;
    int state = 0;
    // Under `lock`. opening: the device has reported no state since it was
    // opened. closeRequested: it has been told to close (by CloseDevice or
    // after its failure); nothing more is started on it.
    bool opening = false;
    bool closeRequested = false;
    CCriticalSectionWin32 lock;
    CThreadSignalWin32 stateChanged;
    uint8_t checkWordEnabled;
    std::unique_ptr<CHalPlugin> halLibrary;
    OpenDeviceFunction builtInDevice = nullptr;
    ImageFileLoader imageFileLoader = nullptr;
};

} // namespace Tav
