// The readers of the probe file and of screen dumps the end-to-end tests
// rely on: a misread would pass or fail them for the wrong reason.
#include "LauncherSession.h"

#include <gtest/gtest.h>

using namespace TavE2e;

namespace {

void Put32(std::string& data, size_t offset, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        data[offset + size_t(i)] = char(value >> (24 - 8 * i));
}

// A 32-bit ZPixmap dump with no colours, least significant byte first.
std::string Dump(uint32_t width, uint32_t height, const std::vector<uint32_t>& pixels)
{
    std::string data(104, '\0');
    Put32(data, 0, 104);
    Put32(data, 4, 7);
    Put32(data, 8, 2);
    Put32(data, 16, width);
    Put32(data, 20, height);
    Put32(data, 44, 32);
    Put32(data, 48, width * 4);
    for (uint32_t p : pixels)
        for (int i = 0; i < 4; ++i)
            data += char(p >> (8 * i));
    return data;
}

} // namespace

TEST(ProbeParse, ItemsKeepTheirWindowGeometryStateAndText)
{
    const Probe probe = Probe::Parse("window mainFrame QMainWindow 0 10 300 200 1 Launcher main\n"
                                     "action - 6 10 29 19 1 &File\n"
                                     "widget deviceList QComboBox 3 22 183 17 0 0 QX-640M (100001)\n"
                                     "widget status QLabel 1 2 3 4 1 1 a\\nb \\\\ c\n"
                                     "garbage line\n"
                                     "widget short QLabel 1 2\n"
                                     "window - QMenu 6 29 120 44 1 \n"
                                     "action actionExit 6 29 120 22 0 E&xit\n");
    ASSERT_EQ(probe.items.size(), 6u);
    const ProbeItem* frame = probe.Window("mainFrame");
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->text, "Launcher main");
    EXPECT_TRUE(frame->active);
    EXPECT_EQ(frame->CenterX(), 150);
    EXPECT_EQ(frame->CenterY(), 110);

    const ProbeItem* list = probe.Widget("mainFrame", "deviceList");
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->className, "QComboBox");
    EXPECT_FALSE(list->enabled);
    EXPECT_EQ(list->text, "QX-640M (100001)");
    const ProbeItem* status = probe.Widget("mainFrame", "status");
    ASSERT_NE(status, nullptr);
    EXPECT_TRUE(status->checked);
    EXPECT_EQ(status->text, "a\nb \\ c");
    EXPECT_EQ(probe.Widget("mainFrame", "short"), nullptr);

    ASSERT_NE(probe.ByText("mainFrame", "action", "&F"), nullptr);
    EXPECT_EQ(probe.ByText("mainFrame", "action", "E&xit"), nullptr); // another window's
    const ProbeItem* menu = probe.OpenMenu();
    ASSERT_NE(menu, nullptr);
    const ProbeItem* exit = probe.ByText(menu->name, "action", "E&xit");
    ASSERT_NE(exit, nullptr);
    EXPECT_FALSE(exit->enabled);
    EXPECT_EQ(Probe::Parse("").items.size(), 0u);
}

TEST(ScreenshotParse, PixelsAreReadAndCountedWithinTheScreen)
{
    std::string error;
    const auto shot = Screenshot::ParseXwd(Dump(3, 2, {1, 2, 3, 0x00FF0000, 1, 1}), error);
    ASSERT_TRUE(shot.has_value()) << error;
    EXPECT_EQ(shot->width, 3);
    EXPECT_EQ(shot->height, 2);
    EXPECT_EQ(shot->pixels[3], 0x00FF0000u);
    EXPECT_EQ(shot->DistinctValues(0, 0, 3, 2), 4u);
    EXPECT_EQ(shot->DistinctValues(1, 1, 2, 1), 1u);
    EXPECT_EQ(shot->DistinctValues(-5, -5, 100, 100), 4u);
    EXPECT_EQ(shot->DistinctValues(10, 10, 5, 5), 0u);
}

TEST(ScreenshotParse, BrokenDumpsAreRefusedWithAReason)
{
    std::string error;
    EXPECT_FALSE(Screenshot::ParseXwd("short", error).has_value());
    EXPECT_FALSE(error.empty());

    std::string truncated = Dump(3, 2, {1, 2, 3, 4, 5, 6});
    truncated.resize(truncated.size() - 1);
    EXPECT_FALSE(Screenshot::ParseXwd(truncated, error).has_value());
    EXPECT_NE(error.find("sizes"), std::string::npos);

    std::string version = Dump(1, 1, {1});
    Put32(version, 4, 6);
    EXPECT_FALSE(Screenshot::ParseXwd(version, error).has_value());

    std::string depth = Dump(1, 1, {1});
    Put32(depth, 44, 12);
    EXPECT_FALSE(Screenshot::ParseXwd(depth, error).has_value());
    EXPECT_NE(error.find("bits per pixel"), std::string::npos);

    // A header whose colour count points past the end.
    std::string colours = Dump(1, 1, {1});
    Put32(colours, 76, 0x10000000);
    EXPECT_FALSE(Screenshot::ParseXwd(colours, error).has_value());
}
