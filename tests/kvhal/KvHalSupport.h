#pragma once

// A device controller with a HAL plug-in, sinks that record what reaches its
// ports, and waits on what they record.

#include "support/TestModules.h"

#include "Core/DeviceController.h"
#include "Core/DeviceDescriptor.h"
#include "Core/HalPlugin.h"
#include "Core/ModuleLinker.h"
#include "Core/RegisterRequest.h"
#include "DataBuffer/ImageChunk.h"
#include "DataBuffer/Packet.h"
#include "DataBuffer/ValueChunk.h"
#include "ObjectFactory.h"
#include "Platform/DynamicLibrary.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace TavTest {

// Selects a HAL plug-in while it lives.
struct PlugInChoice {
    explicit PlugInChoice(const char* name) { Tav::halPluginName = name; }
    ~PlugInChoice() { Tav::halPluginName = nullptr; }
};

// What the controller sent: images (header and counter, not the packets,
// so that buffers go back at once), markers, states and errors.
struct Recording {
    struct Frame {
        Tav::CImageChunk header;
        uint32_t counter;
        bool hasCounter;
        std::vector<uint8_t> firstLine;
    };

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Frame> frames;
    std::vector<uint32_t> markers;
    std::vector<int> states;
    std::vector<uint32_t> errors;
    // Called with each image packet, under `mutex`.
    std::function<void(const Tav::CSmartPointer<Tav::IPacket>&)> onImage;

    template <class Predicate>
    bool WaitFor(Predicate predicate, int milliseconds = 10000)
    {
        std::unique_lock<std::mutex> guard(mutex);
        return changed.wait_for(guard, std::chrono::milliseconds(milliseconds), [&] { return predicate(*this); });
    }
    size_t FrameCount()
    {
        std::lock_guard<std::mutex> guard(mutex);
        return frames.size();
    }
};

// Reads the image, counter and marker chunks of one packet.
void Record(Recording& recording, int port, const Tav::CSmartPointer<Tav::IPacket>& packet);

// The controller of a factory, with recording sinks on ports 0, 1 and 2.
class ControllerRig {
public:
    explicit ControllerRig(const char* plugIn);
    ~ControllerRig();

    Tav::CDeviceController& Controller() { return *controller; }
    Recording recording;

    // Waits until the controller reports `state`.
    bool WaitForState(int state, int milliseconds = 10000);
    // One-byte write to a control register.
    void Control(uint64_t address, uint8_t value);
    uint32_t ReadU32(int port, uint64_t address);
    void WriteU32(int port, uint64_t address, uint32_t value);
    std::string ReadText(int port, uint64_t address);

private:
    PlugInChoice choice;
    Tav::CObjectFactory factory;
    Tav::CModuleLinker linker;
    Tav::CDeviceController* controller = nullptr;
};

// The code of the CException `action` throws; 0 if none.
uint32_t ErrorCode(const std::function<void()>& action);

// Calls a plug-in's "EnumDevices" and collects the descriptors.
std::vector<Tav::CDeviceDescriptor> EnumerateWith(const char* plugIn);

} // namespace TavTest
