#pragma once

// The device of the SaperaHal stand-in: a simulated frame grabber that
// delivers frames at the camera's rate from a ring of seven memory blocks,
// each holding the pixels, the image header and trailer and a frame-counter
// chunk. One thread reports every state change and delivers every frame; a
// block goes back to the ring when its last holder releases it, and a frame
// that finds the ring empty is counted as dropped.

#include "FrameGrabber.h"

#include "Common/ThreadBaseWin32.h"
#include "Core/DeviceController.h"
#include "Core/DeviceDescriptor.h"
#include "DataBuffer/AllocMemBlock.h"
#include "DataBuffer/RefCounted.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace Tav::Hal::Sapera {

class CDevice : public CDeviceController::IDevice {
public:
    using IChunkBufferSink = CDeviceController::IChunkBufferSink;

    CDevice();
    ~CDevice() override;

    // The descriptor's own name is the ini file; the board is the one its
    // [Coreco] DeviceName names.
    void Open(const Tav::CDeviceDescriptor& descriptor, IChunkBufferSink* sink) override;
    void Close() override;
    void StartContinuousGrab() override;
    void StopContinuousGrab() override;
    void InitSingleShot() override;
    void CancelSingleShot() override;
    bool HasCheckWord() override { return false; }
    // 1025: the board's name and the frame, read-only.
    IRegisterSet* GetRegisterSet(int id) override { return id == 1025 ? &boardRegisters : nullptr; }

    static int LiveBlocks() { return liveBlocks.load(); }

private:
    struct COwnerLink {
        std::mutex mutex;
        CDevice* device = nullptr;
    };

    class CMemBlock : public CRefCounted<CAllocMemBlock> {
    public:
        CMemBlock(std::shared_ptr<COwnerLink> owner, uint32_t size);
        ~CMemBlock() override;
        void DeleteThis() override;
        std::shared_ptr<COwnerLink> owner;
    };

    // As the first registers of the 1394 driver set: 0 the board's name
    // (text), 4 width, 5 height, 18 pixel type; 4-byte little-endian values.
    class CBoardRegisterSet : public IRegisterSet {
    public:
        explicit CBoardRegisterSet(CDevice& owner) : owner(owner) {}
        void Read(uint64_t address, void* buffer, uint32_t length) override;
        void Write(uint64_t address, const void* buffer, uint32_t length) override;

    private:
        CDevice& owner;
    };

    class CGrabberThread : public CThreadBaseWin32 {
    public:
        explicit CGrabberThread(CDevice& owner) : owner(owner) {}
        void Run() override;
        bool started = false;

    private:
        CDevice& owner;
    };

    enum class Request { Open, StartContinuous, StartSingle, Stop, Close };

    void Post(Request request);
    void Report(int state);
    void Run();
    void DeliverFrame();
    void Give(CMemBlock* block);

    IChunkBufferSink* sink = nullptr;
    std::unique_ptr<CFrameGrabber> grabber;
    std::atomic<bool> closePosted{false};

    // Under `mutex`: requests, the free blocks.
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Request> requests;
    std::vector<CMemBlock*> freeBlocks;

    // Grabber thread only.
    int reportedState = 0;
    bool singleShotTaken = false;
    uint32_t frame = 0;

    CBoardRegisterSet boardRegisters;
    CGrabberThread thread;
    std::shared_ptr<COwnerLink> link;

    static constexpr uint32_t bufferCount = 7;
    static std::atomic<int> liveBlocks;
};

} // namespace Tav::Hal::Sapera
