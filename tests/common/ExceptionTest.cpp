#include "Common/Exception.h"

#include <gtest/gtest.h>

#include <cstdio>

using namespace Tav;

namespace {
struct MissingCatalogName {
    static const char* GetName() { return "TavNoSuchCatalog.dll"; }
};
}

TEST(Exception, DerivationLooksUpAndFormatsItsCatalogText)
{
    CCommonException e(0xCEF00001, 84, "StaticErrorView.cpp", "free text 42");
    EXPECT_EQ(e.GetCode(), 0xCEF00001u);
    EXPECT_EQ(e.GetLine(), 84);
    EXPECT_EQ(e.GetFile(), "StaticErrorView.cpp");
    EXPECT_EQ(e.GetDescription(), "free text 42");

    CException copy(e);
    EXPECT_EQ(copy.GetCode(), e.GetCode());
    EXPECT_EQ(copy.GetLine(), e.GetLine());
    EXPECT_EQ(copy.GetFile(), e.GetFile());
    EXPECT_EQ(copy.GetDescription(), e.GetDescription());
}

TEST(Exception, MissingCatalogNamesTheFile)
{
    CExceptionDerivation<MissingCatalogName> e(0xCEF00000, 1, "x.cpp", 7);
    EXPECT_EQ(e.GetDescription(), "<message resource file TavNoSuchCatalog.dll could not be loaded>");
    EXPECT_EQ(e.GetCode(), 0xCEF00000u);
}

TEST(Exception, CodeAbsentFromCatalogHasEmptyDescription)
{
    CCommonException e(0xCEF0FFFF, 3, "x.cpp");
    EXPECT_EQ(e.GetDescription(), "");
}

TEST(Exception, SystemErrorUsesTheSystemTextOrTheFallbackFormat)
{
    CException known(126, 322, "TavDeviceController.cpp");
    EXPECT_EQ(known.GetDescription(), "The specified module could not be found.\n");

    const uint32_t unknown = 0x2345678;
    CException e(unknown, 1, "x.cpp");
    char expected[128];
    std::snprintf(expected, sizeof expected, "<system error message for error %0x08x could not be found>", unknown);
    EXPECT_EQ(e.GetDescription(), expected);
    EXPECT_EQ(e.GetDescription(), "<system error message for error 234567808x could not be found>");
}

TEST(Exception, LoadMessageWithoutFileIsEmpty)
{
    EXPECT_EQ(LoadMessage(nullptr, 0xCEF00001, "x"), "");
    EXPECT_EQ(LoadMessage("", 0xCEF00001, "x"), "");
}

TEST(Exception, FormatStringSizesExactly)
{
    std::string big(5000, 'a');
    EXPECT_EQ(FormatString("%s-%d", big.c_str(), 12), big + "-12");
    EXPECT_EQ(FormatString("%s", ""), "");
}
