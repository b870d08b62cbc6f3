#pragma once

// A GenICam camera (GigE Vision, USB3 Vision, or Aravis' fake camera) as a
// device of the device controller.
//
// One device thread reports every state change and delivers every frame:
// it pops filled buffers from the Aravis stream (whose own thread receives
// them) and hands them to the controller without copying. Each stream buffer
// is the memory of one memory block, allocated with room behind the payload
// for the image header, the image chunk trailer and a frame-counter chunk.
// A block goes back to the stream when its last holder releases it.
//
// Register sets: 1024 the camera's register space (addresses as in its
// GenICam description), 1025 a few named features (see FeatureRegisterSet).

#include "FrameCounter.h"
#include "KvException.h"
#include "PixelFormat.h"

#include "Common/ThreadBaseWin32.h"
#include "Core/DeviceController.h"
#include "Core/DeviceDescriptor.h"
#include "DataBuffer/AllocMemBlock.h"
#include "DataBuffer/RefCounted.h"

#include <arv.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace Tav::Hal::Kv {

// Bytes behind the payload of every buffer: image header and trailer, then
// the frame-counter chunk (4 data bytes and its trailer).
inline constexpr uint32_t FrameTrailerBytes = 48 + 28;

// Buffers circulating during a continuous grab.
inline constexpr uint32_t ContinuousBufferCount = 8;

// Throws ErrorCamera for a set GError and clears it.
void CheckCameraError(GError*& error, int line, const char* file);

class CDevice : public CDeviceController::IDevice {
public:
    using IChunkBufferSink = CDeviceController::IChunkBufferSink;

    CDevice();
    ~CDevice() override;

    void Open(const CDeviceDescriptor& descriptor, IChunkBufferSink* sink) override;
    void Close() override;
    void StartContinuousGrab() override;
    void StopContinuousGrab() override;
    void InitSingleShot() override;
    void CancelSingleShot() override;
    bool HasCheckWord() override { return false; }
    IRegisterSet* GetRegisterSet(int id) override;

    // Blocks in existence (at the stream or held downstream); for tests.
    static int LiveBlocks() { return liveBlocks.load(); }

private:
    // What blocks know of their device; blocks can outlive it.
    struct COwnerLink {
        std::mutex mutex;
        CDevice* device = nullptr;
        // Blocks of this generation go back to the stream; older ones die.
        uint32_t generation = 0;
        bool accepting = false;
    };

    class CMemBlock : public CRefCounted<CAllocMemBlock> {
    public:
        CMemBlock(std::shared_ptr<COwnerLink> owner, uint32_t payload, uint32_t generation, bool singleShot);
        ~CMemBlock() override;
        void DeleteThis() override;

        std::shared_ptr<COwnerLink> owner;
        ArvBuffer* buffer = nullptr; // one reference of our own
        uint32_t payload;
        uint32_t generation;
        bool singleShot;
        // Guarded by the owner link's mutex.
        bool downstream = false;
        bool orphan = false;
    };

    // Port 1024: the camera's registers, any length.
    class CCameraRegisterSet : public IRegisterSet {
    public:
        explicit CCameraRegisterSet(CDevice& owner) : owner(owner) {}
        void Read(uint64_t address, void* buffer, uint32_t length) override;
        void Write(uint64_t address, const void* buffer, uint32_t length) override;

    private:
        CDevice& owner;
    };

    // Port 1025: named features at fixed addresses.
    class CFeatureRegisterSet : public IRegisterSet {
    public:
        explicit CFeatureRegisterSet(CDevice& owner) : owner(owner) {}
        void Read(uint64_t address, void* buffer, uint32_t length) override;
        void Write(uint64_t address, const void* buffer, uint32_t length) override;

    private:
        CDevice& owner;
    };

    class CDeviceThread : public CThreadBaseWin32 {
    public:
        explicit CDeviceThread(CDevice& owner) : owner(owner) {}
        void Run() override;
        bool started = false;

    private:
        CDevice& owner;
    };

    enum class Request { Open, StartContinuous, StartSingle, Stop, ControlLost, Close };
    struct CQueued {
        Request request;
        uint32_t generation;
    };

    void StartGrab(bool singleShot);
    void StopGrab();
    void Post(Request request, uint32_t generation = 0);
    void Execute(const CQueued& queued);
    void Report(int state);
    void Pump();
    // Pops one buffer (waiting a little) and delivers it; false when idle.
    bool DeliverNext();
    // Writes the image header and the frame counter; false for a frame
    // that cannot be carried.
    bool WriteTrailer(CMemBlock* block);
    // Counts a buffer the stream could not fill; reports a grab that gets
    // nothing but such buffers.
    void NoteUnusableBuffer(int status);
    // Stops acquisition and the stream, frees the blocks not held
    // downstream; any thread, idempotent.
    void TearDown();
    // TearDown with controlMutex and grabMutex held.
    void ReleaseStream();
    void ThrowIfLost(int line) const;
    static void Recycle(CMemBlock* block);
    static void OnControlLost(ArvDevice* device, void* self);

    IChunkBufferSink* sink = nullptr;
    std::string name;
    std::string description;
    ArvCamera* camera = nullptr;
    ArvDevice* arvDevice = nullptr;
    unsigned long controlLostHandler = 0;
    std::atomic<bool> controlLost{false};
    std::atomic<bool> grabbing{false};
    std::atomic<bool> closePosted{false};

    // Camera control is serialised: the register sets, grab start and stop.
    std::recursive_mutex controlMutex;

    // The grab; under grabMutex.
    std::mutex grabMutex;
    ArvStream* stream = nullptr;
    std::vector<CMemBlock*> blocks;
    uint32_t generation = 0;
    uint32_t activeGeneration = 0; // the grab the device thread delivers
    CPixelLayout layout;
    uint32_t payload = 0;

    // Device thread only.
    int reportedState = 0;
    CFrameCounter frameCounter;
    bool formatReported = false;
    bool statusReported = false;
    size_t unusableInARow = 0;

    std::mutex queueMutex;
    std::condition_variable queueChanged;
    std::deque<CQueued> requests;

    CCameraRegisterSet cameraRegisters;
    CFeatureRegisterSet featureRegisters;
    CDeviceThread thread;
    std::shared_ptr<COwnerLink> link;

    static std::atomic<int> liveBlocks;
};

} // namespace Tav::Hal::Kv
