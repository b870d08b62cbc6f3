// The control lines another process uses to act on the simulated cameras.
#include "SimFixture.h"

#include <cstdio>
#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>

using namespace Tav::Sim1394;

namespace {

const char* const twoCameras = "[camera]\nmodel = A\nchip_id = 1\n[camera]\nmodel = B\nchip_id = 2\n";

std::vector<std::string> Models()
{
    std::vector<std::string> models;
    for (int id : Simulator::Instance().Cameras())
        models.push_back(Simulator::Instance().DeviceName(id));
    return models;
}

} // namespace

TEST(SimControl, RemovalsAndFailuresAddressCamerasByTheirPosition)
{
    RheaTest::LoadCameras(twoCameras);
    const std::vector<std::string> before = Models();
    ASSERT_EQ(before.size(), 2u);

    EXPECT_EQ(RunControlCommand("fail-buffers 2"), "");
    EXPECT_EQ(RunControlCommand("remove 1"), "");
    EXPECT_EQ(Models(), std::vector<std::string>{before[1]});
    // The remaining camera is now the first.
    EXPECT_EQ(RunControlCommand("surprise-remove 1"), "");
    EXPECT_TRUE(Simulator::Instance().Cameras().empty());
}

TEST(SimControl, BadLinesSayWhyAndChangeNothing)
{
    RheaTest::LoadCameras(twoCameras);
    for (const char* line : {"remove 3", "remove 0", "remove -1", "remove x", "remove 1x", "remove", "remove 1 2",
                             "unplug 1", ""}) {
        EXPECT_NE(RunControlCommand(line), "") << line;
    }
    EXPECT_EQ(Simulator::Instance().Cameras().size(), 2u);
    EXPECT_NE(RunControlCommand("unplug 1").find("unknown command"), std::string::npos);
    EXPECT_NE(RunControlCommand("remove 3").find("no camera at position"), std::string::npos);
}

TEST(SimControl, TheEnvironmentsControlFileIsFollowedAsItGrows)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const std::string file = testing::TempDir() + "/sim1394-control.txt";
    std::remove(file.c_str());
    const std::string log = file + ".log";
    EXPECT_EXIT(
        {
            // The answers go to stderr: kept in a file to wait for them.
            if (!std::freopen(log.c_str(), "w", stderr))
                std::exit(3);
            setenv("TAV_SIM1394_CONTROL", file.c_str(), 1);
            unsetenv("TAV_SIM1394");
            Install();
            if (Simulator::Instance().Cameras().size() != 3)
                std::exit(2);
            // Written in two parts: the line counts once it is complete.
            std::ofstream(file, std::ios::app) << "remove 3\nremo" << std::flush;
            std::ofstream(file, std::ios::app) << "ve 9\n" << std::flush;
            const std::string expected = "sim1394: ok 1 remove 3\n"
                                         "sim1394: failed 2 remove 9: no camera at position \"9\"\n";
            std::string answers;
            // Another thread's file output has no event to wait on: polled.
            for (int i = 0; i < 500 && answers != expected; ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
                std::ifstream in(log);
                answers.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            }
            std::exit(answers == expected && Simulator::Instance().Cameras().size() == 2 ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
    std::remove(log.c_str());
    std::remove(file.c_str());
}
