#include "Common/Exception.h"
#include "Core/DeviceDescriptor.h"
#include "Core/HalPlugin.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using namespace Tav;

namespace {

void ListDevice(const CDeviceDescriptor* descriptor, void* context)
{
    static_cast<std::vector<std::string>*>(context)->push_back(descriptor->GetName());
}

struct StateSink : CDeviceController::IChunkBufferSink {
    void OnChunkBuffer(IMemBlock*) override {}
    void OnStateChanged(int state) override { states.push_back(state); }
    void OnError(CException&) override {}
    std::vector<int> states;
};

void ExpectLoadFailure(const char* file, uint32_t code, int line)
{
    CHalPlugin plugin;
    try {
        plugin.Load(file);
        FAIL() << file << " loaded";
    } catch (const CException& e) {
        EXPECT_EQ(e.GetCode(), code) << file;
        EXPECT_EQ(e.GetLine(), line) << file;
        EXPECT_EQ(e.GetFile(), "TavDeviceController.cpp");
        EXPECT_FALSE(e.GetDescription().empty());
    }
    EXPECT_FALSE(plugin.IsLoaded());
    EXPECT_EQ(plugin.GetOpenDevice(), nullptr);
}

} // namespace

TEST(HalPlugin, LoadsAPluginNextToTheProgramAndResolvesBothEntries)
{
    CHalPlugin plugin;
    plugin.Load("TestHalGood.dll");
    ASSERT_TRUE(plugin.IsLoaded());
    std::vector<std::string> devices;
    plugin.GetEnumDevices()(&ListDevice, &devices);
    EXPECT_EQ(devices, (std::vector<std::string>{"plugin-0", "plugin-1"}));

    StateSink sink;
    CDeviceDescriptor descriptor("plugin-1", "Second plug-in camera");
    {
        std::unique_ptr<CDeviceController::IDevice> device(plugin.GetOpenDevice()(&descriptor, &sink));
        ASSERT_TRUE(device);
        device->Close();
    }
    EXPECT_EQ(sink.states, (std::vector<int>{1, 0}));
    plugin.Unload();
    EXPECT_FALSE(plugin.IsLoaded());
    plugin.Unload();
}

TEST(HalPlugin, FailuresCarryTheSystemErrorAsHresultAndTheirLine)
{
    ExpectLoadFailure("NoSuchHal.dll", 0x8007007Eu, 322);
    ExpectLoadFailure("TestHalNoEnum.dll", 0x8007007Fu, 329);
    ExpectLoadFailure("TestHalNoOpen.dll", 0x8007007Fu, 336);
}
