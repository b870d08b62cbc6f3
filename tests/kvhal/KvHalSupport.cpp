#include "KvHalSupport.h"

#include "Core/ErrorChunk.h"
#include "DataBuffer/Guid.h"

namespace TavTest {

using namespace Tav;

void Record(Recording& recording, int port, const CSmartPointer<IPacket>& packet)
{
    std::lock_guard<std::mutex> guard(recording.mutex);
    if (port == 1) {
        if (CChunkPtr<CImageChunk> image = FindTypedChunk<CImageChunk>(*packet, GUID_ImageChunk)) {
            Recording::Frame frame{};
            frame.header = *image.Get();
            CChunkPtr<CChunk> counter = FindTypedChunk<CChunk>(*packet, GUID_FrameCounterChunk);
            frame.hasCounter = bool(counter);
            frame.counter = counter ? ReadChunkValue(counter) : 0;
            int size = 0;
            const auto* pixels = static_cast<const uint8_t*>(image.LockData(&size));
            const int pitch = frame.header.pitch < 0 ? -frame.header.pitch : frame.header.pitch;
            frame.firstLine.assign(pixels, pixels + std::min(size, pitch));
            image.UnlockData();
            recording.frames.push_back(std::move(frame));
            if (recording.onImage)
                recording.onImage(packet);
        } else if (CChunkPtr<CChunk> marker = FindTypedChunk<CChunk>(*packet, GUID_AcquisitionMarkerChunk)) {
            recording.markers.push_back(ReadChunkValue(marker));
        }
    } else if (port == 2) {
        if (CChunkPtr<CChunk> state = FindTypedChunk<CChunk>(*packet, GUID_DeviceStateChunk))
            recording.states.push_back(int(ReadChunkValue(state)));
    } else if (port == 0) {
        if (CChunkPtr<CChunk> error = FindTypedChunk<CChunk>(*packet, GUID_ErrorChunk))
            recording.errors.push_back(ReadErrorChunk(error).code);
    }
    recording.changed.notify_all();
}

ControllerRig::ControllerRig(const char* plugIn) : choice(plugIn)
{
    controller = dynamic_cast<CDeviceController*>(factory.GetObject("DeviceController"));
    if (!controller)
        throw std::runtime_error("no device controller");
    const int ports[] = {0, 1, 2};
    for (int port : ports) {
        auto* sink = new CollectingSink;
        sink->keepPackets = false;
        sink->onData = [this, port](int, const CSmartPointer<IPacket>& packet) { Record(recording, port, packet); };
        const std::string name = "Sink" + std::to_string(port);
        factory.Register(name, sink);
        linker.Link(controller, port, sink, 1);
    }
}

ControllerRig::~ControllerRig()
{
    controller->CloseDevice();
    linker.UnlinkAll();
}

bool ControllerRig::WaitForState(int state, int milliseconds)
{
    return recording.WaitFor([&](Recording& r) { return !r.states.empty() && r.states.back() == state; },
                             milliseconds);
}

void ControllerRig::Control(uint64_t address, uint8_t value)
{
    controller->Push(1, CRegisterRequest::Write(address, &value, 1).GetPacket());
}

uint32_t ControllerRig::ReadU32(int port, uint64_t address)
{
    CRegisterRequest request = CRegisterRequest::Read(address, 4);
    controller->Push(port, request.GetPacket());
    return request.GetValue<uint32_t>();
}

void ControllerRig::WriteU32(int port, uint64_t address, uint32_t value)
{
    controller->Push(port, CRegisterRequest::Write(address, &value, 4).GetPacket());
}

std::string ControllerRig::ReadText(int port, uint64_t address)
{
    CRegisterRequest request = CRegisterRequest::Read(address, 256);
    controller->Push(port, request.GetPacket());
    const char* text = reinterpret_cast<const char*>(request.GetData());
    return std::string(text, strnlen(text, request.GetDataSize()));
}

uint32_t ErrorCode(const std::function<void()>& action)
{
    try {
        action();
    } catch (const CException& e) {
        return e.GetCode();
    }
    return 0;
}

std::vector<CDeviceDescriptor> EnumerateWith(const char* plugIn)
{
    CHalPlugin plugin;
    plugin.Load(plugIn);
    std::vector<CDeviceDescriptor> devices;
    plugin.GetEnumDevices()(
        [](const CDeviceDescriptor* descriptor, void* context) {
            static_cast<std::vector<CDeviceDescriptor>*>(context)->push_back(*descriptor);
        },
        &devices);
    return devices;
}

} // namespace TavTest
