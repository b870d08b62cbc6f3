#include "Sim1394/Sim1394.h"

#include "Camera.h"
#include "Platform/DeviceDriver.h"
#include "Platform/DeviceNotification.h"
#include "Platform/SystemError.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <iterator>
#include <strings.h>

namespace Tav::Sim1394 {

using namespace Tav::Platform;
using Detail::Camera;

const Guid InterfaceClass{0xD535C794, 0xA527, 0x4B72, {0x92, 0x3A, 0x63, 0x02, 0x9F, 0xA5, 0xD8, 0x3B}};
const Guid ImageHeaderFeature{0x4E7ABCB0, 0x1B84, 0x11D8, {0x96, 0x51, 0x00, 0x10, 0x5A, 0x5B, 0xAE, 0x55}};
const Guid CheckWordFeature{0x3B34004E, 0x1B84, 0x11D8, {0x83, 0xB3, 0x00, 0x10, 0x5A, 0x5B, 0xAE, 0x55}};

namespace {

struct State {
    mutable std::mutex mutex;
    std::map<int, std::shared_ptr<Camera>> cameras; // present ones
    int nextId = 1;
};

State& Present()
{
    static State* state = new State; // frame clocks may run during exit
    return *state;
}

std::shared_ptr<Camera> Find(int id)
{
    State& s = Present();
    std::lock_guard<std::mutex> guard(s.mutex);
    auto it = s.cameras.find(id);
    return it == s.cameras.end() ? nullptr : it->second;
}

// Notifications name a device by its id, which is never reused.
const void* DeviceToken(int id)
{
    return reinterpret_cast<const void*>(uintptr_t(id));
}

class File final : public DeviceFile {
public:
    explicit File(std::shared_ptr<Camera> camera) : camera(std::move(camera)) {}
    const void* Device() const override { return DeviceToken(camera->Id()); }
    void Dispatch(const IoRequestPtr& request) override { camera->Dispatch(this, request); }
    void Cancel(uint64_t thread) override { camera->Cancel(this, thread); }
    void Close() override { camera->CloseFile(this); }

private:
    std::shared_ptr<Camera> camera;
};

class Driver final : public DeviceDriver {
public:
    std::vector<std::string> InterfacePaths(const Guid& interfaceClass) override
    {
        std::vector<std::string> paths;
        if (!(interfaceClass == InterfaceClass))
            return paths;
        State& s = Present();
        std::lock_guard<std::mutex> guard(s.mutex);
        for (const auto& [id, camera] : s.cameras)
            paths.push_back(camera->Path());
        return paths;
    }

    std::shared_ptr<DeviceFile> Open(const std::string& path, uint32_t& error) override
    {
        std::shared_ptr<Camera> found;
        {
            State& s = Present();
            std::lock_guard<std::mutex> guard(s.mutex);
            for (const auto& [id, camera] : s.cameras)
                if (strcasecmp(camera->Path().c_str(), path.c_str()) == 0)
                    found = camera;
        }
        if (!found) {
            error = ErrorFileNotFound;
            return nullptr;
        }
        return std::make_shared<File>(std::move(found));
    }
};

void StopClocks()
{
    State& s = Present();
    std::map<int, std::shared_ptr<Camera>> cameras;
    {
        std::lock_guard<std::mutex> guard(s.mutex);
        cameras = s.cameras;
    }
    for (auto& [id, camera] : cameras)
        camera->Shutdown();
}

} // namespace

Simulator& Simulator::Instance()
{
    static Simulator* simulator = new Simulator;
    return *simulator;
}

int Simulator::AddCamera(const CameraDescription& description)
{
    State& s = Present();
    std::shared_ptr<Camera> camera;
    {
        std::lock_guard<std::mutex> guard(s.mutex);
        const int id = s.nextId++;
        camera = std::make_shared<Camera>(id, description);
        s.cameras[id] = camera;
    }
    BroadcastInterfaceEvent(InterfaceClass, camera->Path(), DbtDeviceArrival);
    return camera->Id();
}

bool Simulator::RemoveCamera(int id, bool query)
{
    std::shared_ptr<Camera> camera = Find(id);
    if (!camera)
        return false;
    if (query && !BroadcastHandleEvent(DeviceToken(id), DbtDeviceQueryRemove)) {
        BroadcastHandleEvent(DeviceToken(id), DbtDeviceQueryRemoveFailed);
        return false;
    }
    {
        State& s = Present();
        std::lock_guard<std::mutex> guard(s.mutex);
        s.cameras.erase(id);
    }
    camera->Shutdown();
    BroadcastHandleEvent(DeviceToken(id), DbtDeviceRemoveComplete);
    BroadcastInterfaceEvent(InterfaceClass, camera->Path(), DbtDeviceRemoveComplete);
    return true;
}

bool Simulator::AbortRemoval(int id)
{
    if (!Find(id))
        return false;
    BroadcastHandleEvent(DeviceToken(id), DbtDeviceQueryRemove);
    BroadcastHandleEvent(DeviceToken(id), DbtDeviceQueryRemoveFailed);
    return true;
}

void Simulator::RemoveAllCameras()
{
    for (int id : Cameras())
        if (!RemoveCamera(id, true))
            RemoveCamera(id, false);
}

bool Simulator::LoadDescription(const std::string& text, std::string& error)
{
    std::vector<CameraDescription> cameras;
    if (!ParseDescription(text, cameras, error))
        return false;
    RemoveAllCameras();
    for (const CameraDescription& d : cameras)
        AddCamera(d);
    return true;
}

std::vector<int> Simulator::Cameras() const
{
    State& s = Present();
    std::lock_guard<std::mutex> guard(s.mutex);
    std::vector<int> ids;
    for (const auto& [id, camera] : s.cameras)
        ids.push_back(id);
    return ids;
}

std::string Simulator::DevicePath(int id) const
{
    auto camera = Find(id);
    return camera ? camera->Path() : std::string();
}

std::string Simulator::DeviceName(int id) const
{
    const std::string path = DevicePath(id);
    const size_t first = path.find('#');
    if (first == std::string::npos)
        return path;
    const size_t second = path.find('#', first + 1);
    const size_t third = second == std::string::npos ? std::string::npos : path.find('#', second + 1);
    return path.substr(first + 1, third == std::string::npos ? std::string::npos : third - first - 1);
}

void Simulator::FailRequests(int id, uint32_t code, uint32_t error, uint32_t count)
{
    if (auto camera = Find(id))
        camera->FailRequests(code, error, count);
}

void Simulator::FailBuffers(int id, uint32_t status, uint32_t count)
{
    if (auto camera = Find(id))
        camera->FailBuffers(status, count);
}

void Simulator::CorruptCheckWords(int id, uint32_t count)
{
    if (auto camera = Find(id))
        camera->CorruptCheckWords(count);
}

void Simulator::SetFrameRate(int id, double framesPerSecond)
{
    if (auto camera = Find(id))
        camera->SetFrameRate(framesPerSecond);
}

CameraStatistics Simulator::Statistics(int id) const
{
    auto camera = Find(id);
    return camera ? camera->Statistics() : CameraStatistics{};
}

bool Simulator::WaitForQueuedBuffers(int id, uint32_t count, int32_t milliseconds) const
{
    auto camera = Find(id);
    return camera && camera->WaitForQueuedBuffers(count, milliseconds);
}

void Install()
{
    static std::once_flag once;
    std::call_once(once, [] {
        RegisterDeviceDriver(std::make_shared<Driver>());
        std::atexit(StopClocks);
        std::vector<CameraDescription> cameras;
        if (const char* file = std::getenv("TAV_SIM1394")) {
            std::ifstream in(file, std::ios::binary);
            std::string text, error;
            if (in)
                text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            if (!in && !in.eof()) {
                std::fprintf(stderr, "sim1394: cannot read the camera description \"%s\": %s; no camera from it\n",
                             file, std::strerror(errno));
            } else if (!ParseDescription(text, cameras, error)) {
                std::fprintf(stderr, "sim1394: %s: %s; no camera from it\n", file, error.c_str());
                cameras.clear();
            }
        } else {
            cameras = DefaultCameras();
        }
        for (const CameraDescription& d : cameras)
            Simulator::Instance().AddCamera(d);
        if (const char* control = std::getenv("TAV_SIM1394_CONTROL"); control && *control)
            FollowControlFile(control);
    });
}

} // namespace Tav::Sim1394
