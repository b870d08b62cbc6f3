#pragma once

// The launcher's graph on the simulated 1394 camera, without Java:
// controller -> dropped-frames checker -> decoupler -> recorder "Sink" (also
// the device states), a recorder "Frames" right behind the checker (every
// frame, which the decoupler need not pass on), every error port into a
// recorder "Errors", and a stand-in for the configurator that sends
// register requests over the links as the GUI does.

#include "Launcher.h"

#include "Core/DeviceController.h"
#include "Core/DroppedFramesChecker.h"
#include "Core/IConfigurationHost.h"
#include "Core/ModuleBase.h"
#include "DataBuffer/Packet.h"
#include "Platform/MessageBox.h"
#include "Sim1394/Sim1394.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace TavTest {

// Counts what arrives on any input port: images (with the last one's size),
// device states, error codes.
class Recorder : public Tav::CModuleBase {
public:
    void OnInitialize() override;
    void OnData(int inputPort, const Tav::CSmartPointer<Tav::IPacket>& packet) override;

    // Waits until `predicate` holds (checked at every arrival), `milliseconds` at most.
    template <typename P>
    bool WaitFor(P predicate, int milliseconds = 10000)
    {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::milliseconds(milliseconds), predicate);
    }
    // Wakes WaitFor for conditions that do not depend on arrivals.
    void Poke() { changed.notify_all(); }

    uint64_t Images();
    uint64_t Markers();
    std::vector<int> States();
    uint32_t LastWidth();
    uint32_t LastHeight();
    // Error codes and how often each arrived.
    std::map<uint32_t, uint64_t> Errors();
    uint64_t ErrorCount(uint32_t code);
    // A description of every error ("code file:line text"), for messages.
    std::string ErrorLog();

    // Read inside WaitFor predicates (the lock is held there).
    uint64_t images = 0;
    uint64_t markers = 0;
    std::vector<int> states;
    std::map<uint32_t, uint64_t> errors;

private:
    std::mutex mutex;
    std::condition_variable changed;
    uint32_t lastWidth = 0, lastHeight = 0;
    std::string errorLog;
};

// Takes the configurator's place: its output ports and Attach/Detach.
class HostStandIn : public Tav::CModuleBase, public Tav::IConfigurationHost {
public:
    void OnInitialize() override;
    void OnData(int, const Tav::CSmartPointer<Tav::IPacket>&) override {}
    void Attach(const std::string& configFile) override;
    void Detach() override;

    // Sends a register write on `port`, as the GUI's register calls do.
    void Write(int port, uint64_t address, const void* data, uint32_t length);

    std::atomic<int> attached{0};
    std::atomic<int> detached{0};
};

// A Quarlo Mono8 camera with header, frame counter and check word.
Tav::Sim1394::CameraDescription SoakCamera(uint64_t chipId, double frameRate);

struct LauncherRig {
    // Installs the simulated driver with `camera` as its only camera and
    // builds the graph through a CLauncher.
    explicit LauncherRig(const Tav::Sim1394::CameraDescription& camera);
    ~LauncherRig();

    // Through CLauncher::Connect; false when it failed (shown).
    bool Connect();
    // Through CLauncher::Disconnect; returns how long it took.
    std::chrono::milliseconds Disconnect();

    void Control(uint64_t address, uint8_t value);
    void DriverRegister(uint32_t index, uint32_t value);
    // Waits for `state` among the states reported since the last call.
    bool WaitForState(int state, int milliseconds = 10000);
    // Waits until `count` more frames than now have passed the checker.
    bool WaitForImages(uint64_t count, int milliseconds = 10000);

    // Removes the camera (query remove) and adds it again under a new id.
    bool RemoveCamera();
    void AddCameraAgain();

    std::string directory;
    std::string graphFile;
    Tav::Sim1394::CameraDescription camera;
    int cameraId = -1;
    std::unique_ptr<Tav::CLauncher> launcher;
    HostStandIn* host = nullptr;
    Recorder* frames = nullptr;
    Recorder* sink = nullptr;
    Recorder* errors = nullptr;
    Tav::CDeviceController* controller = nullptr;
    Tav::CDroppedFramesChecker* checker = nullptr;
    size_t seenStates = 0;
    // Message boxes shown meanwhile: recorded, not shown.
    std::vector<std::string> Boxes();

private:
    static Tav::Platform::MessageBoxAnswer RecordBox(const Tav::Platform::MessageBoxRequest& request, void* context);

    std::mutex boxMutex;
    std::vector<std::string> boxes;
    Tav::Platform::MessageBoxHost previousHost = nullptr;
    void* previousContext = nullptr;
};

// Threads of this process now.
int ThreadCount();

} // namespace TavTest
