#include "Device.h"

#include "RheaUtility.h"

#include "Common/Exception.h"
#include "DataBuffer/Chunk.h"
#include "DataBuffer/ImageChunk.h"
#include "DataBuffer/RtlHeapAllocator.h"
#include "DataBuffer/SafeNew.h"
#include "Platform/SystemError.h"
#include "Platform/Thread.h"

#include <cstring>

namespace Tav::Hal::Rhea {

using ::Rhea::RheaException;

namespace {

// Raise sites of this layer keep the line numbers of its error reference.
const char* const sourceFile = "RheaHal.cpp";

// Completion kinds of the device's own records.
enum : uint32_t {
    KindRecycle = uint32_t(-3),
    KindRemoved = uint32_t(-4),
    KindRequest = uint32_t(-5),
};

constexpr uint32_t ErrorAborted = 995;
constexpr uint32_t ErrorIncompleteFrame = 0xCFE00021;
constexpr uint32_t ErrorDataError = 23;
constexpr uint32_t ReadQuadletCode = 0x80103FC0;
constexpr uint32_t WriteQuadletCode = 0x80103FC4;
constexpr uint32_t HeaderBytes = sizeof(CImageChunk) + CChunk::Size;

constexpr uint64_t BasicFunctionInquiry = 0xFFFFF0F00400ull;
constexpr uint64_t AdvancedFeatureInquiry = 0xFFFFF0F00480ull;
constexpr uint64_t RegisterBase = 0xFFFFF0000000ull;

CException DriverError(int line, const RheaException& e)
{
    return CException(ErrorDriver, line, sourceFile, e.GetMessage().c_str(), e.GetCode());
}

} // namespace

std::atomic<int> CDevice::liveBlocks{0};
std::atomic<uint64_t> CDevice::createdBlocks{0};

// ---- requests ---------------------------------------------------------------

class CDevice::COpenRequest : public CRequest {
public:
    void Execute(CDevice& device) const override { device.sink->OnStateChanged(1); }
};
class CDevice::CCloseRequest : public CRequest {
public:
    void Execute(CDevice& device) const override
    {
        device.closing = true;
        device.sink->OnStateChanged(0);
    }
};
class CDevice::CStartGrabRequest : public CRequest {};
class CDevice::CStopGrabRequest : public CRequest {};
class CDevice::CStartContinuousGrabRequest : public CStartGrabRequest {
public:
    void Execute(CDevice& device) const override { device.sink->OnStateChanged(2); }
};
class CDevice::CInitSingleShotRequest : public CStartGrabRequest {
public:
    void Execute(CDevice& device) const override { device.sink->OnStateChanged(3); }
};
class CDevice::CStopContinuousGrabRequest : public CStopGrabRequest {
public:
    void Execute(CDevice& device) const override { device.sink->OnStateChanged(1); }
};
class CDevice::CCancelSingleShotRequest : public CStopGrabRequest {
public:
    void Execute(CDevice& device) const override { device.sink->OnStateChanged(1); }
};

// ---- memory blocks ----------------------------------------------------------

CDevice::CMemBlock::CMemBlock(std::shared_ptr<COwnerLink> owner, bool singleShot, uint32_t generation)
    : owner(std::move(owner)), singleShot(singleShot), generation(generation)
{
    liveBlocks.fetch_add(1);
    createdBlocks.fetch_add(1);
}

CDevice::CMemBlock::~CMemBlock() { liveBlocks.fetch_sub(1); }

void CDevice::CMemBlock::DeleteThis()
{
    if (singleShot) {
        delete this;
        return;
    }
    CDevice::Recycle(this);
}

void CDevice::Recycle(CMemBlock* block)
{
    std::shared_ptr<COwnerLink> link = block->owner;
    std::lock_guard<std::mutex> guard(link->mutex);
    CDevice* device = link->device;
    if (!device || device->removed || device->pumper.finished) {
        delete block;
        return;
    }
    try {
        device->camera.Notify(KindRecycle, reinterpret_cast<uintptr_t>(block));
    } catch (const RheaException& e) {
        delete block;
        CException error = DriverError(589, e);
        try {
            device->sink->OnError(error);
        } catch (...) {
        }
    }
}

// ---- construction and the IDevice operations --------------------------------

CDevice::CDevice()
    : cameraRegisters(*this), driverRegisters(*this), featureProbe(*this), pumper(*this),
      link(std::make_shared<COwnerLink>())
{
}

CDevice::~CDevice()
{
    if (pumper.started) {
        // Destroyed without Close: close now, or the pumper would never end.
        if (!closePosted) {
            try {
                Close();
            } catch (...) {
            }
        }
        // A destructor cannot throw; a failed join leaves the thread to the
        // thread object, which gives it up.
        pumper.Join(-1);
    }
    std::lock_guard<std::mutex> guard(link->mutex);
    link->device = nullptr;
}

void CDevice::Post(uint32_t kind, uintptr_t context) { camera.Notify(kind, context); }

void CDevice::Open(const CDeviceDescriptor& descriptor, IChunkBufferSink* newSink)
{
    static const COpenRequest request;
    sink = newSink;
    name = descriptor.GetName();
    description = descriptor.GetDescription();
    pumper.CreateThreadResources();
    try {
        camera.Open(name);
        camera.SetOnQueryRemove(&CDevice::OnQueryRemove, reinterpret_cast<uintptr_t>(this));
        ConfigureFormat7();
        isMakerCamera = camera.info.VendorName() == "Quarlo";
        if (isMakerCamera) {
            if (const uint64_t address = ProbeFeature(FeatureImageHeader)) {
                if (camera.ReadQuadlet(address) & 0x80000000u)
                    camera.WriteQuadlet(address, 1);
            }
        }
        {
            std::lock_guard<std::mutex> guard(link->mutex);
            link->device = this;
        }
        // Posted before the thread starts, so that no failure can leave a
        // pumper running that nobody will close.
        Post(KindRequest, reinterpret_cast<uintptr_t>(static_cast<const CRequest*>(&request)));
    } catch (const RheaException& e) {
        pumper.CloseThreadResources();
        try {
            camera.Close();
        } catch (const RheaException&) {
        }
        throw DriverError(197, e);
    } catch (...) {
        pumper.CloseThreadResources();
        try {
            camera.Close();
        } catch (const RheaException&) {
        }
        throw;
    }
    pumper.StartThread();
    pumper.started = true;
}

void CDevice::Close()
{
    static const CCloseRequest request;
    if (!pumper.started || closePosted)
        return;
    if (grabbing)
        StopContinuousGrab();
    // Idempotent: the controller closes a failed device from the pumper
    // while the control side may close it too.
    if (closePosted.exchange(true))
        return;
    try {
        Post(KindRequest, reinterpret_cast<uintptr_t>(static_cast<const CRequest*>(&request)));
    } catch (const RheaException& e) {
        closePosted = false;
        throw DriverError(312, e);
    }
}

void CDevice::StartContinuousGrab()
{
    static const CStartContinuousGrabRequest request;
    StartGrab(request, false);
}

void CDevice::InitSingleShot()
{
    static const CInitSingleShotRequest request;
    StartGrab(request, true);
}

void CDevice::StopContinuousGrab()
{
    static const CStopContinuousGrabRequest request;
    StopGrab(request);
}

void CDevice::CancelSingleShot()
{
    static const CCancelSingleShotRequest request;
    StopGrab(request);
}

IRegisterSet* CDevice::GetRegisterSet(int id)
{
    switch (id) {
    case 1024: return &cameraRegisters;
    case 1025: return &driverRegisters;
    case 1026: return &featureProbe;
    default: return nullptr;
    }
}

void CDevice::ConfigureFormat7()
{
    uint32_t format = 0, mode = 0, rate = 0;
    camera.GetVideoMode(format, mode, rate);
    if (format != 7 || !camera.IsVideoModeSupported(7, int32_t(mode))) {
        bool found = false;
        for (uint32_t m = 0; m < 8 && !found; ++m) {
            if (camera.IsVideoModeSupported(7, int32_t(m))) {
                mode = m;
                found = true;
            }
        }
        if (!found)
            throw CCommonException(0xCEF00005, 226, sourceFile);
        camera.SetVideoMode(7, mode, uint32_t(-1));
    }
    ::Rhea::CRhea::CFormatSeven& seven = camera.formatSeven[int(mode)];

    uint32_t coding = seven.ColorCoding();
    if (!seven.ColorCoding.IsSupported(coding)) {
        bool found = false;
        for (uint32_t c = 0; c <= 10 && !found; ++c) {
            if (seven.ColorCoding.IsSupported(c)) {
                coding = c;
                found = true;
            }
        }
        if (!found)
            throw CCommonException(0xCEF00005, 249, sourceFile);
    }
    seven.ColorCoding = coding;

    const auto maximum = seven.MaxSize();
    const auto size = seven.ImageSize();
    if (size.first == 0 || size.second == 0 || size.first > maximum.first || size.second > maximum.second)
        seven.ImageSize = maximum;

    const uint32_t bytes = seven.BytePerPacket();
    const uint32_t maxBytes = seven.BytePerPacket.Max();
    if (bytes == 0 || seven.PacketsPerFrame() <= 1 || bytes > maxBytes)
        seven.BytePerPacket = maxBytes;
}

// ---- grabbing ---------------------------------------------------------------

void CDevice::StartGrab(const CStartGrabRequest& request, bool singleShot)
{
    if (removed)
        throw CException(ErrorRemoved, 376, sourceFile);
    uint32_t count = 0;
    uint32_t current = 0;
    try {
        uint32_t format = 0, mode = 0, rate = 0;
        camera.GetVideoMode(format, mode, rate);
        if (format != 7)
            throw CException(ErrorNotFormat7, __LINE__, "Device.cpp", format, mode);
        ::Rhea::CRhea::CFormatSeven& seven = camera.formatSeven[int(mode)];
        const auto size = seven.ImageSize();
        width = size.first;
        height = size.second;
        colorCoding = seven.ColorCoding();
        imageBytes = seven.BytePerFrame();
        cameraWritesHeader = IsFeatureOn(FeatureImageHeader);
        hasCheckWord = IsFeatureOn(FeatureCheckWord);
        count = singleShot ? 1 : bufferCount;
        camera.AllocateResources(count, imageBytes, 0);
        try {
            camera.continuousShot = !singleShot;
            current = generation.fetch_add(1) + 1;
            grabbing = true;
            Post(KindRequest, reinterpret_cast<uintptr_t>(static_cast<const CRequest*>(&request)));
        } catch (...) {
            grabbing = false;
            try {
                camera.continuousShot = false;
                camera.FreeResources();
            } catch (const RheaException&) {
            }
            throw;
        }
    } catch (const RheaException& e) {
        throw DriverError(414, e);
    }

    const uint32_t blockBytes = cameraWritesHeader ? imageBytes : imageBytes + HeaderBytes;
    try {
        for (uint32_t i = 0; i < count; ++i) {
            CMemBlock* block = SafeNew<CMemBlock>(link, singleShot, current);
            try {
                block->Allocate(blockBytes, GetDefaultAllocator().Get());
            } catch (...) {
                delete block;
                throw;
            }
            block->imageBytes = imageBytes;
            block->cameraWritesHeader = cameraWritesHeader;
            block->width = width;
            block->height = height;
            block->colorCoding = colorCoding;
            Recycle(block);
        }
    } catch (...) {
        try {
            if (singleShot)
                CancelSingleShot();
            else
                StopContinuousGrab();
        } catch (...) {
        }
        throw;
    }
}

void CDevice::StopGrab(const CStopGrabRequest& request)
{
    if (removed)
        throw CException(ErrorRemoved, 457, sourceFile);
    grabbing = false;
    try {
        camera.continuousShot = false;
        camera.Cancel();
        camera.FreeResources();
        Post(KindRequest, reinterpret_cast<uintptr_t>(static_cast<const CRequest*>(&request)));
    } catch (const RheaException& e) {
        throw DriverError(471, e);
    }
}

void CDevice::OnQueryRemove(::Rhea::CRhea*, uintptr_t user)
{
    auto* device = reinterpret_cast<CDevice*>(user);
    device->removed = true;
    device->grabbing = false;
    try {
        device->Post(KindRemoved, 0);
    } catch (const RheaException&) {
        // Nothing to report to on this thread; the next request fails with
        // "removed" instead.
    }
}

// ---- the pumper -------------------------------------------------------------

uint32_t CDevice::Queue(CMemBlock* block)
{
    if (!grabbing || block->generation != generation) {
        delete block;
        return 0;
    }
    void* data = block->Lock();
    try {
        camera.GrabImageAsync(data, block->imageBytes, reinterpret_cast<uintptr_t>(block), false);
    } catch (const RheaException& e) {
        const bool stale = block->generation != generation;
        block->Unlock();
        delete block;
        // A stop on another thread cancelling the buffer or freeing the
        // resources while it was being queued, or the camera going away
        // meanwhile (reported as the device's failure): nothing failed.
        if (e.GetCode() == ErrorAborted || !grabbing || stale || removed)
            return 0;
        CException error = DriverError(__LINE__, e);
        sink->OnError(error);
        return 0;
    }
    if (block->singleShot) {
        try {
            camera.oneShot.SetAsync();
        } catch (const RheaException& e) {
            if (e.GetCode() != ErrorAborted && grabbing && !removed) {
                CException error = DriverError(__LINE__, e);
                sink->OnError(error);
            }
        }
    }
    return 1;
}

void CDevice::WriteImageHeader(CMemBlock* block)
{
    auto* bytes = static_cast<unsigned char*>(block->Lock());
    CImageChunk header;
    std::memcpy(&header, bytes + block->imageBytes, sizeof header);
    uint32_t bits = 0;
    try {
        bits = ::Rhea::RheaUtility::BitsPerPixel(block->colorCoding);
    } catch (const RheaException&) {
        // An unknown coding gets a header with pitch 0 rather than no frame.
    }
    header.pitch = int32_t((bits + 7) / 8 * block->width);
    header.bitDepth = 0;
    header.x = 0;
    header.y = 0;
    header.height = uint16_t(block->height);
    header.width = uint16_t(block->width);
    header.pixelType = uint8_t(block->colorCoding);
    header.filterPattern = 0;
    std::memcpy(bytes + block->imageBytes, &header, sizeof header);
    CChunk::At(bytes + block->imageBytes + sizeof header)->Set(GUID_ImageChunk, block->imageBytes + HeaderBytes);
    block->Unlock();
}

void CDevice::Deliver(CMemBlock* block)
{
    CSmartPointer<IMemBlock> hold(block);
    block->Unlock();
    if (!block->cameraWritesHeader)
        WriteImageHeader(block);
    try {
        sink->OnChunkBuffer(block);
    } catch (Tav::CException& e) {
        sink->OnError(e);
    }
}

void CDevice::Pump()
{
    while (!(closing && outstanding == 0)) {
        uint32_t kind = 0, error = 0;
        uintptr_t context = 0;
        camera.GetCompletion(kind, error, context, closing ? 3000 : Platform::Infinite);
        try {
            if (kind == ::Rhea::KindImageBuffer && context) {
                auto* block = reinterpret_cast<CMemBlock*>(context);
                --outstanding;
                if (error == 0) {
                    Deliver(block);
                } else if (error == ErrorIncompleteFrame || error == ErrorAborted) {
                    // A buffer aborted while the grab goes on goes back to the
                    // driver, or the ring would shrink until the grab starves;
                    // after a stop Queue drops it.
                    block->Unlock();
                    outstanding += Queue(block);
                } else {
                    block->Unlock();
                    delete block;
                    throw RheaException(error, "CDevice::Pump()");
                }
                continue;
            }
            if (error != 0) {
                if (kind != ::Rhea::KindOneShot && error != Platform::WaitTimeout)
                    throw RheaException(error, "CDevice::Pump()");
                continue;
            }
            switch (kind) {
            case KindRequest: reinterpret_cast<const CRequest*>(context)->Execute(*this); break;
            case KindRemoved: sink->OnStateChanged(4); break;
            case KindRecycle: outstanding += Queue(reinterpret_cast<CMemBlock*>(context)); break;
            default: break;
            }
        } catch (const RheaException& e) {
            CException wrapped = DriverError(794, e);
            try {
                sink->OnError(wrapped);
            } catch (...) {
            }
        } catch (Tav::CException& e) {
            try {
                sink->OnError(e);
            } catch (...) {
            }
        }
    }
}

void CDevice::CPumperThread::Run()
{
    Platform::Thread::SetCurrentPriority(Platform::ThreadPriority::TimeCritical);
    owner.Pump();
    {
        // From here blocks released downstream delete themselves.
        std::lock_guard<std::mutex> guard(owner.link->mutex);
        finished = true;
    }
    // Blocks handed back before that are still on the port.
    for (;;) {
        uint32_t kind = 0, error = 0;
        uintptr_t context = 0;
        owner.camera.GetCompletion(kind, error, context, 0);
        if (kind == 0)
            break;
        if (kind == KindRecycle && context)
            delete reinterpret_cast<CMemBlock*>(context);
    }
    if (!owner.removed) {
        try {
            owner.camera.Close();
        } catch (const RheaException& e) {
            CException wrapped = DriverError(__LINE__, e);
            try {
                owner.sink->OnError(wrapped);
            } catch (...) {
            }
        }
    }
}

// ---- camera quadlets and the feature probe ------------------------------------

uint32_t CDevice::CRheaDevice::ReadQuadlet(uint64_t address)
{
    const uint32_t in[2] = {uint32_t(address), uint32_t(address >> 32)};
    uint32_t value = 0;
    if (!Transmit(ReadQuadletCode, in, sizeof in, &value, sizeof value))
        throw RheaException(Platform::GetLastError(), "");
    return value;
}

void CDevice::CRheaDevice::WriteQuadlet(uint64_t address, uint32_t value)
{
    const uint32_t in[3] = {uint32_t(address), uint32_t(address >> 32), value};
    if (!Transmit(WriteQuadletCode, in, sizeof in, nullptr, 0))
        throw RheaException(Platform::GetLastError(), "");
}

uint64_t CDevice::ProbeFeature(const GUID& feature)
{
    try {
        if (!(camera.ReadQuadlet(BasicFunctionInquiry) & 0x80000000u))
            return 0;
        const uint32_t offset = camera.ReadQuadlet(AdvancedFeatureInquiry);
        if (offset == 0)
            return 0;
        const uint64_t access = RegisterBase + uint64_t(offset) * 4;
        camera.WriteQuadlet(access, uint32_t(accessKey >> 16));
        camera.WriteQuadlet(access + 4, uint32_t(accessKey & 0xFFFF) << 16 | 0xF000u);
        const uint32_t first = camera.ReadQuadlet(access);
        const uint32_t second = camera.ReadQuadlet(access + 4);
        if ((first & second) == 0xFFFFFFFFu)
            return 0;
        uint32_t words[4];
        std::memcpy(words, &feature, sizeof words);
        for (int i = 0; i < 4; ++i)
            camera.WriteQuadlet(access + 0x10 + 4 * i, words[i]);
        const uint32_t low = camera.ReadQuadlet(access + 0x20);
        const uint32_t high = camera.ReadQuadlet(access + 0x24);
        return uint64_t(high) << 32 | low;
    } catch (const RheaException& e) {
        if (e.GetCode() == ErrorDataError)
            return 0;
        throw;
    }
}

bool CDevice::IsFeatureOn(const GUID& feature)
{
    if (removed)
        throw CException(ErrorRemoved, 498, sourceFile);
    if (!isMakerCamera)
        return false;
    try {
        const uint64_t address = ProbeFeature(feature);
        if (address == 0)
            return false;
        const uint32_t value = camera.ReadQuadlet(address);
        return (value & 0x80000001u) == 0x80000001u;
    } catch (const RheaException& e) {
        throw DriverError(511, e);
    }
}

// ---- register sets ------------------------------------------------------------

void CDevice::CCameraRegisterSet::Read(uint64_t address, void* buffer, uint32_t length)
{
    if (length != 4 || !buffer)
        throw CCommonException(0xCEF00006, 809, sourceFile);
    if (owner.removed)
        throw CException(ErrorRemoved, __LINE__, "Device.cpp");
    try {
        const uint32_t value = owner.camera.ReadQuadlet(address);
        std::memcpy(buffer, &value, 4);
    } catch (const RheaException& e) {
        throw DriverError(829, e);
    }
}

void CDevice::CCameraRegisterSet::Write(uint64_t address, const void* buffer, uint32_t length)
{
    if (length != 4 || !buffer)
        throw CCommonException(0xCEF00006, 846, sourceFile);
    if (owner.removed)
        throw CException(ErrorRemoved, __LINE__, "Device.cpp");
    uint32_t value;
    std::memcpy(&value, buffer, 4);
    try {
        owner.camera.WriteQuadlet(address, value);
    } catch (const RheaException& e) {
        throw DriverError(866, e);
    }
}

void CDevice::CBriskFeatureProbeRegisterSet::Read(uint64_t address, void* buffer, uint32_t length)
{
    if (owner.removed)
        throw CException(ErrorRemoved, __LINE__, "Device.cpp");
    if (length != 8 || !buffer)
        throw CCommonException(0xCEF00006, 890, sourceFile);
    if (address != 1)
        throw CException(ErrorProbeAddress, 901, sourceFile, uint32_t(address), uint32_t(address >> 32));
    uint64_t result = 0;
    try {
        result = owner.ProbeFeature(guid);
    } catch (const RheaException& e) {
        throw DriverError(__LINE__, e);
    }
    std::memcpy(buffer, &result, 8);
}

void CDevice::CBriskFeatureProbeRegisterSet::Write(uint64_t address, const void* buffer, uint32_t length)
{
    if (owner.removed)
        throw CException(ErrorRemoved, __LINE__, "Device.cpp");
    if (length != 16 || !buffer)
        throw CCommonException(0xCEF00006, 929, sourceFile);
    if (address != 0)
        throw CException(ErrorProbeAddress, 933, sourceFile, uint32_t(address), uint32_t(address >> 32));
    std::memcpy(&guid, buffer, sizeof guid);
}

namespace {
constexpr uint32_t lastDriverRegister = 20;

bool IsWritable(uint32_t index)
{
    switch (index) {
    case 3: case 4: case 5: case 10: case 11: case 14: case 18: return true;
    default: return false;
    }
}
} // namespace

::Rhea::CRhea::CFormatSeven& CDevice::CRheaRegisterSet::Mode(uint64_t address)
{
    if (owner.removed)
        throw CException(ErrorRemoved, __LINE__, "Device.cpp");
    const uint32_t index = uint32_t(address), high = uint32_t(address >> 32);
    if (high != 0 || index > lastDriverRegister || index == 19)
        throw CException(ErrorNoRegister, __LINE__, "Device.cpp", index, high);
    uint32_t format = 0, mode = 0, rate = 0;
    owner.camera.GetVideoMode(format, mode, rate);
    if (format != 7)
        throw CException(ErrorNotFormat7, __LINE__, "Device.cpp", format, mode);
    return owner.camera.formatSeven[int(mode)];
}

void CDevice::CRheaRegisterSet::Read(uint64_t address, void* buffer, uint32_t length)
{
    if (!buffer)
        throw CCommonException(0xCEF00006, 980, sourceFile);
    try {
        ::Rhea::CRhea::CFormatSeven& seven = Mode(address);
        const uint32_t index = uint32_t(address);
        if (index <= 1) {
            const std::string text = index == 0 ? owner.description : owner.camera.info.CameraFirmwareVersion();
            if (length == 0)
                throw CCommonException(0xCEF00006, 962, sourceFile);
            const size_t n = std::min<size_t>(text.size(), length - 1);
            std::memcpy(buffer, text.data(), n);
            static_cast<char*>(buffer)[n] = '\0';
            return;
        }
        if (index == 20) {
            if (length < 32)
                throw CCommonException(0xCEF00006, 962, sourceFile);
            uint32_t words[14] = {};
            seven.Inquiry(words);
            std::memcpy(buffer, words + 6, 32);
            return;
        }
        if (length < 4)
            throw CCommonException(0xCEF00006, 962, sourceFile);
        uint32_t value = 0;
        switch (index) {
        case 2:
            for (int m = 0; m < 8; ++m)
                if (owner.camera.IsVideoModeSupported(7, m))
                    value |= 1u << m;
            break;
        case 3: value = seven.Mode(); break;
        case 4: value = seven.ImageSize().first; break;
        case 5: value = seven.ImageSize().second; break;
        case 6: value = seven.MaxSize().first; break;
        case 7: value = seven.MaxSize().second; break;
        case 8: value = seven.ImageSize.Inc().first; break;
        case 9: value = seven.ImageSize.Inc().second; break;
        case 10: value = seven.ImagePosition().first; break;
        case 11: value = seven.ImagePosition().second; break;
        case 12: value = seven.ImagePosition.Inc().first; break;
        case 13: value = seven.ImagePosition.Inc().second; break;
        case 14: value = seven.BytePerPacket(); break;
        case 15: {
            const uint32_t increment = seven.BytePerPacket.Inc();
            value = (seven.BytePerFrame() + 4094) / 4095;
            if (increment > 1)
                value = (value + increment - 1) / increment * increment;
            break;
        }
        case 16: value = seven.BytePerPacket.Max(); break;
        case 17: value = seven.BytePerPacket.Inc(); break;
        case 18: value = seven.ColorCoding(); break;
        default: break;
        }
        std::memcpy(buffer, &value, 4);
    } catch (const RheaException& e) {
        throw DriverError(__LINE__, e);
    }
}

void CDevice::CRheaRegisterSet::Write(uint64_t address, const void* buffer, uint32_t length)
{
    if (!buffer)
        throw CCommonException(0xCEF00006, 980, sourceFile);
    try {
        ::Rhea::CRhea::CFormatSeven& seven = Mode(address);
        const uint32_t index = uint32_t(address), high = uint32_t(address >> 32);
        if (index == 15)
            throw CException(ErrorNoRegister, __LINE__, "Device.cpp", index, high);
        if (!IsWritable(index))
            throw CException(ErrorReadOnly, __LINE__, "Device.cpp", index, high);
        if (length != 4)
            throw CCommonException(0xCEF00006, 1188, sourceFile);
        uint32_t value;
        std::memcpy(&value, buffer, 4);
        switch (index) {
        case 3: owner.camera.SetVideoMode(7, value, uint32_t(-1)); break;
        case 4: seven.ImageSize = {value, seven.ImageSize().second}; break;
        case 5: seven.ImageSize = {seven.ImageSize().first, value}; break;
        case 10: seven.ImagePosition = {value, seven.ImagePosition().second}; break;
        case 11: seven.ImagePosition = {seven.ImagePosition().first, value}; break;
        case 14: seven.BytePerPacket = value; break;
        case 18: seven.ColorCoding = value; break;
        default: break;
        }
    } catch (const RheaException& e) {
        throw DriverError(__LINE__, e);
    }
}

} // namespace Tav::Hal::Rhea
