#pragma once

// The built-in device for IEEE-1394 IIDC cameras, on the driver client.
//
// One pumper thread owns everything asynchronous: filled buffers, control
// requests and removal notices all arrive on the driver client's completion
// port and are handled there in order, and every state change is reported
// from that thread. During a continuous grab seven memory blocks circulate;
// a block goes back to the driver when its last holder releases it.
//
// Register sets: 1024 camera quadlets (64-bit 1394 addresses, 4 bytes),
// 1025 driver registers 0-20 on the current Format 7 mode, 1026 the
// advanced-feature probe (write a 16-byte feature GUID at 0, read its 64-bit
// register address at 1).

#include "HalException.h"
#include "Rhea.h"

#include "Common/ThreadBaseWin32.h"
#include "Core/DeviceController.h"
#include "Core/DeviceDescriptor.h"
#include "DataBuffer/AllocMemBlock.h"
#include "DataBuffer/Guid.h"
#include "DataBuffer/RefCounted.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace Tav::Hal::Rhea {

// Camera-written image header and the check word, advanced features of
// "Quarlo" cameras.
inline constexpr GUID FeatureImageHeader = {0x4E7ABCB0, 0x1B84, 0x11D8, {0x96, 0x51, 0x00, 0x10, 0x5A, 0x5B, 0xAE, 0x55}};
inline constexpr GUID FeatureCheckWord = {0x3B34004E, 0x1B84, 0x11D8, {0x83, 0xB3, 0x00, 0x10, 0x5A, 0x5B, 0xAE, 0x55}};

// Access key of the advanced features of the camera family.
inline constexpr uint64_t DefaultFeatureAccessKey = 0x515541524C4Full;

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
    bool HasCheckWord() override { return hasCheckWord; }
    IRegisterSet* GetRegisterSet(int id) override;

    // Blocks in existence (circulating, queued or held downstream); for tests.
    static int LiveBlocks() { return liveBlocks.load(); }
    // Blocks created since the process started; for tests.
    static uint64_t CreatedBlocks() { return createdBlocks.load(); }

    void SetAccessKey(uint64_t key) { accessKey = key; }

private:
    class CRheaDevice : public ::Rhea::CRhea {
    public:
        uint32_t ReadQuadlet(uint64_t address);
        void WriteQuadlet(uint64_t address, uint32_t value);
        // Both throw RheaException with the system error and an empty context.
    };

    class CCameraRegisterSet : public IRegisterSet {
    public:
        explicit CCameraRegisterSet(CDevice& owner) : owner(owner) {}
        void Read(uint64_t address, void* buffer, uint32_t length) override;
        void Write(uint64_t address, const void* buffer, uint32_t length) override;

    private:
        CDevice& owner;
    };

    class CRheaRegisterSet : public IRegisterSet {
    public:
        explicit CRheaRegisterSet(CDevice& owner) : owner(owner) {}
        void Read(uint64_t address, void* buffer, uint32_t length) override;
        void Write(uint64_t address, const void* buffer, uint32_t length) override;

    private:
        // Checks removal, the index and Format 7; the current mode.
        ::Rhea::CRhea::CFormatSeven& Mode(uint64_t address);
        CDevice& owner;
    };

    class CBriskFeatureProbeRegisterSet : public IRegisterSet {
    public:
        explicit CBriskFeatureProbeRegisterSet(CDevice& owner) : owner(owner), guid{} {}
        void Read(uint64_t address, void* buffer, uint32_t length) override;
        void Write(uint64_t address, const void* buffer, uint32_t length) override;

    private:
        CDevice& owner;
        GUID guid;
    };

    class CPumperThread : public CThreadBaseWin32 {
    public:
        explicit CPumperThread(CDevice& owner) : owner(owner) {}
        void Run() override;
        std::atomic<bool> finished{false};
        bool started = false;

    private:
        CDevice& owner;
    };

    // What blocks know of their device. Blocks can outlive the device (a
    // packet kept downstream after close); the link is cut when the pumper
    // stops taking blocks back, and a block that finds it cut deletes itself.
    struct COwnerLink {
        std::mutex mutex;
        CDevice* device = nullptr;
    };

    class CMemBlock : public CRefCounted<CAllocMemBlock> {
    public:
        CMemBlock(std::shared_ptr<COwnerLink> owner, bool singleShot, uint32_t generation);
        ~CMemBlock() override;
        void DeleteThis() override;

        std::shared_ptr<COwnerLink> owner;
        bool singleShot;
        uint32_t generation;
        // The frame layout of the grab the block was made for.
        uint32_t imageBytes = 0;
        bool cameraWritesHeader = false;
        uint32_t width = 0, height = 0, colorCoding = 0;
    };

    class CRequest {
    public:
        virtual void Execute(CDevice& device) const = 0;

    protected:
        ~CRequest() = default;
    };
    class COpenRequest;
    class CCloseRequest;
    class CStartGrabRequest;
    class CStopGrabRequest;
    class CStartContinuousGrabRequest;
    class CInitSingleShotRequest;
    class CStopContinuousGrabRequest;
    class CCancelSingleShotRequest;

    void StartGrab(const CStartGrabRequest& request, bool singleShot);
    void StopGrab(const CStopGrabRequest& request);
    void Post(uint32_t kind, uintptr_t context);
    void ConfigureFormat7();
    bool IsFeatureOn(const GUID& feature);
    // The 64-bit register address of `feature`; 0 when the camera has none.
    uint64_t ProbeFeature(const GUID& feature);
    // Called from a block's final release, on any thread.
    static void Recycle(CMemBlock* block);
    // 1 when the block went to the driver, 0 when it was deleted.
    uint32_t Queue(CMemBlock* block);
    void Deliver(CMemBlock* block);
    void WriteImageHeader(CMemBlock* block);
    void Pump();
    static void OnQueryRemove(::Rhea::CRhea* rhea, uintptr_t user);

    IChunkBufferSink* sink = nullptr;
    CRheaDevice camera;
    std::string name;
    std::string description;
    bool isMakerCamera = false;
    uint32_t imageBytes = 0;
    uint32_t bufferCount = 7;
    std::atomic<bool> grabbing{false};
    bool closing = false;
    std::atomic<bool> removed{false};
    int32_t outstanding = 0;
    std::atomic<uint32_t> generation{0};
    bool cameraWritesHeader = false;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t colorCoding = 0;
    std::atomic<bool> hasCheckWord{false};
    CCameraRegisterSet cameraRegisters;
    CRheaRegisterSet driverRegisters;
    CBriskFeatureProbeRegisterSet featureProbe;
    CPumperThread pumper;
    std::shared_ptr<COwnerLink> link;
    std::atomic<bool> closePosted{false};
    uint64_t accessKey = DefaultFeatureAccessKey;

    static std::atomic<int> liveBlocks;
    static std::atomic<uint64_t> createdBlocks;
};

// Creates and opens the built-in device for the device controller.
CDeviceController::IDevice* OpenDevice(const CDeviceDescriptor* descriptor,
                                       CDeviceController::IChunkBufferSink* sink);

} // namespace Tav::Hal::Rhea
