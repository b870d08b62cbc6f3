#pragma once

// A camera for exercising the device controller the way the camera layer
// drives it: every state report and every frame comes from the device's own
// thread, in the order the operations and the test queued them.

#include "Core/DeviceController.h"
#include "Core/DeviceDescriptor.h"
#include "DataBuffer/IMemBlock.h"
#include "DataBuffer/SmartPointer.h"
#include "support/TestModules.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace TavTest {

class TestDevice : public Tav::CDeviceController::IDevice {
public:
    using IChunkBufferSink = Tav::CDeviceController::IChunkBufferSink;

    explicit TestDevice(bool hasCheckWord = false);
    // Runs what is still queued, then ends the thread.
    ~TestDevice() override;

    // Each records its name in Calls() and queues the state report.
    void Open(const Tav::CDeviceDescriptor& descriptor, IChunkBufferSink* sink) override;
    void Close() override;
    void StartContinuousGrab() override;
    void StopContinuousGrab() override;
    void InitSingleShot() override;
    void CancelSingleShot() override;
    bool HasCheckWord() override { return hasCheckWord; }
    // 1024, 1025, 1026: registers[0..2].
    Tav::IRegisterSet* GetRegisterSet(int id) override;

    // From the device's thread: a frame, any state, an error.
    void Deliver(const Tav::CSmartPointer<Tav::IMemBlock>& block);
    void Report(int state);
    void RaiseError(uint32_t code);

    // While held, the thread runs nothing; queued work waits for Resume.
    void Hold();
    void Resume();
    // Returns when everything queued so far, and what that queued in turn,
    // has run.
    void WaitIdle();
    // Waits (10 s at most) until Calls() holds `call`.
    bool WaitForCall(const std::string& call);
    // Operations and reports in order: "Open camera-1", "StartContinuousGrab",
    // "reported 2", "delivered", ...
    std::vector<std::string> Calls();

    // The next control operation of this name ("Close", ...) throws a
    // common error instead of reporting its state.
    void FailNext(const std::string& operation);
    // The next operation of this name succeeds but never reports its state.
    void MuteNext(const std::string& operation);

    TestRegisters registers[3];

    // For CDeviceController::SetBuiltInDevice: creates a TestDevice (with a
    // check word when nextHasCheckWord is set), opens it and remembers it
    // in `last`.
    static Tav::CDeviceController::IDevice* OpenTestDevice(const Tav::CDeviceDescriptor* descriptor,
                                                           IChunkBufferSink* sink);
    static inline TestDevice* last = nullptr;
    static inline bool nextHasCheckWord = false;
    // The next device opened is held from the start: its open report waits
    // for Resume.
    static inline bool nextHeld = false;

private:
    void Record(const std::string& call);
    void Operation(const char* name, int reportedState);
    void Post(std::function<void()> task);
    void Run();

    const bool hasCheckWord;
    IChunkBufferSink* sink = nullptr;
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::function<void()>> tasks;
    std::vector<std::string> calls;
    std::string failOperation;
    std::string muteOperation;
    bool busy = false;
    bool held = false;
    bool ending = false;
    std::thread thread;
};

enum class CheckWord { None, Good, Bad };

// A memory block holding one Mono8 image chunk of width x height pixels
// (pixel i holds seed + i), followed by a check word when asked for.
Tav::CSmartPointer<Tav::IMemBlock> MakeMono8Frame(int width, int height, CheckWord checkWord, uint8_t seed = 0);

} // namespace TavTest
