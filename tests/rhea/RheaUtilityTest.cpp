#include "Rhea.h"
#include "RheaUtility.h"
#include "SimFixture.h"

#include <gtest/gtest.h>

using namespace Rhea;

TEST(RheaUtility, BytePerPacketShiftsTheFullRateValue)
{
    EXPECT_EQ(RheaUtility::BytePerPacket(0, 0, 4), 240u);
    EXPECT_EQ(RheaUtility::BytePerPacket(0, 5, 4), 1280u);
    EXPECT_EQ(RheaUtility::BytePerPacket(1, 0, 1), 500u);
    EXPECT_EQ(RheaUtility::BytePerPacket(1, 1, 2), 1500u);
    EXPECT_EQ(RheaUtility::BytePerPacket(2, 4, 0), 1500u);
    EXPECT_EQ(RheaUtility::BytePerPacket(0, 4, 4), 3840u);
}

TEST(RheaUtility, BytePerPacketRefusesRatesTheModeCannotRun)
{
    struct Case {
        uint32_t format, mode, rate;
    } refused[] = {
        {1, 1, 1}, {1, 1, 7}, {1, 0, 0}, {1, 6, 0}, {1, 2, 1}, // rate restrictions of format 1
        {0, 0, 1},                                             // 30 bytes: below 40
        {0, 5, 7},                                             // 10240 bytes: above 4000
        {2, 4, 5},                                             // 48000 bytes
        {0, 0, 8},                                             // no such rate index
    };
    for (const Case& c : refused) {
        const std::string context = EXPECT_RHEA_ERROR(RheaUtility::BytePerPacket(c.format, c.mode, c.rate), 0xCFF00006);
        EXPECT_EQ(context, "RheaUtility::BytePerPacket()") << c.format << "/" << c.mode << "/" << c.rate;
    }
    EXPECT_RHEA_ERROR(RheaUtility::BytePerPacket(0, 7, 4), 0xCFF00007);
    EXPECT_RHEA_ERROR(RheaUtility::BytePerPacket(3, 0, 4), 0xCFF00007);
    EXPECT_RHEA_ERROR(RheaUtility::BytePerPacket(7, 0, 0), 0xCFF00007);
}

TEST(RheaUtility, BitsPerPixelOfEveryCoding)
{
    const uint32_t expected[] = {8, 12, 16, 24, 24, 16, 48, 16, 48, 8, 16};
    for (uint32_t c = 0; c < 11; ++c)
        EXPECT_EQ(RheaUtility::BitsPerPixel(c), expected[c]) << c;
    EXPECT_EQ(RheaUtility::BitsPerPixel(128), 0u);
    EXPECT_EQ(RheaUtility::BitsPerPixel(240), 0u);
    EXPECT_EQ(RheaUtility::BitsPerPixel(255), 0u);
    for (uint32_t c : {11u, 127u, 256u})
        EXPECT_EQ(EXPECT_RHEA_ERROR(RheaUtility::BitsPerPixel(c), 0xCFF00008), "RheaUtility::BitsPerPixel");
}

TEST(RheaException, DriverCodesLoseBit29AndKeepTheirContext)
{
    RheaException driver(0xEFE00021u, "CRhea::GetCompletion()");
    EXPECT_EQ(driver.GetCode(), 0xCFE00021u);
    EXPECT_EQ(driver.GetContext(), "CRhea::GetCompletion()");
    EXPECT_EQ(RheaException(0xEFF00021u, "x").GetCode(), 0xEFF00021u);
    EXPECT_EQ(RheaException(87, "x").GetCode(), 87u);
    // A Win32 code without a catalog entry still gets the system's text.
    EXPECT_NE(RheaException(87, "x").GetMessage().find("parameter"), std::string::npos);
    EXPECT_FALSE(RheaException(0xCFF00004, "x").GetMessage().empty());
}

TEST(RheaNames, PathsAndNames)
{
    const std::string suffix = "#{D535C794-A527-4b72-923A-63029FA5D83B}";
    EXPECT_EQ(CRhea::NameToPath("Quarlo&QX#00C0DE"), R"(\\?\1394#Quarlo&QX#00C0DE)" + suffix);
    EXPECT_EQ(CRhea::NameToPath("cam"), R"(\\?\1394#cam)" + suffix);
    const std::string full = R"(\\?\1394#a#b#{D535C794-A527-4B72-923A-63029FA5D83B})";
    EXPECT_TRUE(CRhea::IsFullPath(full));
    EXPECT_EQ(CRhea::NameToPath(full), full);
    EXPECT_EQ(CRhea::PathToName(full), "a#b");
    EXPECT_EQ(CRhea::PathToName("x#y#z"), "y#z");
    EXPECT_EQ(CRhea::PathToName("a#b"), "a#b"); // one '#' is not a path
    EXPECT_FALSE(CRhea::IsFullPath("a#b"));
    EXPECT_TRUE(CRhea::IsFullPath("a##"));
    EXPECT_EQ(CRhea::PathToName(CRhea::NameToPath("a#b")), "a#b");
}
