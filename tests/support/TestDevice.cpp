#include "support/TestDevice.h"

#include "Common/Exception.h"
#include "Core/Crc16.h"
#include "DataBuffer/AllocMemBlock.h"
#include "DataBuffer/Chunk.h"
#include "DataBuffer/Guid.h"
#include "DataBuffer/ImageChunk.h"
#include "DataBuffer/RtlHeapAllocator.h"

#include <chrono>
#include <cstring>

namespace TavTest {

using namespace Tav;

TestDevice::TestDevice(bool hasCheckWord) : hasCheckWord(hasCheckWord), thread([this] { Run(); }) {}

TestDevice::~TestDevice()
{
    {
        std::lock_guard<std::mutex> guard(mutex);
        ending = true;
        held = false;
    }
    changed.notify_all();
    thread.join();
    if (last == this)
        last = nullptr;
}

CDeviceController::IDevice* TestDevice::OpenTestDevice(const CDeviceDescriptor* descriptor, IChunkBufferSink* sink)
{
    auto* device = new TestDevice(nextHasCheckWord);
    last = device;
    if (nextHeld)
        device->Hold();
    device->Open(*descriptor, sink);
    return device;
}

void TestDevice::Run()
{
    std::unique_lock<std::mutex> guard(mutex);
    for (;;) {
        changed.wait(guard, [this] { return (!held && !tasks.empty()) || (ending && tasks.empty()); });
        if (tasks.empty())
            return;
        std::function<void()> task = std::move(tasks.front());
        tasks.pop_front();
        busy = true;
        guard.unlock();
        task();
        guard.lock();
        busy = false;
        changed.notify_all();
    }
}

void TestDevice::Post(std::function<void()> task)
{
    {
        std::lock_guard<std::mutex> guard(mutex);
        tasks.push_back(std::move(task));
    }
    changed.notify_all();
}

void TestDevice::Record(const std::string& call)
{
    {
        std::lock_guard<std::mutex> guard(mutex);
        calls.push_back(call);
    }
    changed.notify_all();
}

void TestDevice::Operation(const char* name, int reportedState)
{
    bool fail = false, mute = false;
    {
        std::lock_guard<std::mutex> guard(mutex);
        calls.push_back(name);
        fail = failOperation == name;
        if (fail)
            failOperation.clear();
        mute = muteOperation == name;
        if (mute)
            muteOperation.clear();
    }
    changed.notify_all();
    if (fail)
        throw CCommonException(0xCEF00001, __LINE__, "TestDevice.cpp", name);
    if (!mute)
        Report(reportedState);
}

void TestDevice::Open(const CDeviceDescriptor& descriptor, IChunkBufferSink* newSink)
{
    sink = newSink;
    Operation(("Open " + descriptor.GetName()).c_str(), 1);
}

void TestDevice::Close()
{
    Operation("Close", 0);
}

void TestDevice::StartContinuousGrab()
{
    Operation("StartContinuousGrab", 2);
}

void TestDevice::StopContinuousGrab()
{
    Operation("StopContinuousGrab", 1);
}

void TestDevice::InitSingleShot()
{
    Operation("InitSingleShot", 3);
}

void TestDevice::CancelSingleShot()
{
    Operation("CancelSingleShot", 1);
}

IRegisterSet* TestDevice::GetRegisterSet(int id)
{
    if (id >= 1024 && id <= 1026)
        return &registers[id - 1024];
    return nullptr;
}

void TestDevice::Deliver(const CSmartPointer<IMemBlock>& block)
{
    Post([this, block] {
        Record("delivered");
        sink->OnChunkBuffer(block.Get());
    });
}

void TestDevice::Report(int state)
{
    Post([this, state] {
        Record("reported " + std::to_string(state));
        sink->OnStateChanged(state);
    });
}

void TestDevice::RaiseError(uint32_t code)
{
    Post([this, code] {
        CCommonException error(code, __LINE__, "TestDevice.cpp");
        sink->OnError(error);
    });
}

void TestDevice::FailNext(const std::string& operation)
{
    std::lock_guard<std::mutex> guard(mutex);
    failOperation = operation;
}

void TestDevice::MuteNext(const std::string& operation)
{
    std::lock_guard<std::mutex> guard(mutex);
    muteOperation = operation;
}

void TestDevice::Hold()
{
    std::lock_guard<std::mutex> guard(mutex);
    held = true;
}

void TestDevice::Resume()
{
    {
        std::lock_guard<std::mutex> guard(mutex);
        held = false;
    }
    changed.notify_all();
}

void TestDevice::WaitIdle()
{
    std::unique_lock<std::mutex> guard(mutex);
    changed.wait(guard, [this] { return tasks.empty() && !busy; });
}

bool TestDevice::WaitForCall(const std::string& call)
{
    std::unique_lock<std::mutex> guard(mutex);
    return changed.wait_for(guard, std::chrono::seconds(10), [&] {
        for (const std::string& c : calls)
            if (c == call)
                return true;
        return false;
    });
}

std::vector<std::string> TestDevice::Calls()
{
    std::lock_guard<std::mutex> guard(mutex);
    return calls;
}

CSmartPointer<IMemBlock> MakeMono8Frame(int width, int height, CheckWord checkWord, uint8_t seed)
{
    const uint32_t pixels = uint32_t(width) * uint32_t(height);
    const uint32_t chunkLength = pixels + ImageChunkOverhead;
    const uint32_t size = chunkLength + (checkWord == CheckWord::None ? 0 : 4);
    CSmartPointer<IMemBlock> block = CAllocMemBlock::Create(size, GetDefaultAllocator());
    auto* data = static_cast<unsigned char*>(block->Lock());
    for (uint32_t i = 0; i < pixels; ++i)
        data[i] = static_cast<unsigned char>(seed + i);
    CImageChunk header{};
    header.pitch = width;
    header.bitDepth = 8;
    header.width = static_cast<uint16_t>(width);
    header.height = static_cast<uint16_t>(height);
    header.pixelType = PixelTypeMono8;
    std::memcpy(data + pixels, &header, sizeof header);
    CChunk::At(data + pixels + sizeof header)->Set(GUID_ImageChunk, chunkLength);
    if (checkWord != CheckWord::None) {
        uint32_t word = Crc16Xmodem(data, chunkLength);
        if (checkWord == CheckWord::Bad)
            word ^= 0x0100;
        StoreU32(data + chunkLength, word);
    }
    block->Unlock();
    return block;
}

} // namespace TavTest
