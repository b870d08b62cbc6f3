#include "Platform/DynamicLibrary.h"
#include "Platform/MessageCatalog.h"
#include "Platform/ProcessInfo.h"
#include "Platform/SystemError.h"
#include "Platform/SystemMessage.h"

#include "support/TestPaths.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace Tav::Platform;

TEST(DynamicLibrary, DllNamesMapToSharedObjectsNextToTheExecutable)
{
    auto candidates = LibraryCandidates("KvHal.dll");
    ASSERT_EQ(candidates.size(), 4u);
    EXPECT_EQ(candidates[0], ExecutableDirectory() + "/KvHal.so");
    EXPECT_EQ(candidates[1], ExecutableDirectory() + "/libKvHal.so");
    // Then the installed plug-in directory.
    EXPECT_EQ(candidates[2], GetLibraryDirectories()[1] + "/KvHal.so");

    auto withDir = LibraryCandidates("/opt/x/Plug.DLL");
    ASSERT_EQ(withDir.size(), 2u);
    EXPECT_EQ(withDir[0], "/opt/x/Plug.so");
}

TEST(ProcessInfo, DataAndLibraryDirectoriesAreTheExecutablesThenTheInstalledOnes)
{
    const std::string exe = ExecutableDirectory();
    const std::string prefix = exe.substr(0, exe.rfind('/'));
    EXPECT_EQ(GetDataDirectories(), (std::vector<std::string>{exe, prefix + "/share/tav"}));
    EXPECT_EQ(GetLibraryDirectories(), (std::vector<std::string>{exe, prefix + "/lib/tav"}));
    // The tests run from the build's bin folder, which holds the catalogs.
    EXPECT_EQ(FindDataFile("TavCommonError.msg"), exe + "/TavCommonError.msg");
    EXPECT_EQ(FindDataFile("NoSuchFile.txt"), "");
    EXPECT_EQ(FindDataFile(""), "");
    // Directories are not data files.
    EXPECT_EQ(FindDataFile("."), "");
}

TEST(DynamicLibrary, MissingLibraryIsModuleNotFound)
{
    EXPECT_EQ(LoadLibrary("NoSuchPlugin.dll"), nullptr);
    EXPECT_EQ(GetLastError(), ErrorModNotFound);
}

TEST(DynamicLibrary, FileThatIsNoLibraryIsBadFormat)
{
    std::string dir = TavTest::MakeTempDirectory();
    TavTest::WriteFile(dir + "/Broken.so", "not an ELF file");
    EXPECT_EQ(LoadLibrary((dir + "/Broken.dll").c_str()), nullptr);
    EXPECT_EQ(GetLastError(), ErrorBadExeFormat);
    EXPECT_FALSE(LastLibraryErrorText().empty());
}

TEST(DynamicLibrary, SystemLibraryLoadsAndMissingSymbolIsProcNotFound)
{
    LibraryHandle libm = LoadLibrary("libm.so.6");
    ASSERT_NE(libm, nullptr);
    EXPECT_NE(GetProcAddress(libm, "cos"), nullptr);
    EXPECT_EQ(GetProcAddress(libm, "NoSuchFunction"), nullptr);
    EXPECT_EQ(GetLastError(), ErrorProcNotFound);
    EXPECT_TRUE(FreeLibrary(libm));
}

TEST(SystemError, HresultFromWin32)
{
    EXPECT_EQ(HresultFromWin32(126), 0x8007007Eu);
    EXPECT_EQ(HresultFromWin32(0x12345), 0x80072345u);
    EXPECT_EQ(HresultFromWin32(0), 0u);
    EXPECT_EQ(HresultFromWin32(0x80004005u), 0x80004005u);
}

TEST(SystemMessage, KnowsErrorsAndTheirHresultForms)
{
    std::string text;
    ASSERT_TRUE(FindSystemMessage(126, text));
    EXPECT_EQ(text, "The specified module could not be found.\n");
    ASSERT_TRUE(FindSystemMessage(0x8007007Fu, text));
    EXPECT_EQ(text, "The specified procedure could not be found.\n");
    EXPECT_FALSE(FindSystemMessage(0x12345678u, text));
}

TEST(MessageCatalog, ParsesCodesEscapesAndSkipsMalformedLines)
{
    auto catalog = MessageCatalog::Parse("# comment\n"
                                         "0xCEF00001 %s\r\n"
                                         "0xCEF00002 Line one\\nline two\\tend \\\\ x\n"
                                         "\n"
                                         "CEF00003 no prefix\n"
                                         "0xZZ bad\n"
                                         "0xCEF00004\n");
    ASSERT_NE(catalog, nullptr);
    EXPECT_EQ(catalog->Size(), 3u);
    EXPECT_EQ(catalog->MalformedLines(), 2);
    ASSERT_NE(catalog->Find(0xCEF00001), nullptr);
    EXPECT_EQ(*catalog->Find(0xCEF00001), "%s");
    EXPECT_EQ(*catalog->Find(0xCEF00002), "Line one\nline two\tend \\ x");
    EXPECT_EQ(*catalog->Find(0xCEF00004), "");
    EXPECT_EQ(catalog->Find(0xCEF00003), nullptr);
}

TEST(MessageCatalog, ResourceNamesMapToCatalogFiles)
{
    auto paths = MessageCatalog::CandidatePaths("TavCommonError.dll");
    ASSERT_FALSE(paths.empty());
    EXPECT_EQ(paths.front(), ExecutableDirectory() + "/TavCommonError.msg");
    EXPECT_NE(std::find(paths.begin(), paths.end(), GetDataDirectories()[1] + "/messages/TavCommonError.msg"),
              paths.end());
    EXPECT_EQ(paths.back(), "TavCommonError.msg");
    EXPECT_EQ(MessageCatalog::Load("NoSuchCatalog.dll"), nullptr);
}
