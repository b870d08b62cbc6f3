#include "Device.h"

#include "DeviceDescriptor.h"

#include "DataBuffer/Chunk.h"
#include "DataBuffer/Guid.h"
#include "DataBuffer/ImageChunk.h"
#include "DataBuffer/RtlHeapAllocator.h"

#include "Common/Exception.h"

#include <chrono>
#include <cstring>
#include <optional>

namespace Tav::Hal::Sapera {

namespace {

// Behind the pixels: image header and trailer, then the frame counter.
constexpr uint32_t trailerBytes = ImageChunkOverhead + 28;

const char* const sourceFile = "Device.cpp";

// The camera layer's register errors.
struct CameraLayerResourceName {
    static const char* GetName() { return "TavRheaHalError.dll"; }
};
using CRegisterException = CExceptionDerivation<CameraLayerResourceName>;
constexpr uint32_t ErrorNoRegister = 0xCEF30003;
constexpr uint32_t ErrorReadOnly = 0xCEF30004;

} // namespace

std::atomic<int> CDevice::liveBlocks{0};

CDevice::CMemBlock::CMemBlock(std::shared_ptr<COwnerLink> owner, uint32_t size) : owner(std::move(owner))
{
    Allocate(size, GetDefaultAllocator().Get());
    liveBlocks.fetch_add(1);
}

CDevice::CMemBlock::~CMemBlock() { liveBlocks.fetch_sub(1); }

void CDevice::CMemBlock::DeleteThis()
{
    std::shared_ptr<COwnerLink> link = owner;
    std::lock_guard<std::mutex> guard(link->mutex);
    if (link->device)
        link->device->Give(this);
    else
        delete this;
}

void CDevice::Give(CMemBlock* block)
{
    {
        std::lock_guard<std::mutex> guard(mutex);
        freeBlocks.push_back(block);
    }
    changed.notify_one();
}

CDevice::CDevice() : boardRegisters(*this), thread(*this), link(std::make_shared<COwnerLink>()) {}

CDevice::~CDevice()
{
    if (thread.started) {
        Close();
        thread.Join(-1);
    }
    {
        std::lock_guard<std::mutex> guard(link->mutex);
        link->device = nullptr;
    }
    std::lock_guard<std::mutex> guard(mutex);
    for (CMemBlock* block : freeBlocks)
        delete block;
    freeBlocks.clear();
}

void CDevice::Open(const Tav::CDeviceDescriptor& descriptor, IChunkBufferSink* newSink)
{
    sink = newSink;
    // A plain descriptor or a Sapera one: its own name is the ini file either
    // way, and the Sapera descriptor reads the board's name from it.
    const std::string iniFile = descriptor.Tav::CDeviceDescriptor::GetName();
    const Sapera::CDeviceDescriptor board(iniFile, descriptor.GetDescription());
    grabber = std::make_unique<CFrameGrabber>(Sapera::CDeviceDescriptor::LocalPath(iniFile), board.GetName());
    {
        std::lock_guard<std::mutex> guard(mutex);
        for (uint32_t i = 0; i < bufferCount; ++i) {
            std::unique_ptr<CMemBlock> block(new CMemBlock(link, grabber->ImageBytes() + trailerBytes));
            freeBlocks.push_back(block.get());
            block.release();
        }
    }
    {
        std::lock_guard<std::mutex> guard(link->mutex);
        link->device = this;
    }
    thread.CreateThreadResources();
    Post(Request::Open);
    thread.StartThread();
    thread.started = true;
}

void CDevice::Close()
{
    if (!thread.started || closePosted.exchange(true))
        return;
    Post(Request::Close);
}

void CDevice::StartContinuousGrab() { Post(Request::StartContinuous); }
void CDevice::InitSingleShot() { Post(Request::StartSingle); }
void CDevice::StopContinuousGrab() { Post(Request::Stop); }
void CDevice::CancelSingleShot() { Post(Request::Stop); }

void CDevice::CBoardRegisterSet::Read(uint64_t address, void* buffer, uint32_t length)
{
    if (!buffer || length == 0)
        throw CCommonException(0xCEF00006, __LINE__, sourceFile);
    const uint32_t index = uint32_t(address), high = uint32_t(address >> 32);
    const CFrameGrabber& grabber = *owner.grabber;
    if (high == 0 && index == 0) {
        const std::string& text = grabber.BoardName();
        const size_t n = std::min<size_t>(text.size(), length - 1);
        std::memcpy(buffer, text.data(), n);
        static_cast<char*>(buffer)[n] = '\0';
        return;
    }
    uint32_t value = 0;
    switch (high == 0 ? index : uint32_t(-1)) {
    case 4: value = grabber.Width(); break;
    case 5: value = grabber.Height(); break;
    case 18: value = grabber.Coding(); break;
    default: throw CRegisterException(ErrorNoRegister, __LINE__, sourceFile, index, high);
    }
    if (length < 4)
        throw CCommonException(0xCEF00006, __LINE__, sourceFile);
    std::memcpy(buffer, &value, 4);
}

void CDevice::CBoardRegisterSet::Write(uint64_t address, const void*, uint32_t)
{
    const uint32_t index = uint32_t(address), high = uint32_t(address >> 32);
    if (high != 0 || (index != 0 && index != 4 && index != 5 && index != 18))
        throw CRegisterException(ErrorNoRegister, __LINE__, sourceFile, index, high);
    // The frame is the ini file's.
    throw CRegisterException(ErrorReadOnly, __LINE__, sourceFile, index, high);
}

void CDevice::Post(Request request)
{
    {
        std::lock_guard<std::mutex> guard(mutex);
        requests.push_back(request);
    }
    changed.notify_one();
}

void CDevice::Report(int state)
{
    reportedState = state;
    try {
        sink->OnStateChanged(state);
    } catch (...) {
    }
}

void CDevice::CGrabberThread::Run() { owner.Run(); }

void CDevice::Run()
{
    using Clock = std::chrono::steady_clock;
    const double rate = grabber->FrameRate();
    const auto period = rate > 0 ? std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / rate))
                                 : Clock::duration::zero();
    Clock::time_point next = Clock::now();
    for (;;) {
        std::optional<Request> request;
        const bool grabbing = reportedState == 2 || (reportedState == 3 && !singleShotTaken);
        {
            std::unique_lock<std::mutex> guard(mutex);
            auto pending = [this] { return !requests.empty(); };
            if (!grabbing)
                changed.wait(guard, pending);
            else if (rate > 0)
                changed.wait_until(guard, next, pending);
            else
                changed.wait(guard, [this] { return !requests.empty() || !freeBlocks.empty(); });
            if (!requests.empty()) {
                request = requests.front();
                requests.pop_front();
            }
        }
        if (!request) {
            if (grabbing && Clock::now() >= next) {
                DeliverFrame();
                // A late frame does not make the next ones come faster.
                next = std::max(next + period, Clock::now() - period);
            }
            continue;
        }
        switch (*request) {
        case Request::Open: Report(1); break;
        case Request::StartContinuous:
        case Request::StartSingle:
            if (reportedState != 1)
                break;
            singleShotTaken = false;
            next = Clock::now();
            Report(*request == Request::StartSingle ? 3 : 2);
            break;
        case Request::Stop:
            if (reportedState == 2 || reportedState == 3)
                Report(1);
            break;
        case Request::Close:
            if (reportedState == 2 || reportedState == 3)
                Report(1);
            Report(0);
            return;
        }
    }
}

void CDevice::DeliverFrame()
{
    CMemBlock* block = nullptr;
    {
        std::lock_guard<std::mutex> guard(mutex);
        if (!freeBlocks.empty()) {
            block = freeBlocks.back();
            freeBlocks.pop_back();
        }
    }
    const uint32_t number = frame++;
    // No free buffer: the frame is lost, and the counter shows it.
    if (!block)
        return;
    CSmartPointer<IMemBlock> hold(block);
    auto* bytes = static_cast<unsigned char*>(block->Lock());
    const uint32_t imageBytes = grabber->ImageBytes();
    grabber->Fill(number, bytes);
    CImageChunk* header = InitImageChunk(bytes, imageBytes);
    header->pitch = int32_t(grabber->Width() * grabber->BytesPerPixel());
    header->bitDepth = uint8_t(grabber->BitDepth());
    header->x = 0;
    header->y = 0;
    header->height = uint16_t(grabber->Height());
    header->width = uint16_t(grabber->Width());
    header->pixelType = uint8_t(grabber->Coding());
    header->filterPattern = uint8_t(grabber->Coding() == Sim1394::Raw8 ? grabber->FilterPattern() : 0);
    unsigned char* counter = bytes + imageBytes + ImageChunkOverhead;
    StoreU32(counter, number);
    CChunk::At(counter + 4)->Set(GUID_FrameCounterChunk, 28);
    block->Unlock();
    if (reportedState == 3)
        singleShotTaken = true;
    try {
        sink->OnChunkBuffer(block);
    } catch (Tav::CException& e) {
        sink->OnError(e);
    }
}

} // namespace Tav::Hal::Sapera
