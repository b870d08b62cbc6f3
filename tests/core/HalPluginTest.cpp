#include "Common/Exception.h"
#include "Core/HalPlugin.h"

#include <gtest/gtest.h>

using namespace Tav;

namespace {

void CountDevice(const CDeviceDescriptor*, void* context)
{
    ++*static_cast<int*>(context);
}

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
    int devices = 0;
    plugin.GetEnumDevices()(&CountDevice, &devices);
    EXPECT_EQ(devices, 2);
    int sink = 0;
    EXPECT_EQ(plugin.GetOpenDevice()(nullptr, &sink), &sink);
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
